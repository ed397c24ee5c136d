// Damaged inputs: valid PNGs and CLUTs with bytes flipped, inserted,
// deleted, cut off and length fields made huge. Whatever the bytes, palfill
// prints one of its own lines, exits 0 or 1, writes nothing on standard
// error, and a success keeps every input byte up to IEND.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "format/byte_order.h"
#include "png/chunk_pass.h"
#include "png_builder.h"
#include "support.h"

using namespace palfill;

namespace {

const std::set<std::string> error_lines = {"Error : Unexpected EOF\n", "Error : Not a PNG format\n",
                                           "Error : Unknown depth (3)\n",
                                           "Error : Chunk too large to buffer\n"};

// Header, data and CRC of the chunk whose length field starts at `at`.
std::size_t chunk_size(const std::string& png, std::size_t at) {
  return 12 + std::size_t{get_be32(reinterpret_cast<const uint8_t*>(png.data() + at))};
}

// Offsets of the chunks' length fields, walking by those fields as palfill does.
std::vector<std::size_t> chunk_starts(const std::string& png) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 8; at + 8 <= png.size();) {
    starts.push_back(at);
    if (png.compare(at + 4, 4, "IEND") == 0) break;
    at += chunk_size(png, at);
  }
  return starts;
}

// The input up to and including its first IEND chunk; empty when it has none.
std::string through_first_iend(const std::string& png) {
  const std::vector<std::size_t> starts = chunk_starts(png);
  if (starts.empty() || png.compare(starts.back() + 4, 4, "IEND") != 0) return "";
  const std::size_t end = starts.back() + chunk_size(png, starts.back());
  return end <= png.size() ? png.substr(0, end) : "";
}

// True when `output` is `expected` with at most a PLTE (and tRNS) chunk
// standing right before one of its IDAT chunks.
bool is_expected_plus_palette(const std::string& output, const std::string& expected) {
  if (output == expected) return true;
  for (std::size_t at : chunk_starts(expected)) {
    if (expected.compare(at + 4, 4, "IDAT") != 0 || output.compare(0, at, expected, 0, at) != 0)
      continue;
    std::string rest = output.substr(at);
    for (const char* type : {"PLTE", "tRNS"}) {
      if (rest.size() >= 8 && rest.compare(4, 4, type) == 0) {
        rest.erase(0, chunk_size(rest, 0));
      }
    }
    return expected.compare(at, std::string::npos, rest) == 0;
  }
  return false;
}

std::string mutate(std::string bytes, std::mt19937& random, bool is_png) {
  const int edits = 1 + int(random() % 3);
  for (int e = 0; e < edits && !bytes.empty(); ++e) {
    const std::size_t pos = random() % bytes.size();
    switch (random() % 5) {
      case 0:
        bytes[pos] = char(bytes[pos] ^ (1 << (random() % 8)));
        break;
      case 1:
        bytes.insert(pos, 1, char(random()));
        break;
      case 2:
        bytes.erase(pos, 1);
        break;
      case 3:
        bytes.resize(pos);
        break;
      default: {
        const uint32_t huge[] = {0xFFFFFFFF, 0xFFFFFFFD, 0x80000000, 0x7FFFFFFF,
                                 0x10000000u | uint32_t(random())};
        const std::vector<std::size_t> starts =
            is_png ? chunk_starts(bytes) : std::vector<std::size_t>{1};
        const std::size_t at = starts.empty() ? pos : starts[random() % starts.size()];
        if (at + 4 <= bytes.size()) bytes.replace(at, 4, be32_bytes(huge[random() % 5]));
      }
    }
  }
  return bytes;
}

class property_test : public temp_dir_test {};

TEST_F(property_test, damaged_inputs_never_break_the_contract) {
  const auto pattern = [](uint32_t x, uint32_t y) { return x * 7 + y; };
  const std::vector<std::string> pngs = {
      indexed_png(9, 3, 1, pattern, 3), indexed_png(5, 4, 4, pattern, 2),
      indexed_png(6, 6, 8, pattern, 3),
      png_signature_bytes() + png_chunk("IHDR", ihdr_data(2, 2, 8, 2)) + png_chunk("tEXt", "a b") +
          png_chunk("IDAT", zlib_stored(std::string(14, '\x40'))) + png_chunk("IEND", "")};
  const std::string entries(256 * 4, '\x9C');
  const std::vector<std::string> cluts = {
      clut_bytes(0x80, "", entries.substr(0, 64)),
      clut_bytes(0x98, std::string(8, '\2') + "\x4A", entries.substr(0, 28)),
      clut_bytes(0xA8, "\x03\x09", entries.substr(0, 28)),
      clut_bytes(0xC8, be16_bytes(4) + be16_bytes(6), entries.substr(0, 12)),
      clut_bytes(0x20, "", entries)};
  std::mt19937 random(20261208);
  const std::string in = path("in.png"), clut = path("in.clt"), out = path("out.png");
  int successes = 0;
  for (int run = 0; run < 300; ++run) {
    const bool damage_png = run % 3 != 0, with_clut = !damage_png || run % 2 == 0;
    const std::string png = pngs[random() % pngs.size()];
    const std::string input = damage_png ? mutate(png, random, true) : png;
    const std::string table = cluts[random() % cluts.size()];
    ASSERT_TRUE(write_file(in, input));
    ASSERT_TRUE(write_file(clut, damage_png ? table : mutate(table, random, false)));
    std::filesystem::remove(out);
    const run_result result = with_clut ? run_palfill({in, clut, out}) : run_palfill({in, out});

    SCOPED_TRACE("run " + std::to_string(run));
    EXPECT_EQ(result.err, "");
    if (result.status == 0) {
      ++successes;
      EXPECT_EQ(result.out, "Finished " + in + " -> " + out + "\n");
      const std::string expected = through_first_iend(input);
      EXPECT_FALSE(expected.empty());
      EXPECT_TRUE(is_expected_plus_palette(read_file(out), expected));
    } else {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(error_lines.count(result.out), 1u) << result.out;
    }
  }
  // Damage that is never survived, or always, would test little.
  EXPECT_GT(successes, 30);
  EXPECT_LT(successes, 270);
}

}  // namespace
