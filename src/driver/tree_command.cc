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

// The rows of the plan file, a line at a time, named FILE:N in lines.
struct plan_file {
  const command_argument& name;
  int file = no_file;
  std::string unread;  // read from the file and not yet made a row
  bool ended = false;
  bool failed = false;  // the file could not be read to its end
  std::size_t number = 0;
};

bool next_row(plan_file& plan, plan_entry& entry) {
  std::size_t end;
  while ((end = plan.unread.find('\n')) == std::string::npos && !plan.ended) {
    unsigned char block[64 << 10];
    std::size_t given = 0;
    const env_status read = native_files().read(plan.file, block, sizeof block, &given);
    plan.unread.append(reinterpret_cast<const char*>(block), given);
    plan.failed = !read.ok();
    plan.ended = given < sizeof block || plan.failed;
  }
  if (end == std::string::npos && plan.failed) plan.unread.clear();  // a row cut short
  if (plan.unread.empty() && plan.ended) {
    if (!plan.failed) return false;
    // The rows after a failed read are lost: that is a failure, not the end.
    plan.failed = false;
    entry.who = plan.name.text;
    entry.failure = cant_read_line(plan.name.text);
    return true;
  }
  std::string line = plan.unread.substr(0, end);
  plan.unread.erase(0, end == std::string::npos ? std::string::npos : end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();  // a plan edited on Windows
  entry.who = plan.name.text + ":" + std::to_string(++plan.number);
  entry.failure = read_plan_line(line, entry.fields) ? "" : not_a_plan_line();
  return true;
}

int run(const std::vector<command_argument>& args) {
  tree_request request;
  if (const std::optional<int> status = read_tree_arguments(args, request)) return *status;
  const tree_options& options = request.options;
  tree_events events;
  progress_line progress;
  progress.shown = stderr_is_terminal() && !request.plan;
  events.report = [&](const tree_failure& failure) {
    erase_progress(progress);
    const std::string line = without_controls(failure.path + ": " + failure.line);
    if (request.plan) write_stderr(line);  // standard output holds the plan alone
    if (!request.plan) write_stdout(line);
  };
  events.counted = [&]() { draw_progress(progress, events.done, events.found, false); };
  tree_result result;
  if (request.plan) {
    result = plan_tree(
        options, [](const plan_fields& fields) { write_stdout(plan_line(fields)); }, events);
    if (result.could_not_start) return end_with(*result.could_not_start, 2);
    if (result.could_not_go_on) return end_with(*result.could_not_go_on, 2);
    return 0;
  }
  if (request.use_plan) {
    plan_file plan{*request.use_plan, no_file, "", false, false, 0};
    if (!native_files()
             .open_for_reading(plan.name.path, read_mode::wait, &plan.file, nullptr)
             .ok()) {
      return end_with(cant_open_line(plan.name.text), 2);
    }
    result = convert_plan(
        options, [&plan](plan_entry& entry) { return next_row(plan, entry); }, events);
    native_files().close(plan.file);
  } else {
    result = convert_tree(options, events);
  }
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
