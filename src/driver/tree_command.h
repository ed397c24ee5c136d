// The palfill-tree command, `palfill-tree [-j N] [--clut FILE] IN_DIR
// OUT_DIR` (see tree.h for the run, palfill-tree(1) for the user).
#ifndef PALFILL_DRIVER_TREE_COMMAND_H_
#define PALFILL_DRIVER_TREE_COMMAND_H_

#include <vector>

#include "conversion.h"

namespace palfill {

// `args` is the whole command line, the invocation name first. Prints a
// line for each failure, then the summary, and returns the exit status: 0
// when every image converted, 1 when anything failed, 2 when the run could
// not start or could not go on.
int run_palfill_tree(const std::vector<command_argument>& args);

}  // namespace palfill

#endif  // PALFILL_DRIVER_TREE_COMMAND_H_
