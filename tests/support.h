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

#include "palette/clut_reader.h"

struct run_result {
  int status = -1;      // exit status, or -1 when the process did not exit normally
  std::string out;      // standard output, a final CRLF (the Windows line end) read as LF
  std::string raw_out;  // standard output as written
  std::string err;      // standard error
  long peak_rss_kib = 0;
};

struct run_options {
  bool pipe_stdin = false;  // feed `stdin_bytes`, or the file `stdin_file`, through a pipe
  std::string stdin_bytes;
  std::string stdin_file;
  bool stdout_pipe = false;               // standard output is a pipe rather than a file
  unsigned long address_space_limit = 0;  // bytes; 0 for none
  std::string argv0 = "palfill";          // not under a launcher, which names the program itself
};

// `args` are the arguments after the invocation name, passed unchanged.
run_result run_palfill(const std::vector<std::string>& args, const run_options& options = {});

// True when palfill runs through a launcher.
bool under_launcher();

// Skips the whole test under a launcher, saying what it needs that only
// POSIX offers.
#define SKIP_UNDER_LAUNCHER(needs) \
  if (under_launcher()) GTEST_SKIP() << "needs " << needs << ", which only POSIX offers"

// For a part of a test that needs what only POSIX offers: false under a
// launcher, where the part is reported as skipped with what it needs.
bool posix_part(const char* needs);

// Loads CLUT bytes held in memory into `table`.
clut_result load_clut_bytes(const std::string& clut, palette_table& table);

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
