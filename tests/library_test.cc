// libpalfill's C interface: every way in against the references at every
// cut, with every kind of CLUT; streams whose size says what they hold; a
// cut that fails; many threads at once, one set of colours among them;
// the version and the result texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "palfill.h"
#include "png_builder.h"
#include "reference.h"

using namespace palfill;

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
    std::string("\x89\x50", 2),  // a CLUT that stores nothing and begins as a PNG does
};

TEST(palfill_convert, agrees_with_the_references_at_every_cut_with_every_clut) {
  for (const library_route route : library_routes) {
    for (const std::string& png : test_pngs()) {
      for (const std::string* clut : test_cluts(clut_files)) {
        for (std::size_t cut = 0; cut <= png.size(); ++cut) {
          const std::string input = png.substr(0, cut);
          const library_output want = reference_library_convert(input, clut, route);
          const library_output got = library_convert(input, clut, route);
          ASSERT_EQ(got.result, want.result) << "route " << int(route) << " cut " << cut;
          ASSERT_TRUE(got.bytes == want.bytes) << "route " << int(route) << " cut " << cut;
        }
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

int refuse_bytes(void*, const unsigned char*, size_t) {
  return 1;
}

int read_nothing(void*, unsigned char*, size_t, size_t* given) {
  *given = 0;
  return 0;
}

using colours_ptr = std::unique_ptr<palfill_colours, void (*)(palfill_colours*)>;

// What the command and the references never reach: a `size` that no
// release of a struct has.
TEST(palfill_streams, refuse_a_size_that_no_release_has) {
  const colours_ptr colours(palfill_colours_new(), palfill_colours_free);
  struct grown_reader {  // as a later release might define it, with one more member
    palfill_reader first;
    unsigned long long more;
  };
  struct grown_writer {
    palfill_writer first;
    unsigned long long more;
  };
  // Each size as the struct's own, less or more: `grown` adds a member,
  // `more` its value.
  const struct {
    int against_own;  // bytes added to the struct's own size; -1000: a size of 0
    bool grown;
    unsigned long long more;
    palfill_result result;
  } sizes[] = {{-1000, false, 0, PALFILL_INVALID_ARGUMENT},
               {-1, false, 0, PALFILL_INVALID_ARGUMENT},
               {0, false, 0, PALFILL_UNEXPECTED_EOF},
               {0, true, 0, PALFILL_UNEXPECTED_EOF},
               {0, true, 1, PALFILL_INVALID_ARGUMENT}};
  const auto size_of = [](const auto& c, std::size_t own, std::size_t grown) {
    return c.against_own == -1000 ? 0 : (c.grown ? grown : own) + c.against_own;
  };
  const palfill_writer writer{sizeof(palfill_writer), refuse_bytes, nullptr, nullptr};
  const palfill_reader empty{sizeof(palfill_reader), read_nothing, nullptr, 0, 0};
  for (const auto& c : sizes) {
    grown_reader reader{
        {size_of(c, sizeof(palfill_reader), sizeof(grown_reader)), read_nothing, nullptr, 0, 0},
        c.more};
    grown_writer sized_writer{
        {size_of(c, sizeof(palfill_writer), sizeof(grown_writer)), refuse_bytes, nullptr, nullptr},
        c.more};
    EXPECT_EQ(palfill_convert_io(colours.get(), &reader.first, &writer), c.result);
    EXPECT_EQ(palfill_convert_io(colours.get(), &empty, &sized_writer.first), c.result);
    EXPECT_EQ(palfill_load_clut_io(colours.get(), &reader.first),
              c.result == PALFILL_UNEXPECTED_EOF ? PALFILL_CLUT_UNEXPECTED_EOF : c.result);
  }
}

// From a pipe into a file, a long chunk's data goes out before its end is
// seen; a cut that then fails is a failed write, and what went out stays.
// A reader that fails part way leaves what an early end leaves.
TEST(palfill_streams, a_failed_cut_or_read_leaves_the_start_of_the_image) {
  const colours_ptr colours(palfill_colours_new(), palfill_colours_free);
  const std::string png = indexed_png(600, 900, 8, [](uint32_t x, uint32_t y) { return x + y; });
  const std::string cut_png = png.substr(0, png.size() / 2);
  std::string written;
  palfill_writer failing_cut = string_writer(written, true);
  failing_cut.cut = [](void*, unsigned long long) { return 1; };
  const library_output whole = library_convert(png, nullptr);
  memory_reader in{&cut_png, 0, false};
  const palfill_reader pipe = pipe_reader(in);
  EXPECT_EQ(palfill_convert_io(colours.get(), &pipe, &failing_cut), PALFILL_WRITE_FAILED);
  EXPECT_GT(written.size(), library_convert(cut_png, nullptr).bytes.size());
  EXPECT_TRUE(whole.bytes.compare(0, written.size(), written) == 0);

  // A reader that says it holds the whole image and fails part way: a
  // chunk that fits in one block leaves what an early end leaves, even when
  // it straddles two reads; into a writer without cut(), a longer one
  // keeps the blocks that went out (palfill.h), still the start of the image.
  const std::string straddling = png_signature_bytes() + png_chunk("IHDR", ihdr_data(4, 4, 8, 3)) +
                                 png_chunk("tEXt", std::string(200 << 10, 't')) +
                                 png_chunk("IDAT", std::string(100 << 10, 'i')) +
                                 png_chunk("IDAT", std::string(600 << 10, 'j')) +
                                 png_chunk("IEND", "");
  const library_output straddled = library_convert(straddling, nullptr);
  for (const std::size_t cut : {std::size_t{290} << 10, std::size_t{800} << 10}) {
    const std::string head = straddling.substr(0, cut);
    memory_reader failing{&head, 0, true};
    palfill_reader file = pipe_reader(failing);
    file.length_known = 1;
    file.length = straddling.size();
    std::string out;
    const palfill_writer to_pipe = string_writer(out, false);
    EXPECT_EQ(palfill_convert_io(colours.get(), &file, &to_pipe), PALFILL_READ_FAILED) << cut;
    const std::string early_end = library_convert(head, nullptr).bytes;
    if (cut < (300 << 10)) {
      EXPECT_TRUE(out == early_end) << cut;
    } else {
      EXPECT_GT(out.size(), early_end.size());
      EXPECT_TRUE(straddled.bytes.compare(0, out.size(), out) == 0);
    }
  }
}

// Threads converting with one set of colours give what one thread gives,
// as palfill(3) promises (CI runs this alone under ThreadSanitizer too).
TEST(palfill_streams, threads_sharing_colours_give_what_one_gives) {
  const colours_ptr colours(palfill_colours_new(), palfill_colours_free);
  const std::string png = indexed_png(600, 900, 8, [](uint32_t x, uint32_t y) { return x + y; });
  const library_output want = library_convert(png, &clut_files[0]);
  ASSERT_EQ(want.result, PALFILL_FINISHED);
  memory_reader clut_in{&clut_files[0], 0, false};
  const palfill_reader clut_reader = pipe_reader(clut_in);
  ASSERT_EQ(palfill_load_clut_io(colours.get(), &clut_reader), PALFILL_FINISHED);
  std::vector<int> mismatches(8, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < mismatches.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        memory_reader from{&png, 0, false};
        std::string out;
        const palfill_reader reader = pipe_reader(from);
        const palfill_writer to = string_writer(out, false);
        mismatches[t] +=
            palfill_convert_io(colours.get(), &reader, &to) != want.result || out != want.bytes;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : mismatches) EXPECT_EQ(count, 0);
}

// A reader that fails has failed, even when it gave every byte it was
// asked for: the call ends with PALFILL_READ_FAILED, leaving what those
// bytes make, and never calls it again. Made to fail on each of its calls
// in turn, loading a CLUT and converting an image of several blocks.
TEST(palfill_streams, a_reader_that_fails_is_the_result_and_never_read_again) {
  const std::string png = indexed_png(600, 900, 8, [](uint32_t x, uint32_t y) { return x * y; });
  for (const std::string* input : {&clut_files[0], &png}) {
    const bool clut = input != &png;
    for (int call = 1;; ++call) {
      SCOPED_TRACE((clut ? "CLUT, call " : "PNG, call ") + std::to_string(call));
      const colours_ptr colours(palfill_colours_new(), palfill_colours_free);
      memory_reader from{input, 0, false};
      from.fail_on_call = call;
      const palfill_reader reader = pipe_reader(from);
      std::string out;
      const palfill_writer writer = string_writer(out, true);
      const palfill_result result = clut ? palfill_load_clut_io(colours.get(), &reader)
                                         : palfill_convert_io(colours.get(), &reader, &writer);
      EXPECT_FALSE(from.called_after_failing);
      if (!from.failed) {  // every call made, none failing
        EXPECT_EQ(result, PALFILL_FINISHED);
        EXPECT_GT(call, 2);
        break;
      }
      EXPECT_EQ(result, PALFILL_READ_FAILED);
      if (!clut) {
        EXPECT_TRUE(out == library_convert(png.substr(0, from.pos), nullptr).bytes);
      }
    }
  }
}

TEST(palfill_api, says_its_version_and_a_distinct_text_for_every_result) {
  const std::string version = std::to_string(PALFILL_VERSION_MAJOR) + "." +
                              std::to_string(PALFILL_VERSION_MINOR) + "." +
                              std::to_string(PALFILL_VERSION_PATCH);
  EXPECT_EQ(palfill_version(), version);
  std::set<std::string> texts;
  for (int result = PALFILL_FINISHED; result <= PALFILL_INVALID_ARGUMENT; ++result) {
    texts.insert(palfill_result_text(palfill_result(result)));
  }
  texts.insert(palfill_result_text(palfill_result(99)));
  EXPECT_EQ(texts.size(), 12u);
  EXPECT_EQ(palfill_convert_bound(100), 1148u);
  EXPECT_EQ(palfill_convert_bound(SIZE_MAX - 1), SIZE_MAX);
}

}  // namespace
