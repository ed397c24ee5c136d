#include "tree.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "job_queue.h"
#include "messages/messages.h"
#include "plan/planner.h"
#include "tree_walk.h"

namespace palfill {
namespace {

using colours_ptr = std::shared_ptr<const colour_source>;

// One rendering to convert, or a line known without converting (a refused
// CLUT, a file that is not a regular one, a folder left out).
struct tree_task {
  std::string who;
  command_argument input;
  command_argument output;
  colours_ptr colours;  // null when `line` is already known
  std::string line;
  bool image = false;  // counts among the images found
  bool failed = true;
  bool out_of_memory = false;  // its line is made when it is reported
};

void convert_task(tree_task& task, const conversion_setup& setup, output_tree& outputs) {
  try {
    const file_conversion done =
        convert_files(task.input, *task.colours, task.output, setup, &outputs);
    task.failed = done.status != 0;
    task.line = done.line;
  } catch (const std::bad_alloc&) {
    task.out_of_memory = true;
  }
}

// The colours of a CLUT file, its failure as palfill-tree says it.
colours_ptr tree_colours(const command_argument& clut, const conversion_setup& setup) {
  colour_source source = load_clut_file(clut, setup);
  if (source.failure && !source.failure->file_failure) {
    source.failure->line = tree_clut_failure_line(
        source.failure->line, palfill_result(source.failure->result), clut.text);
  }
  return std::make_shared<const colour_source>(std::move(source));
}

// A folder the conversion walk is in: where it is, its files, what the
// plan made of them, and its own CLUT once an image wants it.
struct folder_state {
  walk_folder where;
  std::vector<folder_entry> files;
  std::vector<rendering> renderings;
  colours_ptr clut;
};

struct tree_run {
  tree_run(const tree_options& given, tree_events& told) : options(given), events(told) {}
  const tree_options& options;
  tree_events& events;
  conversion_setup setup;
  planner plan;
  std::vector<folder_state> folders;
  colours_ptr given;     // --clut's
  colours_ptr defaults;  // made when first wanted
  job_queue<tree_task> queue;
  std::vector<output_tree> outputs;  // one for each thread
  tree_result result;
};

// The colours a rendering takes, or null after setting `task.line`.
colours_ptr colours_for(tree_run& run, const rendering& taken, tree_task& task) {
  switch (taken.clut.what) {
    case clut_choice::kind::given:
      return run.given;
    case clut_choice::kind::defaults:
      if (!run.defaults) run.defaults = std::make_shared<const colour_source>(default_colours());
      return run.defaults;
    case clut_choice::kind::refused:
    case clut_choice::kind::tree_file:
      break;
  }
  // A refused CLUT names its folder; a CLUT file lies in one.
  const bool refused = taken.clut.what == clut_choice::kind::refused;
  const std::size_t slash = refused ? std::string::npos : taken.clut.path.rfind('/');
  const std::string folder = refused                      ? taken.clut.path
                             : slash == std::string::npos ? ""
                                                          : taken.clut.path.substr(0, slash);
  for (auto frame = run.folders.rbegin(); frame != run.folders.rend(); ++frame) {
    if (frame->where.path != folder) continue;
    if (refused) {
      task.line = more_than_one_clut_line(frame->where.in.text);
      return nullptr;
    }
    if (!frame->clut) {
      const std::string name = taken.clut.path.substr(slash + 1);
      frame->clut = tree_colours(joined_argument(frame->where.in, native_name(name)), run.setup);
    }
    return frame->clut;
  }
  return nullptr;  // the plan names a folder the walk is not in: never
}

void report(tree_run& run, tree_task& task) {
  if (task.out_of_memory) task.line = out_of_memory_line();
  if (!task.failed) {
    ++run.result.converted;
  } else {
    ++run.result.failed;
    run.events.report(tree_failure{task.who, task.line});
  }
  if (task.image) ++run.events.done;
  if (run.events.counted) run.events.counted();
}

void submit(tree_run& run, tree_task task) {
  const bool needs_work = task.colours != nullptr;
  const auto reporter = [&run](tree_task& done) { report(run, done); };
  submit_job(run.queue, std::move(task), needs_work, reporter);
}

// What the conversion makes of the walk: each image's renderings in turn.
walk_visitor conversion_visitor(tree_run& run) {
  walk_visitor visitor;
  visitor.enter = [&run](const walk_folder& folder, const std::vector<folder_entry>& files) {
    std::vector<std::string> names;
    for (const folder_entry& file : files) names.push_back(printed_name(file.name));
    folder_state state{folder, files, plan_folder(run.plan, folder.path, names), nullptr};
    std::vector<std::string> keys;
    for (const rendering& taken : state.renderings) keys.push_back(taken.name);
    if (!run.events.count_first) run.events.found += keys.size();
    run.folders.push_back(std::move(state));
    return keys;
  };
  visitor.visit = [&run](const walk_folder&, std::size_t item) {
    const folder_state& here = run.folders.back();
    const rendering& taken = here.renderings[item];
    const folder_entry& image = here.files[taken.image_index];
    tree_task task;
    task.image = true;
    task.input = joined_argument(here.where.in, image.name);
    task.output = joined_argument(here.where.out, native_name(taken.name));
    task.who = here.where.in.text + path_separator + taken.name;
    if (image.type != file_identity::kind::regular && image.type != file_identity::kind::none) {
      task.line = not_regular_file_line(task.input.text);
    } else {
      task.colours = colours_for(run, taken, task);
    }
    submit(run, std::move(task));
  };
  visitor.leave = [&run]() {
    run.folders.pop_back();
    leave_folder(run.plan);
  };
  visitor.left_out = [&run](const std::string& who, const std::string& line) {
    tree_task task;
    task.who = who;
    task.line = line;
    submit(run, std::move(task));
  };
  return visitor;
}

// A walk that only counts the images, for a total known from the start.
walk_visitor counting_visitor(tree_events& events) {
  walk_visitor visitor;
  visitor.enter = [&events](const walk_folder&, const std::vector<folder_entry>& files) {
    for (const folder_entry& file : files) events.found += is_image_name(printed_name(file.name));
    return std::vector<std::string>();
  };
  visitor.visit = [](const walk_folder&, std::size_t) {};
  visitor.leave = []() {};
  visitor.left_out = [](const std::string&, const std::string&) {};
  return visitor;
}

// Ends the queue's threads however the run ends.
struct jobs_ended {
  job_queue<tree_task>& queue;
  ~jobs_ended() { abandon_jobs(queue); }
};

void run_tree(tree_run& run) {
  const tree_options& options = run.options;
  walk_options walk;
  walk.in_dir = without_trailing_separators(options.in_dir);
  walk.out_dir = without_trailing_separators(options.out_dir);
  walk.files = run.setup.files;
  walk.stop = &run.events.stop;
  if (run.events.count_first) {
    walk_visitor counting = counting_visitor(run.events);
    const env_status walked = walk_tree(walk, counting);
    if (!walked.ok()) {
      run.result.could_not_start = cant_open_folder_line(options.in_dir.text);
      run.result.error_number = walked.error;
      return;
    }
  }
  if (options.clut) run.given = tree_colours(*options.clut, run.setup);
  run.plan.clut_for_every_image = options.clut.has_value();

  const unsigned jobs = options.jobs != 0 ? options.jobs : processor_count();
  output_tree outputs;
  outputs.out_dir = walk.out_dir;
  outputs.in_dir = run.setup.files->identify(walk.in_dir.path);
  run.outputs.assign(jobs, outputs);
  start_jobs<tree_task>(run.queue, jobs, 16, [&run](tree_task& task, std::size_t thread) {
    convert_task(task, run.setup, run.outputs[thread]);
  });
  jobs_ended ended{run.queue};
  walk_visitor converting = conversion_visitor(run);
  const env_status walked = walk_tree(walk, converting);
  if (!walked.ok()) {
    run.result.could_not_start = cant_open_folder_line(options.in_dir.text);
    run.result.error_number = walked.error;
    return;
  }
  if (run.events.stop) return;  // what is in the queue goes unreported
  const auto reporter = [&run](tree_task& done) { report(run, done); };
  finish_jobs(run.queue, reporter);
}

}  // namespace

tree_result convert_tree(const tree_options& options, tree_events& events) {
  tree_run run{options, events};
  run.setup.standard_output = identify_stdout();
  run.setup.regular_files_only = true;
  run.setup.stop = &events.stop;
  try {
    run_tree(run);
  } catch (const std::bad_alloc&) {
    run.result.could_not_go_on = tree_out_of_memory_line();
  }
  return run.result;
}

}  // namespace palfill
