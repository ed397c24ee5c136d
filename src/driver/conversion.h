// The command's conversion of files, `palfill INPUT [CLUT] OUTPUT`, with
// every check the command makes, up to the line it would print. Prints
// nothing. palfill, palfill-tree and the Python package all convert here.
//
// It never replaces a file that it could not have written itself and never
// reads its own standard output. The order of the checks is the command's:
// standard output named as an input, the CLUT, the input, the same file
// twice, an output that is someone's data, then the conversion.
//
// palfill-tree adds its own rules (see output_tree): it reads regular
// files alone, never waiting on a pipe, and writes only below OUT_DIR.
#ifndef PALFILL_DRIVER_CONVERSION_H_
#define PALFILL_DRIVER_CONVERSION_H_

#include <atomic>
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
  const file_system* files = &native_files();
  // palfill-tree's reading: regular files alone, opened without waiting,
  // so that a pipe or a device named like an image never holds the walk.
  bool regular_files_only = false;
  // Once set, conversions stop reading: a run told to stop.
  const std::atomic<bool>* stop = nullptr;
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
enum class existing_output { palfill_may_replace, someones_data, unreadable };
existing_output judge_existing_output(const native_path& output, const conversion_setup& setup,
                                      int* error_number);

// The failure of a run that would read `name`, the file of `role`, while
// it is the process's own standard output, a pipe: it would wait for
// itself for ever.
std::optional<file_conversion> reads_own_output(const command_argument& name,
                                                file_conversion::role role,
                                                const conversion_setup& setup);

// Where palfill-tree's outputs go: below OUT_DIR, which may itself be a
// link, but never through a link below it, and never inside IN_DIR unless
// OUT_DIR is inside IN_DIR. The folders on the way are made as outputs
// need them. One for each thread that converts: it remembers the last
// folder it found fit, so that the images of one folder check it once.
struct output_tree {
  command_argument out_dir;  // as typed, without a trailing separator
  file_identity in_dir;
  bool out_dir_made = false;  // OUT_DIR is there, made with the folders above it
  bool out_dir_is_in_dir = false;
  native_path fit_folder;
};

// Converts `input` with `colours` into `output`. With `tree`, `output`
// lies below its OUT_DIR, and its folder is checked and made first. The
// caller has checked, with reads_own_output(), that `input` is not
// standard output.
file_conversion convert_files(const command_argument& input, const colour_source& colours,
                              const command_argument& output, const conversion_setup& setup,
                              output_tree* tree = nullptr);

// All of it in one call, as palfill does it; `clut` may be null.
file_conversion convert_files(const command_argument& input, const command_argument* clut,
                              const command_argument& output);

}  // namespace palfill

#endif  // PALFILL_DRIVER_CONVERSION_H_
