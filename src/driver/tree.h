// palfill-tree's runs: every image under IN_DIR converted to the same
// relative path under OUT_DIR, exactly as `palfill IN [CLUT] OUT` would
// convert it alone, several at once, with the CLUT the plan gives it
// (plan/planner.h: the BML documents that show it, or its folder). The
// walk is tree_walk.h's: it decides which folders are walked, and every
// line about one left out. Outputs never go through a link below OUT_DIR,
// nor inside IN_DIR (see output_tree), and only regular files are read.
//
// The walk goes twice: first it reads the documents (and counts the
// images), then it converts. Memory stays the same whatever the number of
// files: the walk holds the entries of the folders it is in, the queue a
// few images per thread, and the planner what documents say.
#ifndef PALFILL_DRIVER_TREE_H_
#define PALFILL_DRIVER_TREE_H_

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "conversion.h"
#include "messages/messages.h"

namespace palfill {

struct tree_options {
  command_argument in_dir;
  command_argument out_dir;
  std::optional<command_argument> clut;  // one CLUT for every image, documents aside
  unsigned jobs = 0;                     // images converted at once; 0: one per processor
};

// A failure as palfill-tree prints it: `path` is WHO (IN_DIR joined with
// the relative path of what failed, by the platform's separator), and
// `line` its line, with its newline.
struct tree_failure {
  std::string path;
  std::string line;
};

// What a run tells as it goes, and how it is told to stop.
struct tree_events {
  // Each failure on the thread that runs the tree, in the order of their
  // paths compared byte by byte, whatever the number of jobs.
  std::function<void(const tree_failure&)> report;
  // Each image reported, converted or not, as that thread reports it.
  std::function<void()> counted;
  std::atomic<std::size_t> found{0};  // images found so far
  std::atomic<std::size_t> done{0};   // images reported so far
  std::atomic<bool> stop{false};      // once set, the run ends as soon as it can
};

struct tree_result {
  std::size_t converted = 0;  // planned, for a plan
  std::size_t failed = 0;
  // Set when the run could not start (IN_DIR or the plan cannot be read),
  // with its line and the errno value of the call that failed, or could
  // not go on (out of memory), with its line.
  std::optional<std::string> could_not_start;
  int error_number = 0;
  std::optional<std::string> could_not_go_on;
};

// Converts the tree.
tree_result convert_tree(const tree_options& options, tree_events& events);

// The plan of the tree, converting nothing and reading no image or CLUT:
// `row` gets each rendering, in the order of their output paths;
// `events.report` each document that cannot be read and each folder left
// out. With options.clut, the rows take that CLUT's absolute path.
tree_result plan_tree(const tree_options& options,
                      const std::function<void(const plan_fields&)>& row, tree_events& events);

// A plan's row, and how lines name it when it is no row: "FILE:N".
struct plan_entry {
  plan_fields fields;
  std::string who;
  std::string failure;  // not empty: no row came, and this line fails in its place
};
// Gives the next row, or false at the end.
using plan_source = std::function<bool(plan_entry& entry)>;

// Converts exactly what a plan says, with every guard of the walk. A row
// it cannot use (absolute paths, `..`, an output named twice) fails with
// its own line; `!` in the CLUT's place fails with the row's WHY.
tree_result convert_plan(const tree_options& options, const plan_source& rows, tree_events& events);

}  // namespace palfill

#endif  // PALFILL_DRIVER_TREE_H_
