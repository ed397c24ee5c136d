// palfill-tree, `palfill-tree [-j N] [--clut FILE] IN_DIR OUT_DIR`: every
// file under IN_DIR whose name ends in .png (any letter case) converted to
// the same relative path under OUT_DIR, exactly as `palfill IN [CLUT] OUT`
// would convert it alone, several at once.
//
// Which CLUT an image takes: the one named for every image; otherwise the
// one CLUT file (a name ending in .clt, any case) in the image's folder or,
// without one, in the nearest folder above it up to IN_DIR; otherwise the
// default colours. A folder with two or more CLUT files is not guessed at:
// its images, and those below that would take their colours from it, fail.
//
// Folders and files are taken as they are seen under IN_DIR, links
// followed, so a folder linked under two names converts under both. A link
// to a folder it is inside of ends the walk where it stands, reported. An
// OUT_DIR inside IN_DIR is never walked into. Memory stays the same
// whatever the number of files: the walk holds the listings of the
// folders it is in, and a few images per job.
#ifndef PALFILL_DRIVER_TREE_H_
#define PALFILL_DRIVER_TREE_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "conversion.h"

namespace palfill {

struct tree_options {
  command_argument in_dir;
  command_argument out_dir;
  std::optional<command_argument> clut;  // one CLUT for every image
  unsigned jobs = 0;                     // images converted at once; 0: one per processor
  bool show_progress = false;            // a line on the terminal, redrawn in place
};

// A failure, in the line format of palfill-tree: `path` is IN_PATH (IN_DIR
// joined with the image's relative path by the platform's separator), and
// `line` the command's line for it, with its newline.
struct tree_failure {
  std::string path;
  std::string line;
};

struct tree_result {
  std::size_t converted = 0;
  std::size_t failed = 0;
  // Set when the walk could not start (IN_DIR cannot be read): its line,
  // and the errno value of the call that failed.
  std::optional<std::string> could_not_start;
  int error_number = 0;
};

// Converts the tree. `report` gets each failure on the calling thread, in
// the order of their relative paths compared byte by byte, whatever the
// number of jobs.
tree_result convert_tree(const tree_options& options,
                         const std::function<void(const tree_failure&)>& report);

// The command: `args` is the whole command line, the invocation name
// first. Prints a line for each failure, then the summary, and returns the
// exit status: 0 when every image converted, 1 when any failed, 2 when the
// run could not start.
int run_palfill_tree(const std::vector<command_argument>& args);

}  // namespace palfill

#endif  // PALFILL_DRIVER_TREE_H_
