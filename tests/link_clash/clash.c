/* A C program that defines, as any program might, every name that
 * palfill's core used before it kept its names to itself, and links
 * libpalfill.a. It must link and convert. */
#include <palfill.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

const unsigned char fixed_default_colours[4] = {1, 2, 3, 4};
int palette_table_entries = 65536;
int seed_palette(void) {
  return 1;
}
int seed_palette_table(void) {
  return 2;
}
int seed_image_palette(void) {
  return 3;
}
int load_clut(void) {
  return 4;
}
int convert_png(void) {
  return 5;
}
int emit_palette_chunks(void) {
  return 6;
}
int chunk_crc(void) {
  return 7;
}
int crc32(void) {
  return 8;
}
int get_be16(void) {
  return 9;
}
int get_be32(void) {
  return 10;
}
int put_be32(void) {
  return 11;
}
int ycbcr_to_rgb(void) {
  return 12;
}
int read_exactly(void) {
  return 13;
}
int read_some(void) {
  return 14;
}
int memory_source(void) {
  return 15;
}
int memory_output_sink(void) {
  return 16;
}
int counting_sink(void) {
  return 17;
}
int png_signature(void) {
  return 18;
}

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
  return mine == 176 && converted ? 0 : 1;
}
