/* A C program that defines, as any program might, every name that
 * palfill's core used before it kept its names to itself, and links
 * libpalfill.a. It must link and convert. */
#include <palfill.h>
#include <string.h>

const unsigned char fixed_default_colours[4] = {1, 2, 3, 4};
int palette_table_entries = 65536;
#define DEFINE(name, value) \
  int name(void) {          \
    return value;           \
  }
DEFINE(seed_palette, 1)
DEFINE(seed_palette_table, 1)
DEFINE(seed_image_palette, 1)
DEFINE(load_clut, 1)
DEFINE(convert_png, 1)
DEFINE(emit_palette_chunks, 1)
DEFINE(chunk_crc, 1)
DEFINE(crc32, 1)
DEFINE(get_be16, 1)
DEFINE(get_be32, 1)
DEFINE(put_be32, 1)
DEFINE(ycbcr_to_rgb, 1)
DEFINE(read_exactly, 1)
DEFINE(read_some, 1)
DEFINE(memory_source, 1)
DEFINE(memory_output_sink, 1)
DEFINE(counting_sink, 1)
DEFINE(png_signature, 1)

int main(void) {
  /* A palette-less image, 1 x 1 at 1 bit (its IDAT empty, its CRCs not checked). */
  static const unsigned char png[] = {
      137, 80,  78,  71, 13, 10, 26, 10, 0, 0, 0, 13,  'I', 'H', 'D', 'R',  0,    0,    0,
      1,   0,   0,   0,  1,  1,  3,  0,  0, 0, 0, 0,   0,   0,   0,   0,    0,    0,    'I',
      'D', 'A', 'T', 0,  0,  0,  0,  0,  0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  unsigned char* out;
  size_t out_size;
  const int mine = fixed_default_colours[3] + seed_palette() + seed_palette_table() +
                   seed_image_palette() + load_clut() + convert_png() + emit_palette_chunks() +
                   chunk_crc() + crc32() + get_be16() + get_be32() + put_be32() + ycbcr_to_rgb() +
                   read_exactly() + read_some() + memory_source() + memory_output_sink() +
                   counting_sink() + png_signature() + (palette_table_entries == 65536);
  const palfill_result result = palfill_convert(png, sizeof png, NULL, 0, &out, &out_size);
  const int converted = result == PALFILL_FINISHED && out_size == sizeof png + 18 &&
                        memcmp(out + 33 + 4, "PLTE", 4) == 0;
  palfill_free(out);
  return mine == 4 + 18 + 1 && converted ? 0 : 1;
}
