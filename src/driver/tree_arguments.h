// palfill-tree's arguments: `[-j N] [--clut FILE] IN_DIR OUT_DIR`, and
// --help and --version. A mistake is named on standard error before the
// usage line, which goes to standard output as the command's lines do.
#ifndef PALFILL_DRIVER_TREE_ARGUMENTS_H_
#define PALFILL_DRIVER_TREE_ARGUMENTS_H_

#include <optional>
#include <vector>

#include "tree.h"

namespace palfill {

// Reads `args`, the whole command line, the invocation name first, into
// `options`. Gives the exit status of a run that ends here (the usage, the
// help or the version printed), or nothing when the run goes on.
std::optional<int> read_tree_arguments(const std::vector<command_argument>& args,
                                       tree_options& options);

}  // namespace palfill

#endif  // PALFILL_DRIVER_TREE_ARGUMENTS_H_
