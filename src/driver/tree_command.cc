#include "tree_command.h"

#include <new>

#include "messages/messages.h"
#include "progress.h"
#include "tree.h"
#include "tree_arguments.h"

namespace palfill {
namespace {

// A line as palfill-tree prints it: no name in it can end it, erase it or
// forge another.
void print(const std::string& line) {
  write_stdout(without_controls(line));
}

// The line that ends the run. When standard output goes elsewhere, a
// terminal on standard error hears it too.
int end_with(const std::string& line, int status) {
  print(line);
  if (!stdout_is_terminal() && stderr_is_terminal()) write_stderr(without_controls(line));
  return status;
}

int run(const std::vector<command_argument>& args) {
  tree_options options;
  if (const std::optional<int> status = read_tree_arguments(args, options)) return *status;
  tree_events events;
  progress_line progress;
  progress.shown = stderr_is_terminal();
  events.count_first = progress.shown;
  events.report = [&progress](const tree_failure& failure) {
    erase_progress(progress);
    print(failure.path + ": " + failure.line);
  };
  events.counted = [&]() { draw_progress(progress, events.done, events.found, false); };
  const tree_result result = convert_tree(options, events);
  if (result.could_not_start) return end_with(*result.could_not_start, 2);
  draw_progress(progress, events.done, events.found, true);
  erase_progress(progress);
  if (result.could_not_go_on) return end_with(*result.could_not_go_on, 2);
  return end_with(
      tree_summary_line(options.in_dir.text, options.out_dir.text, result.converted, result.failed),
      result.failed == 0 ? 0 : 1);
}

}  // namespace

int run_palfill_tree(const std::vector<command_argument>& args) {
  try {
    return run(args);
  } catch (const std::bad_alloc&) {  // before the run, or after it
    return end_with(tree_out_of_memory_line(), 2);
  }
}

}  // namespace palfill
