// The palfill command, `palfill in.png [in.clt] out.png`: seeds the
// colours, applies the CLUT file when one is named, then copies the PNG
// with its palette inserted. Prints exactly one line on standard output,
// nothing on standard error, and returns the exit status: 0 after a
// completed conversion, 1 after any failure it reports.
//
// It never replaces a file that it could not have written itself, never
// writes its line into the input, the CLUT or a file it refused as the
// output, and never reads its own standard output.
#ifndef PALFILL_DRIVER_DRIVER_H_
#define PALFILL_DRIVER_DRIVER_H_

#include <filesystem>
#include <string>
#include <vector>

#include "palfill.h"

struct command_argument {
  std::filesystem::path path;  // the name as the file system takes it
  std::string text;            // the name as palfill prints it: as typed
};

// How a conversion of files ended.
struct file_conversion {
  int status;        // the exit status: 0 or 1
  std::string line;  // the command's line, with its newline
  // The library's palfill_result, or -1 when the library never ran (the
  // CLUT or an image could not be opened, the same file twice, an output
  // that is not a PNG).
  int result;
  // The failure lies with the files rather than their bytes: they could
  // not be opened, read or written, were the same, or the output is
  // someone's data.
  bool file_failure;
};

// The command's line, with its newline, for a result of the library:
// `reading` is the file being read (the input, or the CLUT while it loads),
// named by "Finished" and "Can't read file".
std::string result_line(palfill_result result, const std::string& reading, const std::string& clut,
                        const std::string& output);

// `palfill INPUT [CLUT] OUTPUT` with every check the command makes, up to
// the line it would print; prints nothing. `clut` may be null.
file_conversion convert_files(const command_argument& input, const command_argument* clut,
                              const command_argument& output);

// The command: `args` is the whole command line, the invocation name
// first. Prints its line where it belongs and returns the exit status.
int run_palfill(const std::vector<command_argument>& args);

#endif  // PALFILL_DRIVER_DRIVER_H_
