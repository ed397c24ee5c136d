// The command line end to end: argument roles, every message, the exit
// status, and what is left on disk when a run fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "messages/messages.h"
#include "png_builder.h"
#include "support.h"

namespace {

class driver_test : public temp_dir_test {
 protected:
  void SetUp() override {
    temp_dir_test::SetUp();
    png = indexed_png(5, 3, 2, [](uint32_t x, uint32_t y) { return (x + y) % 4; });
    ASSERT_TRUE(write_file(path("in.png"), png));
    ASSERT_TRUE(write_file(path("kept.png"), "keep me"));
    clut = clut_bytes(0x88, std::string(1, '\0'), "\1\2\3\4");
    clut_file = clut;
    ASSERT_TRUE(write_file(path("in.clt"), clut));
  }
  std::string png;
  std::string clut;
  std::string clut_file;  // the same: `clut` is a local name in some tests
};

TEST_F(driver_test, fewer_than_two_arguments_print_usage_with_the_invocation_name) {
  SKIP_UNDER_LAUNCHER("a chosen argv[0]");
  run_options named;
  named.argv0 = "./bin/palfill";
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {path("in.png")}}) {
    const run_result run = run_palfill(args, named);
    EXPECT_EQ(run.out, "Usage : ./bin/palfill in.png [in.clt] out.png\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(driver_test, arguments_take_their_roles_by_position) {
  const std::string in = path("in.png"), clut = path("in.clt"), out = path("out.png");
  const struct {
    std::vector<std::string> args;
    std::string output;
  } cases[] = {
      {{in, out}, out},
      {{in, clut, out}, out},
      {{in, clut, out, path("fourth.png"), "fifth"}, out},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(c.output);
    const run_result run = run_palfill(c.args);
    EXPECT_EQ(run.out, "Finished " + in + " -> " + c.output + "\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(std::filesystem::exists(c.output));
  }
  EXPECT_FALSE(std::filesystem::exists(path("fourth.png")));
}

// No failure before the PNG pass may create or truncate the output.
TEST_F(driver_test, failures_before_the_pass_name_the_file_and_leave_the_output_alone) {
  const std::string in = path("in.png"), kept = path("kept.png"), missing = path("missing");
  ASSERT_EQ(symlink(in.c_str(), path("link.png").c_str()), 0);
  ASSERT_EQ(link(in.c_str(), path("hard.png").c_str()), 0);
  std::filesystem::create_directory(path("folder"));
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{in, missing, kept}, "Error : Can't open file " + missing + "\n"},
      {{in, "", kept}, "Error : Can't open file \n"},
      // A file that cannot be read (here at offset 0, an address no process maps).
      {{in, "/proc/self/mem", kept}, "Error : Can't read file /proc/self/mem\n"},
      {{missing, kept}, "Error : Can't open file " + missing + "\n"},
      {{path("folder"), kept}, "Error : Can't open file " + path("folder") + "\n"},
      {{in, in}, "Error : Input and output are the same file " + in + "\n"},
      {{in, path("link.png")},
       "Error : Input and output are the same file " + path("link.png") + "\n"},
      {{in, path("hard.png")},
       "Error : Input and output are the same file " + path("hard.png") + "\n"},
      {{in, path("in.clt"), path("in.clt")},
       "Error : Input and output are the same file " + path("in.clt") + "\n"},
      // The CLUT named last: the image in its place is refused, and the
      // CLUT, now in the output's place, is left alone.
      {{in, in, path("in.clt")}, "Error : Not a CLUT file " + in + "\n"},
  };
  for (const auto& c : cases) {
    const run_result run = run_palfill(c.args);
    EXPECT_EQ(run.out, c.message);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_file(kept), "keep me");
    EXPECT_EQ(read_file(in), png);
    EXPECT_EQ(read_file(path("in.clt")), clut);
  }
}

TEST_F(driver_test, an_output_that_cannot_be_created_is_named) {
  const std::string out = path("no/such/dir/out.png");
  const run_result run = run_palfill({path("in.png"), out});
  EXPECT_EQ(run.out, "Error : Can't open file " + out + "\n");
  EXPECT_EQ(run.status, 1);
}

// Writes that only fail late, as a network file system fails them: closing
// the output, and cutting it back after a pipe ended inside a long chunk.
// strace makes the one call fail (Debian: strace).
TEST_F(driver_test, a_failed_close_or_cut_is_a_failed_write) {
  SKIP_UNDER_EMULATION("strace's fault injection on palfill's own calls");
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs strace";
  const std::string long_chunk = png_signature_bytes() + png_chunk("IHDR", ihdr_data(4, 4, 8, 3)) +
                                 png_chunk("IDAT", std::string(600 << 10, 'x'));
  ASSERT_TRUE(write_file(path("long.png"), long_chunk.substr(0, 400 << 10)));
  const struct {
    const char* call;
    std::string input;
    bool through_pipe;
  } cases[] = {{"close", path("in.png"), false}, {"ftruncate", path("long.png"), true}};
  for (const auto& c : cases) {
    run_options failing;
    // LeakSanitizer cannot look at a process that strace holds.
    const std::string trace = std::string("trace=") + c.call;
    const std::string inject = std::string("inject=") + c.call + ":error=EIO";
    failing.wrapper = {"env",           "ASAN_OPTIONS=detect_leaks=0:exitcode=86",
                       "strace",        "-o",
                       "/dev/null",     "-P",
                       path("out.png"), "-e",
                       trace,           "-e",
                       inject};
    if (c.through_pipe) {
      failing.pipe_stdin = true;
      failing.stdin_file = c.input;
    }
    std::filesystem::remove(path("out.png"));
    const run_result run =
        run_palfill({c.through_pipe ? "/dev/stdin" : c.input, path("out.png")}, failing);
    EXPECT_EQ(run.out, "Error : Can't write file " + path("out.png") + "\n") << c.call;
    EXPECT_EQ(run.status, 1) << c.call;
  }
}

// A full disk must not pass for success, whether the pass itself or the
// final flush meets it.
TEST_F(driver_test, a_failed_write_is_reported_and_never_finished) {
  SKIP_UNDER_LAUNCHER("/dev/full");
  ASSERT_TRUE(
      write_file(path("big.png"), indexed_png(
                                      512, 512, 8, [](uint32_t x, uint32_t) { return x; }, 5)));
  for (const std::string& in : {path("in.png"), path("big.png")}) {
    const run_result run = run_palfill({in, "/dev/full"});
    EXPECT_EQ(run.out, "Error : Can't write file /dev/full\n");
    EXPECT_EQ(run.status, 1);
  }
}

// Names in any script open, and every line repeats them as typed.
TEST_F(driver_test, names_in_any_script_open_and_are_printed_as_typed) {
  std::filesystem::create_directory(path("番組 データ"));
  const std::string in = path("番組 データ/画像①.png"), table = path("カラー表.clt"),
                    out = path("出力 画像.png"), missing = path("無い.png");
  ASSERT_TRUE(write_file(in, png));
  ASSERT_TRUE(write_file(table, clut));
  ASSERT_EQ(run_palfill({path("in.png"), path("in.clt"), path("plain.png")}).status, 0);
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{in, table, out}, "Finished " + in + " -> " + out + "\n"},
      {{missing, out}, "Error : Can't open file " + missing + "\n"},
      {{in, missing, out}, "Error : Can't open file " + missing + "\n"},
      {{in, in}, "Error : Input and output are the same file " + in + "\n"},
  };
  for (const auto& c : cases) {
    const run_result run = run_palfill(c.args);
    EXPECT_EQ(run.out, c.message);
    EXPECT_EQ(run.err, "");
  }
  EXPECT_EQ(read_file(out), read_file(path("plain.png")));
  EXPECT_EQ(read_file(in), png);
}

// However standard output leads into the output file, the image is
// written whole and the line follows it.
TEST_F(driver_test, the_line_follows_the_image_when_standard_output_is_the_output) {
  SKIP_UNDER_LAUNCHER("a POSIX shell's redirections");
  ASSERT_TRUE(write_file(path("cut.png"), png.substr(0, png.size() - 20)));
  ASSERT_EQ(run_palfill({path("in.png"), path("want.png")}).status, 0);
  ASSERT_EQ(run_palfill({path("cut.png"), path("want-cut.png")}).status, 1);
  const std::string whole = read_file(path("want.png")), cut = read_file(path("want-cut.png"));
  const struct {
    const char* command;
    std::string file;
  } cases[] = {
      {"palfill in.png /dev/stdout > out.png", whole + "Finished in.png -> /dev/stdout\n"},
      {"palfill in.png out.png > out.png", whole + "Finished in.png -> out.png\n"},
      {"palfill in.png /dev/stdout >> out.png", whole + "Finished in.png -> /dev/stdout\n"},
      {"palfill in.png out.png >> out.png", whole + "Finished in.png -> out.png\n"},
      {"palfill in.png /dev/stdout 1<> out.png", whole + "Finished in.png -> /dev/stdout\n"},
      {"palfill in.png out.png 1<> out.png", whole + "Finished in.png -> out.png\n"},
      {"palfill cut.png /dev/stdout > out.png", cut + "Error : Unexpected EOF\n"},
      {"palfill cut.png out.png 1<> out.png", cut + "Error : Unexpected EOF\n"},
      {"palfill in.png /dev/stdout | cat > out.png", whole + "Finished in.png -> /dev/stdout\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    // Left from before: a longer image, which palfill may replace.
    ASSERT_TRUE(write_file(path("out.png"), png_signature_bytes() + std::string(4992, 'x')));
    const std::string command = "cd '" + path("") + "' && palfill() { " + palfill_shell_words() +
                                " \"$@\"; } && " + c.command;
    std::system(command.c_str());
    EXPECT_TRUE(read_file(path("out.png")) == c.file);
  }
}

// Every mistaken order of the arguments and every redirection of standard
// output into a file palfill reads or writes: nothing is lost, no line
// goes into a file it must not change, and nothing waits for ever. Each
// case runs under Wine too, but for those that need /dev/stdout or pipes.
TEST_F(driver_test, mistaken_orders_and_redirections_lose_nothing) {
  const bool windows = windows_launcher();
  const auto line = [&](const std::string& text) { return text + (windows ? "\r\n" : "\n"); };
  ASSERT_EQ(run_palfill({path("in.png"), path("want.png")}).status, 0);
  ASSERT_EQ(run_palfill({path("in.png"), path("in.clt"), path("want-clut.png")}).status, 0);
  const std::string converted = read_file(path("want.png"));
  const std::string with_clut = read_file(path("want-clut.png"));
  const std::string notes = "my notes\n";
  const std::string absent = "(absent)";
  // An image in the CLUT's place, damaged so that it reads as a CLUT.
  const auto changed = [&](std::size_t at, char to) {
    std::string bytes = png;
    bytes[at] = to;
    return bytes;
  };
  std::string lf_only = png;
  lf_only.erase(4, 1);  // CRLF as LF, as an ASCII-mode transfer leaves it
  const std::vector<std::pair<const char*, std::string>> damaged = {
      {"cut to 4", png.substr(0, 4)}, {"cut to 7", png.substr(0, 7)},
      {"0x88", changed(0, '\x88')},   {"0x09", changed(0, '\x09')},
      {"byte 1", changed(1, 'Q')},    {"byte 7", changed(7, '\x0b')},
      {"CRLF as LF", lf_only}};
  // What palfill itself may leave in an output, and so replace.
  const std::vector<std::string> its_own = {"",
                                            png_signature_bytes().substr(0, 3),
                                            "Error : Unexpected EOF\n",
                                            "Finished a -> b\n",
                                            "Usage : palfill in.png [in.clt] out.png\n",
                                            "Finished",  // cut short by a full disk
                                            "Error :",
                                            "U"};

  struct expected_file {
    const char* name;
    std::string bytes;  // `absent` for none
  };
  struct redirection {
    const char* file;  // standard output opened onto it; null: captured
    stdout_mode mode;
    bool pipe;
  };
  constexpr redirection captured{nullptr, stdout_mode::truncate, false};
  struct run_case {
    std::string name;
    std::vector<expected_file> before;  // besides in.png and in.clt
    std::vector<std::string> args;      // names in the test's folder, or /dev/...
    redirection out;
    int status;
    std::string stdout_bytes;  // when captured
    std::vector<expected_file> after;
    bool posix_only;
  };
  const std::string input = path("in.png"), clut = path("in.clt");
  std::vector<run_case> cases = {
      {"> output",
       {},
       {"in.png", "out.png"},
       {"out.png", stdout_mode::truncate, false},
       0,
       "",
       {{"out.png", converted + line("Finished " + input + " -> " + path("out.png"))}},
       false},
      {">> an earlier output",
       {{"out.png", converted}},
       {"in.png", "out.png"},
       {"out.png", stdout_mode::append, false},
       0,
       "",
       {{"out.png", converted + line("Finished " + input + " -> " + path("out.png"))}},
       false},
      {"notes named as the output, >> them",
       {{"notes.txt", notes}},
       {"in.png", "notes.txt"},
       {"notes.txt", stdout_mode::append, false},
       1,
       "",
       {{"notes.txt", notes}},
       false},
      {"notes named as the output",
       {{"notes.txt", notes}},
       {"in.png", "notes.txt"},
       captured,
       1,
       "Error : Output is not a PNG file " + path("notes.txt") + "\n",
       {{"notes.txt", notes}},
       false},
      {"a missing input, 1<> an earlier output",
       {{"o.png", converted}},
       {"missing.png", "o.png"},
       {"o.png", stdout_mode::read_write, false},
       1,
       "",
       {{"o.png", converted + line("Error : Can't open file " + path("missing.png"))}},
       false},
      {"1<> the input, named as the output",
       {},
       {"in.png", "in.png"},
       {"in.png", stdout_mode::read_write, false},
       1,
       "",
       {{"in.png", png}},
       false},
      {"1<> the input, /dev/stdout as the output",
       {},
       {"in.png", "/dev/stdout"},
       {"in.png", stdout_mode::read_write, false},
       1,
       "",
       {{"in.png", png}},
       true},
      {">> the CLUT, named as the output",
       {},
       {"in.png", "in.clt", "in.clt"},
       {"in.clt", stdout_mode::append, false},
       1,
       "",
       {{"in.clt", clut_file}},
       false},
      {">> the CLUT, /dev/stdout as the output",
       {},
       {"in.png", "in.clt", "/dev/stdout"},
       {"in.clt", stdout_mode::append, false},
       1,
       "",
       {{"in.clt", clut_file}},
       true},
      {">> the input, a conversion",
       {},
       {"in.png", "o.png"},
       {"in.png", stdout_mode::append, false},
       0,
       "",
       {{"in.png", png}, {"o.png", converted}},
       false},
      {">> the CLUT, a conversion",
       {},
       {"in.png", "in.clt", "o.png"},
       {"in.clt", stdout_mode::append, false},
       0,
       "",
       {{"in.clt", clut_file}, {"o.png", with_clut}},
       false},
      {"/dev/stdout >> a log",
       {{"log.txt", notes}},
       {"in.png", "/dev/stdout"},
       {"log.txt", stdout_mode::append, false},
       1,
       "",
       {{"log.txt", notes}},
       true},
      {"/dev/stdout as the CLUT, into a pipe",
       {},
       {"in.png", "/dev/stdout", "in.clt"},
       {nullptr, stdout_mode::truncate, true},
       1,
       "Error : Input and output are the same file /dev/stdout\n",
       {{"in.clt", clut_file}},
       true},
      {"/dev/stdout as the input, into a pipe",
       {},
       {"/dev/stdout", "o.png"},
       {nullptr, stdout_mode::truncate, true},
       1,
       "Error : Input and output are the same file /dev/stdout\n",
       {{"o.png", absent}},
       true},
      {"a device as the output",
       {},
       {"in.png", windows ? "NUL" : "/dev/null"},
       captured,
       0,
       "Finished " + input + " -> " + (windows ? "NUL" : "/dev/null") + "\n",
       {},
       false},
  };
  for (const auto& [what, bytes] : damaged) {
    cases.push_back({std::string("the CLUT named last, an image ") + what + " in its place",
                     {{"res.png", bytes}},
                     {"in.png", "res.png", "in.clt"},
                     captured,
                     1,
                     "Error : Output is not a PNG file " + clut + "\n",
                     {{"in.clt", clut_file}, {"res.png", bytes}},
                     false});
  }
  for (const std::string& left : its_own) {
    cases.push_back({"over what palfill leaves: " + left.substr(0, 8),
                     {{"o.png", left}},
                     {"in.png", "o.png"},
                     captured,
                     0,
                     "Finished " + input + " -> " + path("o.png") + "\n",
                     {{"o.png", converted}},
                     false});
  }
  for (const run_case& c : cases) {
    if (c.posix_only && !posix_part(("/dev/stdout and pipes: " + c.name).c_str())) continue;
    SCOPED_TRACE(c.name);
    for (const char* name : {"out.png", "o.png", "notes.txt", "log.txt", "res.png"}) {
      std::filesystem::remove(path(name));
    }
    ASSERT_TRUE(write_file(path("in.png"), png));
    ASSERT_TRUE(write_file(path("in.clt"), clut_file));
    for (const expected_file& file : c.before) ASSERT_TRUE(write_file(path(file.name), file.bytes));
    std::vector<std::string> args;
    for (const std::string& arg : c.args)
      args.push_back(arg[0] == '/' || arg == "NUL" ? arg : path(arg));
    run_options options;
    options.timeout_seconds = 20;
    options.stdout_pipe = c.out.pipe;
    if (c.out.file != nullptr) options.stdout_file = path(c.out.file);
    options.stdout_opened = c.out.mode;
    const run_result run = run_palfill(args, options);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.stdout_bytes);
    EXPECT_EQ(run.err, "");
    for (const expected_file& file : c.after) {
      const bool exists = std::filesystem::exists(path(file.name));
      EXPECT_TRUE(exists ? read_file(path(file.name)) == file.bytes : file.bytes == absent)
          << file.name;
    }
  }
}

// A PNG the user may write but not read (another's, mode 0622) is one
// palfill cannot use, not someone's data: it says so, and leaves it.
TEST_F(driver_test, an_output_it_may_write_but_not_read_cannot_be_opened) {
  SKIP_UNDER_LAUNCHER("file modes and users");
  ASSERT_TRUE(write_file(path("out.png"), png));
  ASSERT_EQ(chmod(path("out.png").c_str(), getuid() == 0 ? 0622 : 0222), 0);
  ASSERT_EQ(chmod(path("").c_str(), 0755), 0);  // so that another user reaches it
  run_options other_user;
  other_user.as_nobody = true;  // root reads anything
  const run_result run = run_palfill({path("in.png"), path("out.png")}, other_user);
  EXPECT_EQ(run.out, "Error : Can't open file " + path("out.png") + "\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(read_file(path("out.png")), png);
}

// Windows takes a name in either case and with either slash as the same
// file; creating the output must not empty the input then either.
TEST_F(driver_test, windows_spellings_of_the_input_are_the_same_file) {
  if (!windows_launcher()) GTEST_SKIP() << "spellings that only Windows takes as one file";
  std::string upper = path("in.png"), backslashes = path("in.png");
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  std::replace(backslashes.begin(), backslashes.end(), '/', '\\');
  ASSERT_EQ(link(path("in.png").c_str(), path("hard.png").c_str()), 0);
  for (const std::string& out : {upper, backslashes, path("hard.png")}) {
    const run_result run = run_palfill({path("in.png"), out});
    EXPECT_EQ(run.out, "Error : Input and output are the same file " + out + "\n");
    EXPECT_EQ(read_file(path("in.png")), png);
  }
}

// Every result of the library has a line of its own, the two early ends
// aside; the page and Python take these same lines. A result palfill.h
// adds without a line fails the build (-Wswitch).
TEST(result_line, every_result_has_a_line_of_its_own) {
  std::set<std::string> lines;
  for (int result = PALFILL_FINISHED; result <= PALFILL_INVALID_ARGUMENT; ++result) {
    lines.insert(palfill::result_line(palfill_result(result), "in.png", "c.clt", "out.png"));
  }
  EXPECT_EQ(lines.size(), std::size_t{PALFILL_INVALID_ARGUMENT});
  EXPECT_EQ(palfill::result_line(palfill_result(99), "", "", ""), "Error : Unknown result (99)\n");
}

// The line ends as the platform ends a line of text: LF, CRLF on Windows.
TEST_F(driver_test, the_line_ends_as_the_platform_ends_text) {
  const std::string end = windows_launcher() ? "\r\n" : "\n";
  const run_result done = run_palfill({path("in.png"), path("out.png")});
  EXPECT_EQ(done.raw_out, "Finished " + path("in.png") + " -> " + path("out.png") + end);
  const run_result failed = run_palfill({path("missing.png"), path("out.png")});
  EXPECT_EQ(failed.raw_out, "Error : Can't open file " + path("missing.png") + end);
}

}  // namespace
