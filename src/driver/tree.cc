#include "tree.h"

#include <map>
#include <memory>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "job_queue.h"
#include "messages/plan_lines.h"
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

// A folder the walk is in: where, its files, what the plan made of them,
// and its own CLUT once an image wants it.
struct folder_state {
  walk_folder where;
  std::vector<folder_entry> files;
  folder_plan planned;
  colours_ptr clut;
};

struct tree_run {
  tree_run(const tree_options& given, tree_events& told) : options(given), events(told) {}
  const tree_options& options;
  tree_events& events;
  walk_options walk;
  conversion_setup setup;
  planner plan;
  std::vector<folder_state> folders;
  colours_ptr given;                         // --clut's
  colours_ptr defaults;                      // made when first wanted
  std::map<std::string, colours_ptr> cluts;  // those documents or a plan name, by their path
  job_queue<tree_task> queue;
  std::vector<output_tree> outputs;       // one for each thread
  std::vector<unsigned char> read_block;  // the walk's reads of documents and sheets
  tree_result result;
};

// `path`, relative to IN_DIR with '/' between names, under `top` (IN_DIR or
// OUT_DIR), as the platform takes it and as lines name it.
command_argument below(const command_argument& top, const std::string& path) {
  command_argument joined = top;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    joined = joined_argument(joined, native_name(path.substr(at, slash - at)));
    at = slash + 1;
  }
  return joined;
}

// ---- What the plan says of a rendering.

// How lines name a path relative to IN_DIR.
path_namer in_tree(const tree_run& run) {
  return [&run](const std::string& path) { return below(run.walk.in_dir, path).text; };
}

// The default colours, made when first wanted.
colours_ptr defaults_of(tree_run& run) {
  if (!run.defaults) run.defaults = std::make_shared<const colour_source>(default_colours());
  return run.defaults;
}

// The colours a rendering takes, loaded once for all that take them.
colours_ptr colours_for(tree_run& run, const rendering& taken) {
  switch (taken.clut.what) {
    case clut_choice::kind::given:
      return run.given;
    case clut_choice::kind::defaults:
      return defaults_of(run);
    default:
      break;
  }
  // A folder's own CLUT goes with the folder; those documents name, with the run.
  if (taken.why == rendering::reason::folder) {
    const std::string& path = taken.clut.path;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
    for (auto frame = run.folders.rbegin(); frame != run.folders.rend(); ++frame) {
      if (frame->where.path != folder) continue;
      if (!frame->clut) frame->clut = tree_colours(below(run.walk.in_dir, path), run.setup);
      return frame->clut;
    }
  }
  colours_ptr& kept = run.cluts[taken.clut.path];
  if (!kept) kept = tree_colours(below(run.walk.in_dir, taken.clut.path), run.setup);
  return kept;
}

// ---- The walks.

// Reads a file of the tree for the planner: a regular file alone.
std::optional<read_problem> read_tree_file(
    tree_run& run, const std::string& path,
    const std::function<void(const unsigned char*, std::size_t)>& take) {
  const file_system& files = *run.setup.files;
  int file = no_file;
  file_identity identity;
  env_status status = files.open_for_reading(below(run.walk.in_dir, path).path,
                                             read_mode::never_block, &file, &identity);
  if (!status.ok()) return read_problem{read_problem::kind::cannot_open, "", false, status.error};
  if (identity.type != file_identity::kind::regular) {
    files.close(file);
    return read_problem{read_problem::kind::not_regular, "", false, 0};
  }
  // One block for every file: hundreds of documents, a fresh one each
  // would cost more than reading them.
  std::vector<unsigned char>& block = run.read_block;
  block.resize(64 << 10);
  for (std::size_t given = block.size(); status.ok() && given == block.size();) {
    status = files.read(file, block.data(), block.size(), &given);
    take(block.data(), given);
  }
  files.close(file);
  if (!status.ok()) return read_problem{read_problem::kind::read_failed, "", false, status.error};
  return std::nullopt;
}

// The first walk: counts the images and reads the documents.
walk_visitor reading_visitor(tree_run& run) {
  walk_visitor visitor;
  visitor.enter = [&run](const walk_folder& folder, const std::vector<folder_entry>& files) {
    for (const folder_entry& file : files) {
      const std::string name = printed_name(file.name);
      run.events.found += is_image_name(name);
      if (run.given || !is_document_name(name)) continue;
      read_document(run.plan, relative_path(folder.path, name),
                    [&run](const std::string& path, const auto& take) {
                      return read_tree_file(run, path, take);
                    });
    }
    return std::vector<std::string>();
  };
  visitor.visit = [](const walk_folder&, std::size_t) {};
  visitor.leave = []() {};
  visitor.left_out = [](const std::string&, const std::string&) {};
  return visitor;
}

// The second walk, whatever is made of each rendering: `rendered` gets it,
// `failed` each line known without it.
walk_visitor planning_visitor(
    tree_run& run, std::function<void(const folder_state&, const rendering&)> rendered,
    std::function<void(const std::string& who, const std::string& line)> failed) {
  walk_visitor visitor;
  visitor.enter = [&run](const walk_folder& folder, const std::vector<folder_entry>& files) {
    std::vector<std::string> names;
    for (const folder_entry& file : files) names.push_back(printed_name(file.name));
    folder_state state{folder, files, plan_folder(run.plan, folder.path, names), nullptr};
    std::vector<std::string> keys;
    for (const rendering& taken : state.planned.renderings) keys.push_back(taken.name);
    for (const document_notice& notice : state.planned.notices) keys.push_back(notice.name);
    run.folders.push_back(std::move(state));
    return keys;
  };
  visitor.visit = [&run, rendered, failed](const walk_folder&, std::size_t item) {
    const folder_state& here = run.folders.back();
    const std::vector<rendering>& renderings = here.planned.renderings;
    if (item < renderings.size()) return rendered(here, renderings[item]);
    const document_notice& notice = here.planned.notices[item - renderings.size()];
    const std::string who = below(here.where.in, notice.name).text;
    for (const read_problem& problem : notice.problems) {
      failed(who, read_problem_line(problem, in_tree(run)));
    }
  };
  visitor.leave = [&run]() {
    run.folders.pop_back();
    leave_folder(run.plan);
  };
  visitor.left_out = failed;
  return visitor;
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

void submit_failure(tree_run& run, const std::string& who, const std::string& line) {
  tree_task task;
  task.who = who;
  task.line = line;
  submit(run, std::move(task));
}

// The rendering as a task: its files, and its colours or its line.
tree_task rendering_task(tree_run& run, const folder_state& here, const rendering& taken) {
  const folder_entry& image = here.files[taken.image_index];
  tree_task task;
  task.image = true;
  task.input = joined_argument(here.where.in, image.name);
  task.output = joined_argument(here.where.out, native_name(taken.name));
  task.who = here.where.in.text + path_separator + taken.name;
  if (const auto line = known_failure_line(here.where.path, taken, in_tree(run))) {
    task.line = *line;
  } else if (image.type != file_identity::kind::regular &&
             image.type != file_identity::kind::none) {
    task.line = not_regular_file_line(task.input.text);
  } else {
    task.colours = colours_for(run, taken);
  }
  return task;
}

// Ends the queue's threads however the run ends.
struct jobs_ended {
  job_queue<tree_task>& queue;
  ~jobs_ended() { abandon_jobs(queue); }
};

void start_converting(tree_run& run) {
  const unsigned jobs = run.options.jobs != 0 ? run.options.jobs : processor_count();
  output_tree outputs;
  outputs.out_dir = run.walk.out_dir;
  outputs.in_dir = run.setup.files->identify(run.walk.in_dir.path);
  run.outputs.assign(jobs, outputs);
  start_jobs<tree_task>(run.queue, jobs, 16, [&run](tree_task& task, std::size_t thread) {
    convert_task(task, run.setup, run.outputs[thread]);
  });
}

void finish_converting(tree_run& run) {
  if (run.events.stop) return;  // what is in the queue goes unreported
  const auto reporter = [&run](tree_task& done) { report(run, done); };
  finish_jobs(run.queue, reporter);
}

// Walks the tree once with `visitor`; false, with the run's result saying
// why, when IN_DIR cannot be read.
bool walked(tree_run& run, walk_visitor& visitor) {
  const env_status status = walk_tree(run.walk, visitor);
  if (status.ok()) return true;
  run.result.could_not_start = cant_open_folder_line(run.options.in_dir.text);
  run.result.error_number = status.error;
  return false;
}

// Sets the run up, and runs `body` with every failure of memory caught.
template <typename Body>
tree_result run_tree(const tree_options& options, tree_events& events, Body body) {
  tree_run run(options, events);
  run.walk.in_dir = without_trailing_separators(options.in_dir);
  run.walk.out_dir = without_trailing_separators(options.out_dir);
  run.walk.stop = &events.stop;
  run.setup.standard_output = identify_stdout();
  run.setup.regular_files_only = true;
  run.setup.stop = &events.stop;
  run.walk.files = run.setup.files;
  try {
    if (options.clut) run.given = tree_colours(*options.clut, run.setup);
    run.plan.clut_for_every_image = options.clut.has_value();
    jobs_ended ended{run.queue};
    body(run);
  } catch (const std::bad_alloc&) {
    run.result.could_not_go_on = tree_out_of_memory_line();
  }
  return run.result;
}

// A relative path a plan may name: no root, no "." or ".." and no empty
// name in it.
bool plain_relative(const std::string& path) {
  const native_path native = native_name(path);
  if (path.empty() || native.has_root_name() || native.has_root_directory()) return false;
  for (std::size_t at = 0; at <= path.size();) {
    std::size_t end = path.find('/', at);
    if (path_separator != '/') end = std::min(end, path.find(path_separator, at));
    end = std::min(end, path.size());
    const std::string name = path.substr(at, end - at);
    if (name.empty() || name == "." || name == "..") return false;
    at = end + 1;
  }
  return true;
}

}  // namespace

tree_result convert_tree(const tree_options& options, tree_events& events) {
  return run_tree(options, events, [](tree_run& run) {
    walk_visitor reading = reading_visitor(run);
    if (!walked(run, reading)) return;
    start_converting(run);
    walk_visitor converting = planning_visitor(
        run,
        [&run](const folder_state& here, const rendering& taken) {
          submit(run, rendering_task(run, here, taken));
        },
        [&run](const std::string& who, const std::string& line) {
          submit_failure(run, who, line);
        });
    if (!walked(run, converting)) return;
    finish_converting(run);
  });
}

tree_result plan_tree(const tree_options& options,
                      const std::function<void(const plan_fields&)>& row, tree_events& events) {
  return run_tree(options, events, [&](tree_run& run) {
    walk_visitor reading = reading_visitor(run);
    if (!walked(run, reading)) return;
    std::string given;
    if (options.clut) {
      std::error_code error;
      given = printed_name(std::filesystem::absolute(options.clut->path, error));
    }
    walk_visitor planning = planning_visitor(
        run,
        [&](const folder_state& here, const rendering& taken) {
          const auto line = known_failure_line(here.where.path, taken, in_tree(run));
          if (taken.clash != rendering::clash::none) {  // no row: its output is another's
            ++run.result.failed;
            return run.events.report(
                tree_failure{here.where.in.text + path_separator + taken.name, *line});
          }
          ++run.result.converted;
          ++run.events.done;
          row(plan_row(here.where.path, taken, given, line));
        },
        [&run](const std::string& who, const std::string& line) {
          ++run.result.failed;
          run.events.report(tree_failure{who, line});
        });
    walked(run, planning);
  });
}

namespace {

// Whether the input at `path` lies inside OUT_DIR, which the walk never
// enters: its outputs are no inputs. `checked` is the last folder found
// outside it.
bool inside_out_dir(const tree_run& run, const std::string& path, std::string& checked) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
  if (folder == checked) return false;
  const file_identity out_dir = run.setup.files->identify(run.walk.out_dir.path);
  for (std::size_t at = 0; !folder.empty();) {  // each folder below IN_DIR on the way
    const std::size_t end = folder.find('/', at);
    const command_argument inside = below(run.walk.in_dir, folder.substr(0, end));
    if (same_file(run.setup.files->identify(inside.path), out_dir)) return true;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  checked = folder;
  return false;
}

}  // namespace

tree_result convert_plan(const tree_options& options, const plan_source& rows,
                         tree_events& events) {
  return run_tree(options, events, [&](tree_run& run) {
    start_converting(run);
    std::set<std::string> outputs;
    std::string outside_out_dir = "\n";  // no folder yet
    for (plan_entry entry; !run.events.stop && rows(entry);) {
      const plan_fields& fields = entry.fields;
      ++run.events.found;
      if (!entry.failure.empty()) {
        submit_failure(run, entry.who, entry.failure);
        continue;
      }
      if (!plain_relative(fields.output) || !plain_relative(fields.input) ||
          !outputs.insert(fields.output).second) {
        submit_failure(run, entry.who, not_a_plan_line());
        continue;
      }
      tree_task task;
      task.image = true;
      task.who = below(run.walk.in_dir, fields.output).text;
      task.input = below(run.walk.in_dir, fields.input);
      task.output = below(run.walk.out_dir, fields.output);
      if (inside_out_dir(run, fields.input, outside_out_dir)) {
        task.line = input_inside_output_line(task.input.text);
      } else if (fields.clut == "!") {
        task.line = fields.why + "\n";
      } else if (fields.clut == "-") {
        task.colours = defaults_of(run);
      } else {
        colours_ptr& kept = run.cluts[fields.clut];
        const native_path native = native_name(fields.clut);
        if (!kept) {
          kept = tree_colours(native.is_absolute() ? command_argument{native, fields.clut}
                                                   : below(run.walk.in_dir, fields.clut),
                              run.setup);
        }
        task.colours = kept;
      }
      submit(run, std::move(task));
    }
    finish_converting(run);
  });
}

}  // namespace palfill
