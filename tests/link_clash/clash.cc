// A C++ program that defines, in the global namespace and with the same
// parameters, every function and object that palfill's core defined
// before it kept its names in namespace palfill, and links libpalfill.a.
// It must link and convert: were the names shared, the linker would take
// the program's functions for the library's, and the conversion would go
// wrong without a word.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "palfill.h"

struct rgba_entry {
  uint8_t red, green, blue, alpha;
};
struct rgb_colour {
  uint8_t red, green, blue;
};
struct byte_source {
  std::size_t (*read)(void*, uint8_t*, std::size_t);
  void* context;
  bool length_known;
  uint64_t length;
};
struct byte_sink {
  bool (*write)(void*, const uint8_t*, std::size_t);
  bool (*cut)(void*, uint64_t);
  void* context;
};
struct memory_input {
  const uint8_t* bytes;
  std::size_t size, pos;
};
struct memory_output {
  uint8_t* bytes;
  std::size_t capacity, size;
};
enum class clut_result { loaded };
enum class pass_result { finished };
using palette_table = std::array<rgba_entry, 65536>;
using image_palette = std::array<rgba_entry, 256>;

extern const std::array<rgba_entry, 128> fixed_default_colours;
const std::array<rgba_entry, 128> fixed_default_colours{};
int calls = 0;
void seed_palette(rgba_entry*, std::size_t) {
  ++calls;
}
void seed_palette_table(palette_table&) {
  ++calls;
}
void seed_image_palette(image_palette&) {
  ++calls;
}
clut_result load_clut(byte_source&, rgba_entry*, std::size_t) {
  return ++calls, clut_result::loaded;
}
pass_result convert_png(byte_source&, byte_sink&, const rgba_entry*, std::size_t) {
  return ++calls, pass_result::finished;
}
std::size_t emit_palette_chunks(const rgba_entry*, uint32_t, uint8_t*) {
  return ++calls, 0;
}
uint32_t chunk_crc(const uint8_t*, std::size_t) {
  return ++calls, 0;
}
uint32_t crc32(const uint8_t*, std::size_t) {
  return ++calls, 0;
}
uint16_t get_be16(const uint8_t*) {
  return ++calls, 0;
}
uint32_t get_be32(const uint8_t*) {
  return ++calls, 0;
}
void put_be32(uint32_t, uint8_t*) {
  ++calls;
}
rgb_colour ycbcr_to_rgb(uint8_t, uint8_t, uint8_t) {
  return ++calls, rgb_colour{};
}
bool read_exactly(byte_source&, uint8_t*, std::size_t) {
  return ++calls, true;
}
byte_source memory_source(memory_input&, bool) {
  return ++calls, byte_source{};
}
byte_sink memory_output_sink(memory_output&) {
  return ++calls, byte_sink{};
}

int main() {
  rgba_entry entry{};
  image_palette image{};
  palette_table* table = nullptr;
  byte_source source{};
  byte_sink sink{};
  memory_input input{};
  memory_output output{};
  uint8_t bytes[4] = {};
  seed_palette(&entry, 1);
  if (table != nullptr) seed_palette_table(*table);
  seed_image_palette(image);
  load_clut(source, &entry, 1);
  convert_png(source, sink, &entry, 1);
  emit_palette_chunks(&entry, 1, bytes);
  chunk_crc(bytes, 1);
  crc32(bytes, 1);
  get_be16(bytes);
  get_be32(bytes);
  put_be32(1, bytes);
  ycbcr_to_rgb(1, 2, 3);
  read_exactly(source, bytes, 1);
  memory_source(input, true);
  memory_output_sink(output);

  static const unsigned char png[] = {
      137, 80,  78,  71, 13, 10, 26, 10, 0, 0, 0, 13,  'I', 'H', 'D', 'R',  0,    0,    0,
      1,   0,   0,   0,  1,  1,  3,  0,  0, 0, 0, 0,   0,   0,   0,   0,    0,    0,    'I',
      'D', 'A', 'T', 0,  0,  0,  0,  0,  0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  unsigned char* out = nullptr;
  std::size_t out_size = 0;
  const palfill_result result = palfill_convert(png, sizeof png, nullptr, 0, &out, &out_size);
  const bool converted = result == PALFILL_FINISHED && out_size == sizeof png + 18 &&
                         std::memcmp(out + 33 + 4, "PLTE", 4) == 0;
  palfill_free(out);
  return calls == 14 && fixed_default_colours[0].alpha == 0 && converted ? 0 : 1;
}
