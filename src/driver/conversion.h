// The command's conversion of files, `palfill INPUT [CLUT] OUTPUT`, with
// every check the command makes, up to the line it would print. Prints
// nothing. palfill, palfill-tree and the Python package all convert here.
//
// It never replaces a file that it could not have written itself and never
// reads its own standard output. The order of the checks is the command's:
// standard output named as an input, the CLUT, the input, the same file
// twice, an output that is someone's data, then the conversion.
#ifndef PALFILL_DRIVER_CONVERSION_H_
#define PALFILL_DRIVER_CONVERSION_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "env.h"
#include "palfill.h"

namespace palfill {

struct command_argument {
  native_path path;  // the name as the platform takes it
  std::string text;  // the name as palfill prints it: as typed
};

// The arguments of main(), or of wmain() on Windows, which gets them in
// UTF-16 and so spells any name the system allows.
template <typename native_char>
std::vector<command_argument> command_line(int argc, native_char** argv) {
  std::vector<command_argument> args;
  for (int i = 0; i < argc; ++i) {
    native_path path(argv[i]);
    args.push_back(command_argument{path, printed_name(path)});
  }
  return args;
}

// How a conversion of files ended.
struct file_conversion {
  int status;        // the exit status: 0 or 1
  std::string line;  // the command's line, with its newline
  // The library's palfill_result, or -1 when the library never ran (a file
  // could not be opened, the same file twice, an output that is not a PNG).
  int result;
  // The failure lies with the files rather than their bytes: they could
  // not be opened, read or written, were the same, or the output is
  // someone's data. Then `failed_file` says which, and `error_number` the
  // errno value of the call that failed (0 where none did).
  bool file_failure;
  enum class role { none, input, clut, output } failed_file = role::none;
  int error_number = 0;
};

// What stays the same over the conversions of one process.
struct conversion_setup {
  file_identity standard_output;
};

// The colours conversions take: the default colours, or those of a CLUT
// file, loaded once for any number of conversions on any threads.
struct colour_source {
  std::optional<command_argument> clut;  // none: the default colours
  file_identity clut_identity;
  std::shared_ptr<palfill_colours> colours;
  std::optional<file_conversion> failure;  // how every conversion with them ends
};
colour_source default_colours();
colour_source load_clut_file(const command_argument& clut, const conversion_setup& setup);

// What an existing regular file named as the output is: one palfill could
// have written itself (see begins_as_palfill_writes()), which it may
// replace; someone's data, named as the output by mistake; or one it
// cannot read (*error_number says why), which it cannot tell either way.
enum class existing_output { palfills, someones_data, unreadable };
existing_output judge_existing_output(const native_path& output, int* error_number);

// The failure of a run that would read `name`, the file of `role`, while
// it is the process's own standard output, a pipe: it would wait for
// itself for ever.
std::optional<file_conversion> reads_own_output(const command_argument& name,
                                                file_conversion::role role,
                                                const conversion_setup& setup);

// Makes `path` a folder, with the folders above it; true when it is one.
bool make_folders(const native_path& path);

// Where palfill-tree makes the folder of each output, right before the
// output is created: the last one made, so that the images of one folder
// make it once.
struct output_folders {
  native_path last;
};

// Converts `input` with `colours` into `output`; `folders`, when given,
// makes the output's folder first. The caller has checked, with
// reads_own_output(), that `input` is not standard output.
file_conversion convert_files(const command_argument& input, const colour_source& colours,
                              const command_argument& output, output_folders* folders = nullptr);

// All of it in one call, as palfill does it; `clut` may be null.
file_conversion convert_files(const command_argument& input, const command_argument* clut,
                              const command_argument& output);

}  // namespace palfill

#endif  // PALFILL_DRIVER_CONVERSION_H_
