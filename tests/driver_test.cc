// The command line end to end: argument roles, every message, the exit
// status, and what is left on disk when a run fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

// tests/redirections.txt: every mistaken order of the arguments and every
// redirection of standard output into a file palfill reads or writes.
struct redirection_case {
  std::string name;
  std::vector<std::pair<std::string, std::string>> before, after;  // file, contents
  std::vector<std::string> args;
  std::string stdout_file;  // empty: captured
  stdout_mode mode = stdout_mode::truncate;
  bool pipe = false, posix = false;
  int status = 0;
  std::string stdout_contents;
};

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> found;
  for (std::size_t at = 0, end; at < line.size(); at = end + 1) {
    end = std::min(line.find(' ', at), line.size());
    found.push_back(line.substr(at, end - at));
  }
  return found;
}

std::vector<redirection_case> read_redirections() {
  std::ifstream table(PALFILL_REDIRECTIONS);
  std::vector<redirection_case> cases;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t space = std::min(line.find(' '), line.size());
    const std::string key = line.substr(0, space),
                      rest = line.substr(std::min(space + 1, line.size()));
    const std::size_t equals = rest.find(" = ");
    if (key == "case") cases.emplace_back().name = rest;
    redirection_case& c = cases.back();
    if (key == "before" || key == "after") {
      (key == "before" ? c.before : c.after)
          .emplace_back(rest.substr(0, equals), rest.substr(equals + 3));
    } else if (key == "run") {
      const std::vector<std::string> args = words(rest);
      const std::map<std::string, stdout_mode> modes = {{">", stdout_mode::truncate},
                                                        {">>", stdout_mode::append},
                                                        {"1<>", stdout_mode::read_write}};
      for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "|") {
          c.pipe = true;
          break;
        }
        if (modes.count(args[i]) != 0) {
          c.mode = modes.at(args[i]);
          c.stdout_file = args.at(i + 1);
          break;
        }
        c.args.push_back(args[i]);
      }
    } else if (key == "posix") {
      c.posix = true;
    } else if (key == "status") {
      c.status = std::stoi(rest);
    } else if (key == "stdout") {
      c.stdout_contents = rest;
    }
  }
  return cases;
}

TEST_F(driver_test, mistaken_orders_and_redirections_lose_nothing) {
  const bool windows = windows_launcher();
  const std::string null_device = windows ? "NUL" : "/dev/null";
  ASSERT_EQ(run_palfill({path("in.png"), path("want.png")}).status, 0);
  ASSERT_EQ(run_palfill({path("in.png"), path("in.clt"), path("want-clut.png")}).status, 0);
  const std::map<std::string, std::string> named = {
      {"png", png},
      {"clut", clut_file},
      {"converted", read_file(path("want.png"))},
      {"converted-clut", read_file(path("want-clut.png"))},
      {"notes", "my notes\n"}};
  const std::string absent = "(absent)";
  const auto text = [&](std::string written) {
    for (std::size_t at; (at = written.find('$')) != std::string::npos;) {
      const std::size_t end = std::min(written.find_first_of(" \\", at), written.size());
      const std::string name = written.substr(at + 1, end - at - 1);
      written.replace(at, end - at, name == "NULL" ? null_device : path(name));
    }
    return unescaped(written);
  };
  const auto contents = [&](const std::string& expression) {
    std::string made;
    for (std::size_t at = 0, end; at < expression.size(); at = end + 3) {
      end = std::min(expression.find(" + ", at), expression.size());
      const std::string part = expression.substr(at, end - at);
      const std::size_t cut = 3;  // png:N, png-N, png@N=HH
      std::string bytes = png;
      if (part == "absent") {
        return absent;
      } else if (part.compare(0, 5, "text:") == 0) {
        bytes = text(part.substr(5));
      } else if (part.compare(0, 5, "line:") == 0) {
        bytes = text(part.substr(5)) + (windows ? "\r\n" : "\n");
      } else if (named.count(part) != 0) {
        bytes = named.at(part);
      } else if (part[cut] == ':') {
        bytes.resize(std::stoul(part.substr(cut + 1)));
      } else if (part[cut] == '-') {
        bytes.erase(std::stoul(part.substr(cut + 1)), 1);
      } else {
        const std::size_t equals = part.find('=');
        bytes.at(std::stoul(part.substr(cut + 1))) =
            static_cast<char>(std::stoi(part.substr(equals + 1), nullptr, 16));
      }
      made += bytes;
    }
    return made;
  };
  const std::vector<redirection_case> cases = read_redirections();
  ASSERT_GT(cases.size(), 20u);
  for (const redirection_case& c : cases) {
    if (c.posix && !posix_part(("/dev/stdout and pipes: " + c.name).c_str())) continue;
    SCOPED_TRACE(c.name);
    for (const char* name : {"out.png", "o.png", "notes.txt", "log.txt", "res.png"}) {
      std::filesystem::remove(path(name));
    }
    ASSERT_TRUE(write_file(path("in.png"), png));
    ASSERT_TRUE(write_file(path("in.clt"), clut_file));
    for (const auto& [name, bytes] : c.before) ASSERT_TRUE(write_file(path(name), contents(bytes)));
    std::vector<std::string> args;
    for (const std::string& arg : c.args) {
      args.push_back(arg == "NULL" ? null_device : arg[0] == '/' ? arg : path(arg));
    }
    run_options options;
    options.timeout_seconds = 20;
    options.stdout_pipe = c.pipe;
    if (!c.stdout_file.empty()) options.stdout_file = path(c.stdout_file);
    options.stdout_opened = c.mode;
    const run_result run = run_palfill(args, options);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.stdout_contents.empty() ? "" : contents(c.stdout_contents));
    EXPECT_EQ(run.err, "");
    for (const auto& [name, bytes] : c.after) {
      const bool exists = std::filesystem::exists(path(name));
      EXPECT_TRUE(exists ? read_file(path(name)) == contents(bytes) : contents(bytes) == absent)
          << name;
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
