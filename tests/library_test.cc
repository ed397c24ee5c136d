// libpalfill's C interface: palfill_convert() against the references at
// every cut, with every kind of CLUT; many threads at once; the version
// and the result texts.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "palfill.h"
#include "png_builder.h"
#include "reference.h"

namespace {

std::vector<std::string> test_pngs() {
  return {indexed_png(
              7, 5, 2, [](uint32_t x, uint32_t y) { return x ^ y; }, 3),
          indexed_png(9, 4, 8, [](uint32_t x, uint32_t y) { return 40 * x + y; })};
}

// Null for the default colours, then a good CLUT, one cut short, one of
// depth code 3, an empty one and an image in the CLUT's place.
std::vector<const std::string*> test_cluts(const std::vector<std::string>& kept) {
  std::vector<const std::string*> cluts{nullptr};
  for (const std::string& clut : kept) cluts.push_back(&clut);
  return cluts;
}

const std::vector<std::string> clut_files = {
    clut_bytes(0xA8, "\x02\x05",
               "\1\2\3\4\5\6\7\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14"
               "\x15\x16\x17\x18"),
    clut_bytes(0xA8, "\x02\x05", "\1\2\3\4\5\6"),
    std::string("\x60", 1),
    std::string(),
    png_signature_bytes() + "rest",
};

TEST(palfill_convert, agrees_with_the_references_at_every_cut_with_every_clut) {
  for (const std::string& png : test_pngs()) {
    for (const std::string* clut : test_cluts(clut_files)) {
      for (std::size_t cut = 0; cut <= png.size(); ++cut) {
        const std::string input = png.substr(0, cut);
        const library_output want = reference_library_convert(input, clut);
        const library_output got = library_convert(input, clut);
        ASSERT_EQ(got.result, want.result) << "cut " << cut;
        ASSERT_TRUE(got.bytes == want.bytes) << "cut " << cut;
      }
    }
  }
}

// No call shares anything with another: many threads converting at once
// give what one thread gives.
TEST(palfill_convert, is_safe_on_many_threads_at_once) {
  const std::vector<std::string> pngs = test_pngs();
  const std::vector<const std::string*> cluts = test_cluts(clut_files);
  std::vector<library_output> want;
  for (const std::string& png : pngs) {
    for (const std::string* clut : cluts) want.push_back(library_convert(png, clut));
  }
  std::vector<int> mismatches(8, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < mismatches.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 300; ++round) {
        const std::size_t i = (t + round) % want.size();
        const library_output got = library_convert(pngs[i / cluts.size()], cluts[i % cluts.size()]);
        mismatches[t] += got.result != want[i].result || got.bytes != want[i].bytes;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : mismatches) EXPECT_EQ(count, 0);
}

TEST(palfill_api, says_its_version_and_a_distinct_text_for_every_result) {
  const std::string version = std::to_string(PALFILL_VERSION_MAJOR) + "." +
                              std::to_string(PALFILL_VERSION_MINOR) + "." +
                              std::to_string(PALFILL_VERSION_PATCH);
  EXPECT_EQ(palfill_version(), version);
  std::set<std::string> texts;
  for (int result = PALFILL_FINISHED; result <= PALFILL_WRITE_FAILED; ++result) {
    texts.insert(palfill_result_text(palfill_result(result)));
  }
  texts.insert(palfill_result_text(palfill_result(99)));
  EXPECT_EQ(texts.size(), 9u);
}

}  // namespace
