// Writes the sample images and CLUT files shipped in examples/:
//   make_samples DIR
// sample.png        8-bit indexed, 16 x 8 bands of indexes 0-127, no PLTE
// sample-4bit.png   4-bit indexed, all 16 indexes, no PLTE
// rgb.clt           16 R,G,B entries (a grey ramp, entry 0 transparent)
// ycbcr.clt         indexes 0-127 as Y,Cb,Cr entries sweeping the colour plane
#include <cstdio>
#include <string>

#include "png_builder.h"

namespace {

std::string rgb_ramp_clut() {
  std::string entries;
  for (int i = 0; i < 16; ++i) {
    const char level = static_cast<char>(i * 17);
    entries += std::string{level, level, level, static_cast<char>(i == 0 ? 0 : 255)};
  }
  return clut_bytes(0x80, "", entries);  // R,G,B; 4-bit indexes; default range 0-15
}

std::string ycbcr_sweep_clut() {
  std::string entries;
  for (int i = 0; i < 128; ++i) {
    const int y = 40 + (i / 16) * 25;  // one luma per row of 16
    const int cb = 16 + (i % 4) * 74;
    const int cr = 16 + ((i / 4) % 4) * 74;
    entries += std::string{static_cast<char>(y), static_cast<char>(cb), static_cast<char>(cr),
                           static_cast<char>(255)};
  }
  // Y,Cb,Cr; 8-bit indexes; range 0-127 given explicitly.
  return clut_bytes(0x28, std::string{0, 127}, entries);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("Usage : %s DIR\n", argv[0]);
    return 1;
  }
  const std::string dir = argv[1];
  const bool ok =
      write_file(dir + "/sample.png",
                 indexed_png(
                     128, 64, 8, [](uint32_t x, uint32_t y) { return y / 8 * 16 + x / 8; }, 2)) &&
      write_file(dir + "/sample-4bit.png",
                 indexed_png(64, 8, 4, [](uint32_t x, uint32_t) { return x / 4; })) &&
      write_file(dir + "/rgb.clt", rgb_ramp_clut()) &&
      write_file(dir + "/ycbcr.clt", ycbcr_sweep_clut());
  if (!ok) std::printf("Error : Can't write samples in %s\n", dir.c_str());
  return ok ? 0 : 1;
}
