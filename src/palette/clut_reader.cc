#include "palette/clut_reader.h"

#include "driver/files.h"
#include "driver/messages.h"

namespace {

constexpr int invalid_depth_code = 3;

struct clut_header {
  bool rgb_entries;  // colour model 1; otherwise Y, Cb, Cr
  int depth_code;
  bool region_flag;
  bool range_flag;
};

// 32-bit so that a range ending at 65535 cannot wrap the loop index.
struct index_range {
  uint32_t start;
  uint32_t end;
};

clut_header split_header(uint8_t byte) {
  return clut_header{(byte & 0x80) != 0, (byte >> 5) & 3, (byte & 0x10) != 0, (byte & 0x08) != 0};
}

uint8_t read_byte_or_die(std::FILE* clut) {
  const int c = std::getc(clut);
  if (c == EOF) die_unexpected_eof();
  return static_cast<uint8_t>(c);
}

index_range read_range(std::FILE* clut, int depth_code) {
  if (depth_code == 0) {
    const uint8_t both = read_byte_or_die(clut);
    return index_range{uint32_t{both} >> 4, uint32_t{both} & 0x0F};
  }
  if (depth_code == 1) {
    const uint8_t start = read_byte_or_die(clut);
    return index_range{start, read_byte_or_die(clut)};
  }
  const uint16_t start = get_be16(clut);
  return index_range{start, get_be16(clut)};
}

index_range default_range(int depth_code) {
  constexpr uint32_t last_index[] = {15, 255, 65535};
  return index_range{0, last_index[depth_code]};
}

uint8_t clamp_channel(int32_t value) {
  return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// All four bytes of an entry arrive before any of it is stored.
void read_entries(std::FILE* clut, bool rgb_entries, index_range range, palette_table& table) {
  for (uint32_t index = range.start; index <= range.end; ++index) {
    uint8_t entry[4];
    if (std::fread(entry, 1, sizeof entry, clut) < sizeof entry) die_unexpected_eof();
    const rgb_colour colour = rgb_entries ? rgb_colour{entry[0], entry[1], entry[2]}
                                          : ycbcr_to_rgb(entry[0], entry[1], entry[2]);
    table[index] = rgba_entry{colour.red, colour.green, colour.blue, entry[3]};
  }
}

}  // namespace

uint16_t get_be16(std::FILE* clut) {
  const uint8_t high = read_byte_or_die(clut);
  return static_cast<uint16_t>(high << 8 | read_byte_or_die(clut));
}

rgb_colour ycbcr_to_rgb(uint8_t y, uint8_t cb, uint8_t cr) {
  const int32_t luma = 76309 * int32_t{y};
  return rgb_colour{
      clamp_channel((luma + 104597 * int32_t{cr} - 14576592) / 65536),
      clamp_channel((luma - 25675 * int32_t{cb} - 53279 * int32_t{cr} + 8917936) / 65536),
      clamp_channel((luma + 132201 * int32_t{cb} - 18109904) / 65536)};
}

bool load_clut(const char* path, palette_table& table) {
  std::FILE* clut = open_for_reading(path);
  if (clut == nullptr) {
    print_cant_open(path);
    return false;
  }
  const clut_header header = split_header(read_byte_or_die(clut));
  if (header.depth_code == invalid_depth_code) {
    print_unknown_depth(header.depth_code);
    std::fclose(clut);
    return false;
  }
  if (header.region_flag) {
    for (int i = 0; i < 4; ++i) get_be16(clut);  // the region does not affect colours
  }
  const index_range range =
      header.range_flag ? read_range(clut, header.depth_code) : default_range(header.depth_code);
  read_entries(clut, header.rgb_entries, range, table);  // an end below the start stores nothing
  std::fclose(clut);
  return true;
}
