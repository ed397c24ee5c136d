// How palfill streams, end to end: memory stays the same whatever the
// chunk lengths, a chunk cut short in a pipe is cut back out of the output
// file, /dev/stdout works as the output, and a file, a pipe and memory give
// the same result at every cut.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "full_palette.h"
#include "png/chunk_pass.h"
#include "png_builder.h"
#include "reference.h"
#include "support.h"

using namespace palfill;

namespace {

const std::string eof_line = "Error : Unexpected EOF\n";

std::string finished_line(const std::string& in, const std::string& out) {
  return "Finished " + in + " -> " + out + "\n";
}

run_options piped(const std::string& file) {
  run_options options;
  options.pipe_stdin = true;
  options.stdin_file = file;
  return options;
}

palette_table default_table() {
  palette_table table;
  seed_palette_table(table);
  return table;
}

// Everything a 4-bit image without PLTE gets ahead of its first IDAT.
std::string palette_for_depth4() {
  uint8_t chunks[max_palette_chunks_size];
  const palette_table table = default_table();
  const std::size_t size = emit_palette_chunks(table, 16, chunks);
  return std::string(reinterpret_cast<const char*>(chunks), size);
}

class streaming_test : public temp_dir_test {
 protected:
  const std::string head = png_signature_bytes() + png_chunk("IHDR", ihdr_data(64, 64, 4, 3)) +
                           png_chunk("tEXt", std::string("k\0v", 3));
  const std::string iend = png_chunk("IEND", "");
};

// One IDAT of `length` bytes, zeros that the file system stores as a hole,
// so that a large input costs neither disk nor time to make.
std::string sparse_png(const std::string& head, uint32_t length, const std::string& path) {
  const std::string idat_header = be32_bytes(length) + "IDAT";
  write_file(path, head + idat_header);
  std::filesystem::resize_file(path, head.size() + idat_header.size() + length);
  std::FILE* file = std::fopen(path.c_str(), "ab");
  std::fwrite("crc!\0\0\0\0IEND\xae\x42\x60\x82", 1, 16, file);
  std::fclose(file);
  return idat_header;
}

TEST_F(streaming_test, memory_stays_small_whatever_the_chunk_length) {
  SKIP_UNDER_LAUNCHER("a pipe as /dev/stdin");
  SKIP_UNDER_EMULATION("palfill's own peak memory");
  const uint32_t length = 256u << 20;
  const std::string whole = path("whole.png"), half = path("half.png"), out = path("out.png");
  const std::string idat_header = sparse_png(head, length, whole);
  std::filesystem::copy_file(whole, half);
  std::filesystem::resize_file(half, head.size() + 8 + length / 2);
#ifdef PALFILL_SANITIZED
  const long limit_kib = 128 * 1024;  // the sanitizers' own memory; still half the chunk
#else
  const long limit_kib = 8 * 1024;
#endif
  const std::string before_idat = head + palette_for_depth4() + idat_header;
  const struct {
    const char* name;
    std::string input;
    bool through_pipe;
  } cases[] = {{"file", whole, false},
               {"pipe", whole, true},
               {"half_file", half, false},
               {"half_pipe", half, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool cut = c.input == half;
    const run_result run = c.through_pipe ? run_palfill({"/dev/stdin", out}, piped(c.input))
                                          : run_palfill({c.input, out});
    EXPECT_EQ(run.out,
              cut ? eof_line : finished_line(c.through_pipe ? "/dev/stdin" : c.input, out));
    EXPECT_LT(run.peak_rss_kib, limit_kib);
    const uint64_t size = std::filesystem::file_size(out);
    EXPECT_EQ(size, cut ? before_idat.size() : before_idat.size() + length + 16);
    std::FILE* file = std::fopen(out.c_str(), "rb");
    std::string start(before_idat.size(), '\0');
    EXPECT_EQ(std::fread(&start[0], 1, start.size(), file), start.size());
    std::fclose(file);
    EXPECT_EQ(start, before_idat);
  }
}

// From a pipe into a file, a chunk's data goes out before its end is seen;
// when the end never comes, the file is cut back to the chunk's header.
TEST_F(streaming_test, a_chunk_cut_short_in_a_pipe_is_cut_back_in_the_file) {
  SKIP_UNDER_LAUNCHER("a pipe as /dev/stdin");
  const std::string idat = png_chunk("IDAT", std::string(700 << 10, 'i'));
  const std::string text = png_chunk("tEXt", std::string(500 << 10, 't'));
  const std::string png = head + idat + text + iend;
  const std::string palette = palette_for_depth4();
  const struct {
    const char* name;
    std::size_t cut;
    std::string output;
  } cases[] = {
      {"in_the_first_idat", head.size() + 600000, head + palette + idat.substr(0, 8)},
      {"before_its_crc", head.size() + idat.size() - 4, head + palette + idat.substr(0, 8)},
      {"in_a_later_chunk", head.size() + idat.size() + 400000,
       head + palette + idat + text.substr(0, 8)},
      {"in_the_last_crc_byte", png.size() - 1, head + palette + idat + text + iend.substr(0, 8)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(write_file(path("in.png"), png.substr(0, c.cut)));
    const run_result run = run_palfill({"/dev/stdin", path("out.png")}, piped(path("in.png")));
    EXPECT_EQ(run.out, eof_line);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(read_file(path("out.png")) == c.output);
  }
}

// Standard output as the output: the image, then palfill's line after it.
TEST_F(streaming_test, writes_to_dev_stdout) {
  SKIP_UNDER_LAUNCHER("/dev/stdout and pipes");
  const std::string idat = png_chunk("IDAT", std::string(300 << 10, 'i'));
  const std::string png = head + idat + iend;
  const std::string converted = head + palette_for_depth4() + idat + iend;
  const struct {
    const char* name;
    std::string input;
    std::string stdout_bytes;
  } cases[] = {
      {"whole", png, converted + finished_line(path("in.png"), "/dev/stdout")},
      {"cut_in_idat", png.substr(0, head.size() + 100000),
       head + palette_for_depth4() + idat.substr(0, 8) + eof_line},
      {"cut_in_a_header", png.substr(0, head.size() + 3), head + eof_line},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(write_file(path("in.png"), c.input));
    run_options to_pipe;
    to_pipe.stdout_pipe = true;
    const run_result from_file = run_palfill({path("in.png"), "/dev/stdout"}, to_pipe);
    EXPECT_TRUE(from_file.out == c.stdout_bytes);
    EXPECT_EQ(from_file.err, "");

    run_options both = piped(path("in.png"));
    both.stdout_pipe = true;
    const run_result from_pipe = run_palfill({"/dev/stdin", "/dev/stdout"}, both);
    std::string expected = c.stdout_bytes;
    const std::string finished = finished_line(path("in.png"), "/dev/stdout");
    if (expected.size() >= finished.size() &&
        expected.compare(expected.size() - finished.size(), finished.size(), finished) == 0) {
      expected.replace(expected.size() - finished.size(), finished.size(),
                       finished_line("/dev/stdin", "/dev/stdout"));
    }
    EXPECT_TRUE(from_pipe.out == expected);
    EXPECT_EQ(from_pipe.status, from_file.status);
  }
}

// Every prefix of a small image, as a file, through a pipe and in memory,
// gives the bytes and the result that the reference gives.
TEST_F(streaming_test, file_pipe_and_memory_agree_at_every_cut) {
  const std::string png = indexed_png(
      7, 5, 2, [](uint32_t x, uint32_t y) { return x ^ y; }, 3);
  const palette_table table = default_table();
  const std::string in = path("in.png"), out = path("out.png");
  const bool through_pipes = posix_part("a pipe as /dev/stdin");
  for (std::size_t cut = 0; cut <= png.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const std::string input = png.substr(0, cut);
    const reference_output want = reference_convert(input, table);
    ASSERT_TRUE(write_file(in, input));

    const reference_output in_memory = convert_in_memory(input, table, false, false, 40);
    EXPECT_EQ(in_memory.result, want.result);
    EXPECT_EQ(in_memory.bytes, want.bytes);

    const bool finished = want.result == pass_result::finished;
    const run_result from_file = run_palfill({in, out});
    EXPECT_EQ(read_file(out), want.bytes);
    EXPECT_EQ(from_file.out, finished ? finished_line(in, out) : eof_line);
    EXPECT_EQ(from_file.status, finished ? 0 : 1);
    if (!through_pipes) continue;
    const run_result from_pipe = run_palfill({"/dev/stdin", out}, piped(in));
    EXPECT_EQ(read_file(out), want.bytes);
    EXPECT_EQ(from_pipe.out, finished ? finished_line("/dev/stdin", out) : eof_line);
    EXPECT_EQ(from_pipe.status, from_file.status);
  }
}

}  // namespace
