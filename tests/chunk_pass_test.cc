// The PNG pass, end to end through the built binary: whole output files,
// standard output and exit status, byte for byte, for a regular file and
// for the same bytes through a pipe.
#include "png/chunk_pass.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "format/crc32.h"
#include "full_palette.h"
#include "png_builder.h"
#include "reference.h"
#include "support.h"

using namespace palfill;

namespace {

const std::string eof_line = "Error : Unexpected EOF\n";
const std::string not_png_line = "Error : Not a PNG format\n";

std::string ihdr(int depth, int colour_type) {
  return png_chunk("IHDR",
                   ihdr_data(3, 2, static_cast<uint8_t>(depth), static_cast<uint8_t>(colour_type)));
}
const std::string idat = png_chunk("IDAT", "image");
const std::string idat2 = png_chunk("IDAT", "more");
const std::string iend = png_chunk("IEND", "");
const std::string text = png_chunk("tEXt", std::string("k\0v", 3));
const std::string own_plte = png_chunk("PLTE", "abcdef");
const std::string own_trns = png_chunk("tRNS", "\x10");
const std::string sig = png_signature_bytes();

std::string plte_of_defaults(int entries) {
  std::string data;
  for (int i = 0; i < entries; ++i) {
    const rgba_entry c = i < 128 ? fixed_default_colours[i] : rgba_entry{0, 0, 0, 0};
    data += std::string{char(c.red), char(c.green), char(c.blue)};
  }
  return png_chunk("PLTE", data);
}

std::string trns_of_defaults(int entries) {
  std::string data;
  for (int i = 0; i < entries; ++i) data += char(i < 128 ? fixed_default_colours[i].alpha : 0);
  return png_chunk("tRNS", data);
}

std::string palette_of_defaults(int entries) {
  return plte_of_defaults(entries) + (entries > 8 ? trns_of_defaults(entries) : "");
}

std::string header(uint32_t length, const std::string& type) {
  return be32_bytes(length) + type;
}

struct pass_case {
  const char* name;
  std::string input;
  std::string output;
  std::string message;  // empty for a finished conversion
};

std::vector<pass_case> pass_cases() {
  const std::string body = ihdr(8, 3) + text;
  return {
      {"truecolour_copied", sig + ihdr(8, 2) + idat + iend, sig + ihdr(8, 2) + idat + iend, ""},
      {"truecolour_alpha_copied", sig + ihdr(8, 6) + idat + iend, sig + ihdr(8, 6) + idat + iend,
       ""},
      {"own_palette_copied", sig + ihdr(8, 3) + own_plte + idat + iend,
       sig + ihdr(8, 3) + own_plte + idat + iend, ""},
      {"depth8_gets_256_entries_once", sig + body + idat + idat2 + iend,
       sig + body + palette_of_defaults(256) + idat + idat2 + iend, ""},
      {"depth2_four_opaque_entries", sig + ihdr(2, 3) + idat + iend,
       sig + ihdr(2, 3) + plte_of_defaults(4) + idat + iend, ""},
      {"depth1_exact_bytes", sig + ihdr(1, 3) + idat + iend,
       sig + ihdr(1, 3) + std::string("\0\0\0\x06PLTE\0\0\0\xff\0\0\x1b\xff\x8d\x22", 18) + idat +
           iend,
       ""},
      {"depth4_trns_marks_entry_8", sig + ihdr(4, 3) + idat + iend,
       sig + ihdr(4, 3) + plte_of_defaults(16) +
           png_chunk("tRNS", std::string(8, '\xff') + '\0' + std::string(7, '\xff')) + idat + iend,
       ""},
      {"depth0_one_entry", sig + ihdr(0, 3) + idat + iend,
       sig + ihdr(0, 3) + palette_of_defaults(1) + idat + iend, ""},
      {"depth3_eight_entries", sig + ihdr(3, 3) + idat + iend,
       sig + ihdr(3, 3) + palette_of_defaults(8) + idat + iend, ""},
      {"depth5_32_entries", sig + ihdr(5, 3) + idat + iend,
       sig + ihdr(5, 3) + palette_of_defaults(32) + idat + iend, ""},
      {"depth7_128_entries", sig + ihdr(7, 3) + idat + iend,
       sig + ihdr(7, 3) + palette_of_defaults(128) + idat + iend, ""},
      {"depth16_copied", sig + ihdr(16, 3) + idat + iend, sig + ihdr(16, 3) + idat + iend, ""},
      {"late_plte_does_not_prevent", sig + ihdr(8, 3) + idat + own_plte + iend,
       sig + ihdr(8, 3) + palette_of_defaults(256) + idat + own_plte + iend, ""},
      {"own_trns_is_no_palette", sig + ihdr(4, 3) + own_trns + idat + iend,
       sig + ihdr(4, 3) + own_trns + palette_of_defaults(16) + idat + iend, ""},
      {"idat_before_ihdr_gets_nothing", sig + idat + ihdr(2, 3) + idat2 + iend,
       sig + idat + ihdr(2, 3) + plte_of_defaults(4) + idat2 + iend, ""},
      {"nothing_after_iend", sig + ihdr(8, 2) + iend + "trailing bytes", sig + ihdr(8, 2) + iend,
       ""},
      // An IHDR shorter than 13 bytes: its bit depth and colour type are
      // read from the chunk after it, here a chunk whose type starts 8, 3.
      {"short_ihdr_reads_ahead",
       sig + header(0, "IHDR") + "crc!" + png_chunk(std::string("\x08\x03xy", 4), "") + idat + iend,
       sig + header(0, "IHDR") + "crc!" + png_chunk(std::string("\x08\x03xy", 4), "") +
           palette_of_defaults(256) + idat + iend,
       ""},
      {"ihdr_length_5", sig + header(5, "IHDR") + "12345crc!" + idat + iend,
       sig + header(5, "IHDR") + "12345crc!" + idat + iend, ""},
      {"empty_file", "", "", eof_line},
      {"signature_only", sig, sig, eof_line},
      {"cut_in_a_header", sig + ihdr(8, 3) + "\0\0", sig + ihdr(8, 3), eof_line},
      {"cut_in_ihdr_look_ahead", sig + header(13, "IHDR") + "0123456789ab", sig, eof_line},
      {"cut_in_first_idat", sig + body + idat.substr(0, 10),
       sig + body + palette_of_defaults(256) + idat.substr(0, 8), eof_line},
      {"no_iend", sig + ihdr(8, 2) + idat, sig + ihdr(8, 2) + idat, eof_line},
      {"length_0xffffffff", sig + ihdr(8, 2) + header(0xFFFFFFFF, "tEXt") + std::string(7, 'x'),
       sig + ihdr(8, 2) + header(0xFFFFFFFF, "tEXt"), eof_line},
      {"length_0xfffffffd", sig + header(0xFFFFFFFD, "IDAT") + std::string(24, 'x'),
       sig + header(0xFFFFFFFD, "IDAT"), eof_line},
      {"length_0xfffffffc", sig + header(0xFFFFFFFC, "IEND") + std::string(24, 'x'),
       sig + header(0xFFFFFFFC, "IEND"), eof_line},
  };
}

class pass_test : public temp_dir_test {};

TEST_F(pass_test, writes_exactly_the_expected_bytes_from_a_file_and_from_a_pipe) {
  const bool through_pipes = posix_part("a pipe as /dev/stdin");
  for (const pass_case& c : pass_cases()) {
    SCOPED_TRACE(c.name);
    const std::string in = path("in.png"), out = path("out.png");
    ASSERT_TRUE(write_file(in, c.input));
    const std::string finished = "Finished " + in + " -> " + out + "\n";
    const run_result from_file = run_palfill({in, out});
    EXPECT_EQ(from_file.out, c.message.empty() ? finished : c.message);
    EXPECT_EQ(from_file.status, c.message.empty() ? 0 : 1);
    EXPECT_EQ(from_file.err, "");
    EXPECT_EQ(read_file(out), c.output);
    if (!through_pipes) continue;

    run_options piped;
    piped.pipe_stdin = true;
    piped.stdin_bytes = c.input;
    const run_result from_pipe = run_palfill({"/dev/stdin", out}, piped);
    EXPECT_EQ(from_pipe.status, from_file.status);
    EXPECT_EQ(read_file(out), c.output) << "through a pipe";
  }
}

TEST_F(pass_test, any_changed_signature_byte_is_not_a_png_and_leaves_an_empty_output) {
  for (std::size_t i = 0; i < 8; ++i) {
    std::string input = sig + ihdr(8, 3) + idat + iend;
    input[i] = static_cast<char>(input[i] ^ 0x20);
    ASSERT_TRUE(write_file(path("in.png"), input));
    const run_result run = run_palfill({path("in.png"), path("out.png")});
    EXPECT_EQ(run.out, not_png_line) << i;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(path("out.png")), "") << i;
  }
}

// A length field claiming gigabytes costs memory only for bytes that arrive.
TEST_F(pass_test, a_huge_length_field_takes_little_memory) {
  SKIP_UNDER_LAUNCHER("a pipe as /dev/stdin");
  SKIP_UNDER_EMULATION("palfill's own peak memory");
  const std::string input = sig + header(0xFFFFFFF0, "IDAT") + std::string(28, 'x');
  ASSERT_TRUE(write_file(path("in.png"), input));
  run_options piped;
  piped.pipe_stdin = true;
  piped.stdin_bytes = input;
#ifdef PALFILL_SANITIZED
  const long limit_kib = 256 * 1024;  // the sanitizer runtime's own shadow memory
#else
  const long limit_kib = 16 * 1024;
#endif
  for (const run_result& run : {run_palfill({path("in.png"), path("out.png")}),
                                run_palfill({"/dev/stdin", path("out.png")}, piped)}) {
    EXPECT_EQ(run.out, eof_line);
    EXPECT_LT(run.peak_rss_kib, limit_kib);
  }
}

#ifndef PALFILL_SANITIZED  // the sanitizers' runtime cannot start under an address-space limit
// Only a chunk read from a pipe and bound for something that cannot be cut
// back (here a device) has to be held whole; one too large for the memory
// is reported. Read from a file, the same chunk streams in a fixed buffer.
TEST_F(pass_test, a_real_out_of_memory_to_buffer_is_reported) {
  SKIP_UNDER_LAUNCHER("a pipe as /dev/stdin");
  SKIP_UNDER_EMULATION("RLIMIT_AS on palfill");
  const std::string big(64 << 20, 'x');
  ASSERT_TRUE(write_file(path("in.png"), sig + png_chunk("IDAT", big) + iend));
  run_options limited;
  limited.address_space_limit = 48ul << 20;
  limited.pipe_stdin = true;
  limited.stdin_file = path("in.png");
  const run_result run = run_palfill({"/dev/stdin", "/dev/null"}, limited);
  EXPECT_EQ(run.out, "Error : Chunk too large to buffer\n");
  EXPECT_EQ(run.status, 1);

  limited.pipe_stdin = false;
  const run_result streamed = run_palfill({path("in.png"), path("out.png")}, limited);
  EXPECT_EQ(streamed.status, 0) << streamed.out;
  EXPECT_EQ(read_file(path("out.png")), read_file(path("in.png")));
}
#endif

// The reference pass is checked against the hand-written cases before it
// judges the streaming pass.
TEST(reference_pass, gives_the_expected_bytes_of_every_case) {
  palette_table table;
  seed_palette_table(table);
  for (const pass_case& c : pass_cases()) {
    const reference_output ref = reference_convert(c.input, table);
    EXPECT_EQ(ref.bytes, c.output) << c.name;
    EXPECT_EQ(ref.result == pass_result::finished, c.message.empty()) << c.name;
  }
}

// How the input and the output can behave: a file's length is known, a
// pipe's is not; a file can be cut back, a pipe cannot.
struct stream_mode {
  const char* name;
  bool length_known;
  bool can_cut;
};
constexpr stream_mode stream_modes[] = {{"file_to_file", true, true},
                                        {"file_to_pipe", true, false},
                                        {"pipe_to_file", false, true},
                                        {"pipe_to_pipe", false, false}};

// Blocks this small put chunk headers, the IHDR bytes looked at and chunk
// ends across block boundaries at every position.
TEST(convert_png, agrees_with_the_reference_at_every_cut_in_every_mode) {
  palette_table table;
  seed_palette_table(table);
  for (const pass_case& c : pass_cases()) {
    for (std::size_t cut = 0; cut <= c.input.size(); ++cut) {
      const std::string input = c.input.substr(0, cut);
      const reference_output want = reference_convert(input, table);
      for (const stream_mode& mode : stream_modes) {
        for (std::size_t block : {std::size_t{1}, std::size_t{33}, std::size_t{47}, std::size_t{64},
                                  default_block_size}) {
          const reference_output got =
              convert_in_memory(input, table, mode.length_known, mode.can_cut, block);
          ASSERT_EQ(got.result, want.result)
              << c.name << " cut at " << cut << ", " << mode.name << ", block " << block;
          ASSERT_EQ(got.bytes, want.bytes)
              << c.name << " cut at " << cut << ", " << mode.name << ", block " << block;
        }
      }
    }
  }
}

// A failed write ends the pass, except that running out of input, once
// seen, is the failure reported.
TEST(convert_png, reports_a_sink_that_fails) {
  palette_table table;
  seed_palette_table(table);
  const std::string png = sig + ihdr(8, 3) + idat + iend;
  for (const auto& [input, result] :
       {std::pair{png, pass_result::write_failed},
        std::pair{png.substr(0, png.size() - 3), pass_result::unexpected_eof}}) {
    memory_input bytes{reinterpret_cast<const uint8_t*>(input.data()), input.size(), 0};
    byte_source source = memory_source(bytes, true);
    byte_sink refusing{[](void*, const uint8_t*, std::size_t) { return false; }, nullptr, nullptr};
    EXPECT_EQ(convert_png(source, refusing, table), result);
  }
}

TEST(crc32, matches_known_png_values) {
  const auto crc_of = [](const std::string& s) {
    return crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  EXPECT_EQ(crc_of("IEND"), 0xAE426082u);
  EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);
  EXPECT_EQ(crc_of(""), 0u);
  // Eight bytes a step, then one at a time: every length against the
  // bit-by-bit definition.
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += char(i * 37 + 11);
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
      crc ^= uint8_t(bytes[i]);
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    EXPECT_EQ(crc_of(bytes.substr(0, length)), crc ^ 0xFFFFFFFFu) << length;
  }
}

}  // namespace
