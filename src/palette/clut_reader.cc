#include "palette/clut_reader.h"

#include <algorithm>
#include <cstring>

#include "format/byte_order.h"
#include "format/png_signature.h"

namespace palfill {
namespace {

// Entries are read this many at a time.
constexpr uint32_t entries_per_read = 256;

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

// The range field is one byte of two nibbles, two bytes or two 16-bit values.
bool read_range(byte_source& clut, int depth_code, index_range& range) {
  uint8_t bytes[4];
  const std::size_t size = depth_code == 0 ? 1 : depth_code == 1 ? 2 : 4;
  if (!read_exactly(clut, bytes, size)) return false;
  if (depth_code == 0) {
    range = index_range{uint32_t{bytes[0]} >> 4, uint32_t{bytes[0]} & 0x0F};
  } else if (depth_code == 1) {
    range = index_range{bytes[0], bytes[1]};
  } else {
    range = index_range{get_be16(bytes), get_be16(bytes + 2)};
  }
  return true;
}

index_range default_range(int depth_code) {
  constexpr uint32_t last_index[] = {15, 255, 65535};
  return index_range{0, last_index[depth_code]};
}

uint8_t clamp_channel(int32_t value) {
  return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// Only whole entries are stored: all four bytes arrive before any is used.
struct entry_store {
  rgba_entry* entries;
  std::size_t count;
};

bool read_entries(byte_source& clut, bool rgb_entries, index_range range, entry_store store) {
  uint8_t batch[4 * entries_per_read];
  for (uint32_t index = range.start; index <= range.end;) {
    const std::size_t want = 4 * std::size_t{std::min(range.end - index + 1, entries_per_read)};
    const std::size_t got = read_some(clut, batch, want);
    for (std::size_t at = 0; at + 4 <= got; at += 4, ++index) {
      if (index >= store.count) continue;
      const uint8_t* entry = batch + at;
      const rgb_colour colour = rgb_entries ? rgb_colour{entry[0], entry[1], entry[2]}
                                            : ycbcr_to_rgb(entry[0], entry[1], entry[2]);
      store.entries[index] = rgba_entry{colour.red, colour.green, colour.blue, entry[3]};
    }
    if (got < want) return false;
  }
  return true;
}

// The first bytes, read ahead to look for the PNG signature, handed out
// again before the rest of the file.
struct looked_ahead {
  uint8_t bytes[sizeof png_signature];
  std::size_t size;
  std::size_t pos;
  byte_source& rest;
  bool rest_ended;  // a short look-ahead read: the file is not read again
};

std::size_t read_looked_ahead(void* context, uint8_t* dest, std::size_t count, bool*) {
  auto* source = static_cast<looked_ahead*>(context);
  const std::size_t first = std::min(count, source->size - source->pos);
  if (first != 0) std::memcpy(dest, source->bytes + source->pos, first);
  source->pos += first;
  if (first == count || source->rest_ended) return first;
  return first + read_some(source->rest, dest + first, count - first);
}

// Reads one byte at a time while the bytes match the PNG signature, so
// that a CLUT is read past its end only while it could still be a PNG.
void look_for_signature(looked_ahead& ahead) {
  while (ahead.size < sizeof png_signature) {
    uint8_t& byte = ahead.bytes[ahead.size];
    if (!read_exactly(ahead.rest, &byte, 1)) {
      ahead.rest_ended = true;
      return;
    }
    if (byte != png_signature[ahead.size++]) return;
  }
}

clut_result load_entries(byte_source& clut, entry_store store) {
  uint8_t byte;
  if (!read_exactly(clut, &byte, 1)) return clut_result::unexpected_eof;
  const clut_header header = split_header(byte);
  if (header.depth_code == invalid_clut_depth_code) return clut_result::unknown_depth;
  uint8_t region[8];  // describes where the colours apply; it does not change them
  if (header.region_flag && !read_exactly(clut, region, sizeof region)) {
    return clut_result::unexpected_eof;
  }
  index_range range = default_range(header.depth_code);
  if (header.range_flag && !read_range(clut, header.depth_code, range)) {
    return clut_result::unexpected_eof;
  }
  return read_entries(clut, header.rgb_entries, range, store) ? clut_result::loaded
                                                              : clut_result::unexpected_eof;
}

}  // namespace

rgb_colour ycbcr_to_rgb(uint8_t y, uint8_t cb, uint8_t cr) {
  const int32_t luma = 76309 * int32_t{y};
  return rgb_colour{
      clamp_channel((luma + 104597 * int32_t{cr} - 14576592) / 65536),
      clamp_channel((luma - 25675 * int32_t{cb} - 53279 * int32_t{cr} + 8917936) / 65536),
      clamp_channel((luma + 132201 * int32_t{cb} - 18109904) / 65536)};
}

clut_result load_clut(byte_source& clut, rgba_entry* entries, std::size_t entry_count) {
  looked_ahead ahead{{}, 0, 0, clut, false};
  look_for_signature(ahead);
  if (ahead.size == sizeof png_signature &&
      std::memcmp(ahead.bytes, png_signature, sizeof png_signature) == 0) {
    return clut_result::not_a_clut;
  }
  byte_source source{read_looked_ahead, &ahead, false, 0, false};
  const clut_result result = load_entries(source, entry_store{entries, entry_count});
  // A file that could not be read is not one that ended early, nor a
  // whole one, whatever its bytes made of it.
  if (clut.failed) return clut_result::read_failed;
  return result;
}

}  // namespace palfill
