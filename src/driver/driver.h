// The palfill command, `palfill in.png [in.clt] out.png`: seeds the palette
// table, applies the CLUT file when one is named, then copies the PNG with
// its palette inserted. Prints exactly one line on standard output, nothing
// on standard error, and returns the exit status: 0 after a completed
// conversion, 1 after any failure it reports.
#ifndef PALFILL_DRIVER_DRIVER_H_
#define PALFILL_DRIVER_DRIVER_H_

#include <filesystem>
#include <string>
#include <vector>

struct command_argument {
  std::filesystem::path path;  // the name as the file system takes it
  std::string text;            // the name as palfill prints it: as typed
};

// `args` is the whole command line, the invocation name first.
int run_palfill(const std::vector<command_argument>& args);

#endif  // PALFILL_DRIVER_DRIVER_H_
