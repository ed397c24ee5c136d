// Writes the seed corpora for fuzz/run:
//   make_fuzz_seeds PNG_DIR CLUT_DIR
// PNGs of every colour type at every bit depth PNG allows (and a few it
// does not), with one or several IDATs and with a PLTE of their own; CLUTs
// of each depth code, R,G,B and Y,Cb,Cr, with and without region and range.
#include <cstdio>
#include <string>

#include "png_builder.h"

namespace {

constexpr int colour_types[] = {0, 2, 3, 4, 6};
constexpr int samples_per_pixel[] = {1, 0, 3, 1, 2, 0, 4};

std::string png_seed(int colour_type, int depth, int idat_count, bool own_palette) {
  const uint32_t width = 5, height = 3;
  const uint32_t bits = depth * samples_per_pixel[colour_type];
  const std::string stream =
      zlib_stored(raw_rows(width, height, bits, [](uint32_t x, uint32_t y) { return x + y; }));
  std::string png =
      png_signature_bytes() +
      png_chunk("IHDR", ihdr_data(width, height, uint8_t(depth), uint8_t(colour_type)));
  if (own_palette) png += png_chunk("PLTE", std::string(12, '\x40'));
  return png + idat_chunks(stream, idat_count) +
         png_chunk("tEXt", std::string("Comment\0seed", 12)) + png_chunk("IEND", "");
}

std::string entries(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i)
    bytes += std::string{char(i), char(i * 3), char(255 - i), char(i * 5)};
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("Usage : %s PNG_DIR CLUT_DIR\n", argv[0]);
    return 1;
  }
  const std::string png_dir = argv[1], clut_dir = argv[2];
  bool ok = true;
  for (int colour_type : colour_types) {
    for (int depth = 1; depth <= 16; depth *= 2) {
      const std::string name =
          png_dir + "/type" + std::to_string(colour_type) + "-depth" + std::to_string(depth);
      ok = ok && write_file(name + ".png", png_seed(colour_type, depth, 1, false)) &&
           write_file(name + "-3idat.png", png_seed(colour_type, depth, 3, false));
    }
  }
  ok = ok && write_file(png_dir + "/type3-depth8-plte.png", png_seed(3, 8, 2, true)) &&
       write_file(png_dir + "/type3-depth5.png", png_seed(3, 5, 1, false));

  const std::string region = be16_bytes(0) + be16_bytes(0) + be16_bytes(720) + be16_bytes(480);
  const struct {
    const char* name;
    std::string bytes;
  } cluts[] = {
      {"rgb-4bit", clut_bytes(0x80, "", entries(16))},
      {"rgb-4bit-range", clut_bytes(0x88, "\x3A", entries(8))},
      {"rgb-4bit-region-range", clut_bytes(0x98, region + "\x05", entries(6))},
      {"rgb-8bit", clut_bytes(0xA0, "", entries(256))},
      {"ycbcr-8bit-range", clut_bytes(0x28, "\x10\x1F", entries(16))},
      {"ycbcr-8bit-region", clut_bytes(0x30, region, entries(256))},
      {"rgb-16bit-range", clut_bytes(0xC8, be16_bytes(65530) + be16_bytes(65535), entries(6))},
      {"ycbcr-16bit-region-range",
       clut_bytes(0x58, region + be16_bytes(1) + be16_bytes(3), entries(3))},
      {"depth3", clut_bytes(0xE0, "", entries(1))},
  };
  for (const auto& clut : cluts)
    ok = ok && write_file(clut_dir + "/" + clut.name + ".clt", clut.bytes);
  if (!ok) std::printf("Error : Can't write seeds\n");
  return ok ? 0 : 1;
}
