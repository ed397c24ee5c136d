// palfill-tree's arguments, in its three forms:
//   [-j N] [--clut FILE] IN_DIR OUT_DIR      convert
//   --plan [--clut FILE] IN_DIR              print the plan
//   [-j N] --use-plan FILE IN_DIR OUT_DIR    convert what a plan says
// and --help and --version. A mistake is named on standard error before
// the usage, which goes to standard output as the command's lines do.
#ifndef PALFILL_DRIVER_TREE_ARGUMENTS_H_
#define PALFILL_DRIVER_TREE_ARGUMENTS_H_

#include <optional>
#include <vector>

#include "tree.h"

namespace palfill {

struct tree_request {
  tree_options options;
  bool plan = false;
  std::optional<command_argument> use_plan;
};

// Reads `args`, the whole command line, the invocation name first, into
// `request`. Gives the exit status of a run that ends here (the usage, the
// help or the version printed), or nothing when the run goes on.
std::optional<int> read_tree_arguments(const std::vector<command_argument>& args,
                                       tree_request& request);

}  // namespace palfill

#endif  // PALFILL_DRIVER_TREE_ARGUMENTS_H_
