// Writes the sample images and CLUT files shipped in examples/:
//   make_samples DIR
// sample.png        8-bit indexed, 16 x 8 bands of indexes 0-127, no PLTE
// sample-4bit.png   4-bit indexed, all 16 indexes, no PLTE
// rgb.clt           16 R,G,B entries (a grey ramp, entry 0 transparent)
// ycbcr.clt         indexes 0-127 as Y,Cb,Cr entries sweeping the colour plane
// capture/          a broadcast capture in small: two BML documents, each
//                   naming its CLUT, one image shown by both, one by
//                   neither, as palfill-tree pairs them
#include <cstdio>
#include <filesystem>
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
  const std::string capture = dir + "/capture/40";
  std::error_code made;
  for (const char* folder : {"/0000", "/0001", "/img"}) {
    std::filesystem::create_directories(capture + folder, made);
  }
  const std::string document_start =
      "<?xml version=\"1.0\" encoding=\"EUC-JP\" ?>\n"
      "<!DOCTYPE bml PUBLIC \"+//ARIB STD-B24:1999//DTD BML Document//JA\" \"bml_1_0.dtd\">\n"
      "<bml>\n<head>\n";
  const bool capture_ok =
      write_file(capture + "/0000/startup.bml",
                 document_start +
                     "<style><![CDATA[ body { clut: url(menu.clt); } ]]></style>\n</head>\n"
                     "<body>\n<object type=\"image/X-arib-png\" data=\"logo.png\"/>\n"
                     "<object type=\"image/X-arib-png\" data=\"/40/img/button.png\"/>\n"
                     "</body>\n</bml>\n") &&
      write_file(capture + "/0000/menu.clt", ycbcr_sweep_clut()) &&
      write_file(capture + "/0000/logo.png",
                 indexed_png(
                     128, 64, 8, [](uint32_t x, uint32_t y) { return y / 8 * 16 + x / 8; }, 2)) &&
      write_file(capture + "/0001/news.bml",
                 document_start +
                     "</head>\n<body style=\"clut: url(grey.clt)\">\n"
                     "<object data=\"../img/button.png\" type=\"image/X-arib-png\"/>\n"
                     "</body>\n</bml>\n") &&
      write_file(capture + "/0001/grey.clt", rgb_ramp_clut()) &&
      write_file(capture + "/0001/photo.png",
                 indexed_png(32, 16, 4, [](uint32_t x, uint32_t y) { return (x + y) / 3 % 16; })) &&
      write_file(capture + "/img/button.png",
                 indexed_png(64, 8, 4, [](uint32_t x, uint32_t) { return x / 4; }));
  if (!ok || !capture_ok) std::printf("Error : Can't write samples in %s\n", dir.c_str());
  return ok && capture_ok ? 0 : 1;
}
