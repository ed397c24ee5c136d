// Runs palfill as a user would and captures everything it does. By default
// that is the palfill this build made; the environment variables
// PALFILL_TEST_LAUNCHER and PALFILL_TEST_EXECUTABLE run another through a
// launcher instead, such as palfill.exe through Wine:
//   PALFILL_TEST_LAUNCHER=/usr/lib/wine/wine64
//   PALFILL_TEST_EXECUTABLE=build-windows/palfill.exe
#ifndef PALFILL_TESTS_SUPPORT_H_
#define PALFILL_TESTS_SUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "full_palette.h"
#include "palette/clut_reader.h"

struct run_result {
  int status = -1;      // exit status, or -1 when the process did not exit normally
  std::string out;      // standard output, a final CRLF (the Windows line end) read as LF
  std::string raw_out;  // standard output as written
  std::string err;      // standard error
  long peak_rss_kib = 0;
};

// How a shell opens a file for standard output: `>`, `>>` or `1<>`.
enum class stdout_mode { truncate, append, read_write };

struct run_options {
  bool pipe_stdin = false;  // feed `stdin_bytes`, or the file `stdin_file`, through a pipe
  std::string stdin_bytes;
  std::string stdin_file;
  bool stdout_pipe = false;  // standard output is a pipe rather than a file
  // Standard output opened onto this file instead, as `stdout_mode` says;
  // nothing is then captured.
  std::string stdout_file;
  stdout_mode stdout_opened = stdout_mode::truncate;
  unsigned timeout_seconds = 0;           // palfill is killed after this long (status -1)
  unsigned long address_space_limit = 0;  // bytes; 0 for none
  std::string argv0 = "palfill";          // not under a launcher, which names the program itself
  bool tree = false;                      // run palfill-tree, which stands beside palfill
  std::string cwd;                        // run in this folder; empty: the test's own
  bool stderr_terminal = false;           // standard error is a terminal (a pseudo-terminal)
  bool as_nobody = false;                 // run as user nobody, when the test runs as root
  std::vector<std::string> wrapper;       // a program that runs palfill, and its arguments
};

// `args` are the arguments after the invocation name, passed unchanged.
run_result run_palfill(const std::vector<std::string>& args, const run_options& options = {});

// True when palfill runs through a launcher: Wine for palfill.exe, or
// qemu-user for a build for another processor.
bool under_launcher();

// True when that launcher is Wine: palfill is then a Windows program.
bool windows_launcher();

// palfill as words for a POSIX shell, through the launcher when there is one.
std::string palfill_shell_words();

// Skips the whole test under Wine, saying what it needs that only POSIX
// offers.
#define SKIP_UNDER_LAUNCHER(needs) \
  if (windows_launcher()) GTEST_SKIP() << "needs " << needs << ", which only POSIX offers"

// Skips the whole test under any launcher: what it measures of the palfill
// process (its memory, its address space) is then the launcher's.
#define SKIP_UNDER_EMULATION(needs)                                            \
  if (under_launcher())                                                        \
  GTEST_SKIP() << "needs " << needs << ", which a launcher (Wine, qemu-user) " \
               << "measures of itself"

// For a part of a test that needs what only POSIX offers: false under
// Wine, where the part is reported as skipped with what it needs.
bool posix_part(const char* needs);

// A test table's text, where `\xHH` is the byte HH.
std::string unescaped(const std::string& text);

// Loads CLUT bytes held in memory into `table`.
palfill::clut_result load_clut_bytes(const std::string& clut, palette_table& table);

// A fresh folder per test, removed afterwards.
class temp_dir_test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

#endif  // PALFILL_TESTS_SUPPORT_H_
