// An independent reader: libpng decodes palfill's output, every pixel must
// come out as the RGBA its palette index holds, and pngcheck must accept
// the file.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "full_palette.h"
#include "palette/clut_reader.h"
#include "palette/palette_table.h"
#include "png_builder.h"
#include "support.h"

using namespace palfill;

namespace {

// 37 pixels: rows are not whole bytes at bit depths 1, 2 and 4, and the
// rows together use every index the bit depth can address.
constexpr uint32_t width = 37;

std::vector<uint8_t> decode_rgba(const std::string& file, uint32_t& w, uint32_t& h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) {
    ADD_FAILURE() << "libpng: " << image.message;
    return {};
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    ADD_FAILURE() << "libpng: " << image.message;
    return {};
  }
  w = image.width;
  h = image.height;
  return pixels;
}

std::string ycbcr_clut() {
  std::string entries;
  for (int i = 0; i < 256; ++i) {
    entries += std::string{char(16 + i * 219 / 255), char(i * 7), char(255 - i), char(i ^ 0x55)};
  }
  return clut_bytes(0x20, "", entries);  // Y,Cb,Cr; 8-bit indexes; 0-255
}

std::string rgb_clut() {
  std::string entries;
  for (int i = 0; i < 16; ++i)
    entries += std::string{char(i * 16), char(255 - i), char(i * 3), char(i * 17)};
  return clut_bytes(0x98, std::string(8, '\x01') + "\x2F", entries.substr(0, 14 * 4));  // 2-15
}

class decode_test : public temp_dir_test {};

TEST_F(decode_test, every_pixel_shows_the_colour_of_its_index) {
  const struct {
    const char* name;
    std::string clut;  // empty: the default colours
  } palettes[] = {{"defaults", ""}, {"rgb_clut", rgb_clut()}, {"ycbcr_clut", ycbcr_clut()}};
  for (const auto& palette : palettes) {
    palette_table table;
    seed_palette_table(table);
    std::vector<std::string> clut_arg;
    if (!palette.clut.empty()) {
      ASSERT_TRUE(write_file(path("in.clt"), palette.clut));
      ASSERT_EQ(load_clut_bytes(palette.clut, table), clut_result::loaded);
      clut_arg.push_back(path("in.clt"));
    }
    for (int depth : {1, 2, 4, 8}) {
      SCOPED_TRACE(std::string(palette.name) + " at bit depth " + std::to_string(depth));
      const uint32_t entries = 1u << depth, height = entries / width + 2;
      const auto index_at = [&](uint32_t x, uint32_t y) { return (x + y * width) % entries; };
      ASSERT_TRUE(
          write_file(path("in.png"), indexed_png(width, height, uint8_t(depth), index_at, 3)));
      std::vector<std::string> args{path("in.png")};
      args.insert(args.end(), clut_arg.begin(), clut_arg.end());
      args.push_back(path("out.png"));
      ASSERT_EQ(run_palfill(args).status, 0);

      uint32_t w = 0, h = 0;
      const std::vector<uint8_t> rgba = decode_rgba(path("out.png"), w, h);
      ASSERT_EQ(w, width);
      ASSERT_EQ(h, height);
      for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
          const rgba_entry& want = table[index_at(x, y)];
          const uint8_t* got = &rgba[(y * w + x) * 4];
          ASSERT_TRUE(got[0] == want.red && got[1] == want.green && got[2] == want.blue &&
                      got[3] == want.alpha)
              << "pixel " << x << "," << y << " index " << index_at(x, y);
        }
      }
      const std::string check = std::string(PALFILL_PNGCHECK) + " -q '" + path("out.png") + "'";
      EXPECT_EQ(std::system(check.c_str()), 0) << check;
    }
  }
}

}  // namespace
