#include "palette/clut_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "full_palette.h"
#include "png_builder.h"
#include "reference.h"
#include "support.h"

using namespace palfill;

namespace {

std::string entry(int a, int b, int c, int alpha) {
  return std::string{char(a), char(b), char(c), char(alpha)};
}

// Entries whose bytes spell their own position, so a shift shows.
std::string numbered_entries(int count) {
  std::string entries;
  for (int i = 0; i < count; ++i) entries += entry(i & 0xFF, i >> 8, 0x5A, 0x80 | (i & 0x7F));
  return entries;
}

rgba_entry numbered(int i) {
  return rgba_entry{uint8_t(i & 0xFF), uint8_t(i >> 8), 0x5A, uint8_t(0x80 | (i & 0x7F))};
}

struct load_case {
  const char* name;
  std::string clut;
  std::vector<std::pair<int, rgba_entry>> expected;  // indexes the file must set
  std::vector<int> untouched;                        // indexes that keep their seeded value
};

std::vector<load_case> load_cases() {
  const std::string region = be16_bytes(1) + be16_bytes(2) + be16_bytes(300) + be16_bytes(400);
  const std::string trailing(9, '\x77');
  return {
      {"rgb_default_range_4bit",
       clut_bytes(0x80, "", numbered_entries(16)),
       {{0, numbered(0)}, {9, numbered(9)}, {15, numbered(15)}},
       {16, 127}},
      {"reserved_bits_ignored",
       clut_bytes(0x87, "", numbered_entries(16)),
       {{0, numbered(0)}, {15, numbered(15)}},
       {16}},
      {"range_nibbles",
       clut_bytes(0x88, "\x8F", numbered_entries(8) + trailing),
       {{8, numbered(0)}, {15, numbered(7)}},
       {7, 16}},
      {"region_skipped_before_range",
       clut_bytes(0x98, region + "\x23", numbered_entries(2)),
       {{2, numbered(0)}, {3, numbered(1)}},
       {1, 4}},
      {"range_bytes_8bit",
       clut_bytes(0xA8, "\xFA\xFF", numbered_entries(6)),
       {{250, numbered(0)}, {255, numbered(5)}},
       {249, 256}},
      {"range_16bit_ends_at_65535",
       clut_bytes(0xC8, be16_bytes(65534) + be16_bytes(65535), numbered_entries(2) + trailing),
       {{65534, numbered(0)}, {65535, numbered(1)}},
       {65533}},
      {"end_below_start_stores_nothing",
       clut_bytes(0xA8, std::string("\xC8\x64", 2), ""),
       {},
       {0, 100, 200}},
      {"default_range_16bit_then_ignores_the_rest",
       clut_bytes(0xC0, "", numbered_entries(65536) + trailing),
       {{0, numbered(0)}, {300, numbered(300)}, {65535, numbered(65535)}},
       {}},
      {"ycbcr_converted_alpha_kept",
       clut_bytes(0x28, std::string("\x00\x01", 2), entry(16, 128, 128, 7) + entry(0, 0, 0, 200)),
       {{0, {0, 0, 0, 7}}, {1, {0, 136, 0, 200}}},
       {2}},
  };
}

class clut_test : public temp_dir_test {};

TEST_F(clut_test, stores_exactly_the_range_the_header_announces) {
  for (const load_case& c : load_cases()) {
    SCOPED_TRACE(c.name);
    palette_table table;
    seed_palette_table(table);
    palette_table seeded = table;
    ASSERT_EQ(load_clut_bytes(c.clut, table), clut_result::loaded);
    for (const auto& [index, colour] : c.expected) {
      const rgba_entry& got = table[index];
      EXPECT_TRUE(got.red == colour.red && got.green == colour.green && got.blue == colour.blue &&
                  got.alpha == colour.alpha)
          << "entry " << index;
    }
    for (int index : c.untouched) {
      EXPECT_EQ(std::memcmp(&table[index], &seeded[index], sizeof(rgba_entry)), 0) << index;
    }
  }
}

// Read in batches, the file must still fail exactly where the plain
// field-by-field reading does, and leave the same table behind.
TEST(load_clut, agrees_with_the_reference_at_every_cut) {
  std::vector<std::string> cluts;
  for (const load_case& c : load_cases()) cluts.push_back(c.clut);
  cluts.push_back(clut_bytes(0xE0, "", numbered_entries(2)));
  cluts.push_back(clut_bytes(0xA0, "", numbered_entries(300)));  // crosses a batch
  cluts.push_back(png_signature_bytes() + numbered_entries(2));  // a PNG past its 8th byte
  cluts.push_back(std::string("\x89\x50", 2));        // stores nothing, begins as a PNG does
  cluts.push_back(clut_bytes(0x88, "\x11", "abcd"));  // one entry: 6 bytes
  // Alone, and followed by an image in the same stream: the reader asks for
  // no byte past the last entry but those that could still make it a PNG.
  for (const std::string& after : {std::string(), png_signature_bytes() + "IHDR"}) {
    for (const std::string& clut : cluts) {
      const std::size_t step = clut.size() > 2000 ? 997 : 1;
      for (std::size_t cut = 0; cut <= clut.size(); cut += step) {
        palette_table got, want;
        seed_palette_table(got);
        seed_palette_table(want);
        const std::string bytes = clut.substr(0, cut) + after;
        memory_input input{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0};
        byte_source source = memory_source(input, false);
        std::size_t asked = 0;
        const clut_result result = load_clut(source, got);
        ASSERT_EQ(result, reference_load_clut(bytes, want, &asked)) << cut;
        ASSERT_EQ(std::memcmp(got.data(), want.data(), sizeof got), 0) << cut;
        // A CLUT that ends early was read to its end in any case.
        if (result != clut_result::unexpected_eof) {
          ASSERT_EQ(input.pos, asked) << cut;
        }
      }
    }
  }
}

// Every CLUT failure happens before either PNG file is opened, so the
// output is never created.
TEST_F(clut_test, a_bad_clut_ends_the_run_before_the_output_exists) {
  const std::string eof = "Error : Unexpected EOF\n";
  const struct {
    const char* name;
    std::string clut;
    std::string message;
  } cases[] = {
      {"empty", "", eof},
      {"depth3_alone", "\x60", "Error : Unknown depth (3)\n"},
      {"depth3_rgb_with_bytes", clut_bytes(0xE0, "", numbered_entries(4)),
       "Error : Unknown depth (3)\n"},
      {"cut_in_region", clut_bytes(0x90, "\0\0\0", ""), eof},
      {"missing_range_byte", clut_bytes(0x88, "", ""), eof},
      {"cut_in_8bit_range", clut_bytes(0xA8, "\x01", ""), eof},
      {"cut_in_16bit_range", clut_bytes(0xC8, std::string("\0\1\0", 3), ""), eof},
      {"cut_inside_an_entry", clut_bytes(0x80, "", numbered_entries(15) + "abc"), eof},
      {"255_of_256_entries", clut_bytes(0xA0, "", numbered_entries(255)), eof},
      {"a_png", png_signature_bytes(), "Error : Not a CLUT file " + path("in.clt") + "\n"},
  };
  ASSERT_TRUE(write_file(path("in.png"),
                         indexed_png(4, 4, 4, [](uint32_t x, uint32_t y) { return x + 4 * y; })));
  for (const auto& c : cases) {
    ASSERT_TRUE(write_file(path("in.clt"), c.clut));
    const run_result run = run_palfill({path("in.png"), path("in.clt"), path("out.png")});
    EXPECT_EQ(run.out, c.message) << c.name;
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.err, "") << c.name;
    EXPECT_FALSE(std::filesystem::exists(path("out.png"))) << c.name;
  }
}

TEST_F(clut_test, its_entries_become_the_inserted_palette) {
  const std::string png = indexed_png(4, 4, 4, [](uint32_t x, uint32_t y) { return x + 4 * y; });
  ASSERT_TRUE(write_file(path("in.png"), png));
  ASSERT_TRUE(write_file(path("in.clt"), clut_bytes(0x80, "", numbered_entries(16))));
  ASSERT_EQ(run_palfill({path("in.png"), path("in.clt"), path("out.png")}).status, 0);
  std::string plte, trns;
  for (int i = 0; i < 16; ++i) {
    plte += std::string{char(i), 0, 0x5A};
    trns += char(0x80 | i);
  }
  const std::size_t first_idat = png.find("IDAT") - 4;
  EXPECT_EQ(read_file(path("out.png")), png.substr(0, first_idat) + png_chunk("PLTE", plte) +
                                            png_chunk("tRNS", trns) + png.substr(first_idat));
}

TEST(ycbcr_to_rgb, gives_the_reference_values) {
  const struct {
    int y, cb, cr;
    rgb_colour rgb;
  } cases[] = {
      {16, 128, 128, {0, 0, 0}},        {235, 128, 128, {255, 255, 255}},
      {255, 128, 128, {255, 255, 255}}, {0, 0, 0, {0, 136, 0}},
      {81, 90, 240, {254, 0, 0}},       {145, 54, 34, {0, 255, 1}},  // studio-range red, green
      {41, 240, 110, {0, 0, 255}},                                   // and blue
  };
  for (const auto& c : cases) {
    const rgb_colour got = ycbcr_to_rgb(uint8_t(c.y), uint8_t(c.cb), uint8_t(c.cr));
    EXPECT_EQ(got.red, c.rgb.red) << c.y << "," << c.cb << "," << c.cr;
    EXPECT_EQ(got.green, c.rgb.green) << c.y << "," << c.cb << "," << c.cr;
    EXPECT_EQ(got.blue, c.rgb.blue) << c.y << "," << c.cb << "," << c.cr;
  }
}

// On the grey axis the studio range 16-235 spans 0-255 evenly.
TEST(ycbcr_to_rgb, maps_the_grey_axis_onto_the_full_range) {
  int previous = 0;
  for (int y = 16; y <= 235; ++y) {
    const rgb_colour got = ycbcr_to_rgb(uint8_t(y), 128, 128);
    EXPECT_TRUE(got.red == got.green && got.green == got.blue) << y;
    EXPECT_GE(got.red, previous) << y;
    EXPECT_LE(std::abs(got.red - std::lround(255.0 * (y - 16) / 219)), 1) << y;
    previous = got.red;
  }
}

// Red ignores Cb and blue ignores Cr; each channel rises with its own
// colour difference and stays within 0-255 (the clamp, not a wrap).
TEST(ycbcr_to_rgb, each_channel_follows_its_own_inputs) {
  for (int y = 0; y < 256; y += 15) {
    for (int c = 0; c < 255; c += 3) {
      const uint8_t y8 = uint8_t(y), c8 = uint8_t(c), next = uint8_t(c + 3);
      EXPECT_EQ(ycbcr_to_rgb(y8, 0, c8).red, ycbcr_to_rgb(y8, 255, c8).red);
      EXPECT_EQ(ycbcr_to_rgb(y8, c8, 0).blue, ycbcr_to_rgb(y8, c8, 255).blue);
      EXPECT_LE(ycbcr_to_rgb(y8, 128, c8).red, ycbcr_to_rgb(y8, 128, next).red);
      EXPECT_LE(ycbcr_to_rgb(y8, c8, 128).blue, ycbcr_to_rgb(y8, next, 128).blue);
      EXPECT_GE(ycbcr_to_rgb(y8, c8, 128).green, ycbcr_to_rgb(y8, next, 128).green);
    }
  }
  EXPECT_EQ(ycbcr_to_rgb(255, 255, 255).red, 255);
  EXPECT_EQ(ycbcr_to_rgb(0, 255, 255).green, 0);
}

}  // namespace
