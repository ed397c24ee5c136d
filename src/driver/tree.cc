#include "tree.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "messages.h"

namespace palfill {
namespace {

using colours_ptr = std::shared_ptr<const colour_source>;

bool has_suffix(const std::string& name, const char* suffix) {  // letter case aside
  const std::size_t length = std::char_traits<char>::length(suffix);
  if (name.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = name[name.size() - length + i];
    if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != suffix[i]) return false;
  }
  return true;
}

// A name as typed, without the separators it ends in, so that it joins
// with a relative path as the command would name the file; a root stays.
command_argument without_trailing_separators(command_argument name) {
  const auto trim = [](auto& text) {  // the printed name, then the native one
    while (text.size() > 1 && (text.back() == '/' || text.back() == path_separator) &&
           text[text.size() - 2] != ':') {
      text.pop_back();
    }
  };
  trim(name.text);
  auto native = name.path.native();
  trim(native);
  name.path = native_path(native);
  return name;
}

command_argument joined(const command_argument& folder, const native_path& name,
                        const std::string& text) {
  return command_argument{palfill::joined(folder.path, name), folder.text + path_separator + text};
}

// ---- Converting on several threads, reported in the walk's order.

// One image, or a line known without converting (an ambiguous folder, a
// folder that cannot be read, a loop).
struct tree_task {
  std::string in_path;
  command_argument input;
  command_argument output;
  colours_ptr colours;  // null when `line` is already known
  std::string line;
  bool failed = true;
  bool done = false;
};

void convert_task(tree_task& task, const conversion_setup& setup, output_folders& folders) {
  std::optional<file_conversion> own =
      reads_own_output(task.input, file_conversion::role::input, setup);
  const file_conversion done =
      own ? *own : convert_files(task.input, *task.colours, task.output, &folders);
  task.failed = done.status != 0;
  task.line = done.line;
}

// Tasks in the walk's order, from `first` on: workers take them from
// `next`, the walker reports them from the front once they are done. The
// window holds at most `limit`, so that memory follows the jobs, not the
// tree.
struct task_queue {
  std::mutex lock;
  std::condition_variable work_ready;
  std::condition_variable task_done;
  std::deque<tree_task> window;
  std::size_t first = 0;
  std::size_t next = 0;
  std::size_t limit = 0;
  bool closing = false;
};

void work(task_queue& queue, const conversion_setup& setup) {
  output_folders folders;
  std::unique_lock<std::mutex> held(queue.lock);
  for (;;) {
    queue.work_ready.wait(
        held, [&] { return queue.closing || queue.next < queue.first + queue.window.size(); });
    if (queue.next >= queue.first + queue.window.size()) return;  // closing, nothing left
    tree_task& task = queue.window[queue.next - queue.first];     // stays put until done
    ++queue.next;
    if (task.done) continue;
    held.unlock();
    convert_task(task, setup, folders);
    held.lock();
    task.done = true;
    queue.task_done.notify_all();
  }
}

// The progress line: images done of those found, the rate, the time left.
struct progress {
  bool shown = false;
  std::size_t total = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point drawn;
  std::size_t width = 0;
};

void erase_progress(progress& bar) {
  if (bar.width == 0) return;
  print_to_terminal("\r" + std::string(bar.width, ' ') + "\r");
  bar.width = 0;
}

void draw_progress(progress& bar, std::size_t done, bool now) {
  const auto time = std::chrono::steady_clock::now();
  if (!bar.shown || (!now && time - bar.drawn < std::chrono::milliseconds(100))) return;
  bar.drawn = time;
  const double seconds = std::chrono::duration<double>(time - bar.start).count();
  const double rate = seconds > 0 ? done / seconds : 0;
  std::string text = std::to_string(done) + "/" + std::to_string(bar.total) + " images";
  if (rate > 0) {
    text +=
        ", " + std::to_string(static_cast<long>(rate)) + " a second, " +
        std::to_string(static_cast<long>((bar.total - std::min(done, bar.total)) / rate + 0.5)) +
        " s left";
  }
  const std::size_t width = text.size();
  if (width < bar.width) text += std::string(bar.width - width, ' ');
  print_to_terminal("\r" + text);
  bar.width = std::max(bar.width, width);
}

// ---- The walk.

// A folder on the way down: which file it is, how lines name it, where
// its outputs go, and the CLUT it hands its images and those below.
struct folder_frame {
  file_identity identity;
  command_argument in;
  command_argument out;
  enum class cluts { none, one, several } held = cluts::none;
  command_argument clut;
  colours_ptr colours;  // the CLUT's, loaded when an image first wants them
};

// What the walk goes through in one folder, in the order of the whole
// paths it stands for: a folder comes once as its own name, where a line
// about the folder itself belongs, and once as the name and a separator,
// where its contents belong ("a", "a.png", "a/x.png").
struct walk_item {
  std::string key;
  native_path name;
  enum class kind { file, folder_itself, folder_contents } what;
  std::vector<folder_entry> listing;  // a folder's, read where it stands itself
  file_identity identity;             // which folder it is
  bool enter = false;
};

struct walker {
  walker(const tree_options& given, const std::function<void(const tree_failure&)>& reporter)
      : options(given), report(reporter), setup{identify_stdout()} {}
  const tree_options& options;
  const std::function<void(const tree_failure&)>& report;
  conversion_setup setup;
  std::vector<file_identity> above;  // the folders IN_DIR is inside of
  std::vector<folder_frame> frames;  // IN_DIR down to the folder being walked
  colours_ptr for_every_image;
  colours_ptr defaults;
  bool counting = false;
  bool stopped = false;  // a loop ends the walk
  std::size_t found = 0;
  task_queue* queue = nullptr;  // null: one job, converting as it walks
  output_folders folders;       // for that one job
  progress bar;
  tree_result result;
};

void account(walker& w, const tree_task& task) {
  if (!task.failed) {
    ++w.result.converted;
  } else {
    ++w.result.failed;
    erase_progress(w.bar);
    w.report(tree_failure{task.in_path, task.line});
  }
  draw_progress(w.bar, w.result.converted + w.result.failed, false);
}

// Reports the tasks at the front that are done, the lock let go meanwhile.
void report_finished(walker& w, std::unique_lock<std::mutex>& held) {
  task_queue& queue = *w.queue;
  std::vector<tree_task> finished;
  while (!queue.window.empty() && queue.window.front().done) {
    finished.push_back(std::move(queue.window.front()));
    queue.window.pop_front();
    ++queue.first;
  }
  queue.next = std::max(queue.next, queue.first);
  if (finished.empty()) return;
  held.unlock();
  for (const tree_task& task : finished) account(w, task);
  held.lock();
}

// Waits until the task at the front is done. It may have finished while
// report_finished() let the lock go, its wake-up then gone unheard.
void wait_for_front(task_queue& queue, std::unique_lock<std::mutex>& held) {
  queue.task_done.wait(held, [&] { return queue.window.front().done; });
}

void submit(walker& w, tree_task task) {
  ++w.found;
  if (w.counting) return;
  if (w.queue == nullptr) {
    if (!task.done) convert_task(task, w.setup, w.folders);
    account(w, task);
    return;
  }
  task_queue& queue = *w.queue;
  std::unique_lock<std::mutex> held(queue.lock);
  for (;;) {
    report_finished(w, held);
    if (queue.window.size() < queue.limit) break;
    wait_for_front(queue, held);
  }
  queue.window.push_back(std::move(task));
  queue.work_ready.notify_one();
}

void submit_line(walker& w, const std::string& in_path, const std::string& line) {
  tree_task task;
  task.in_path = in_path;
  task.line = line;
  task.done = true;
  submit(w, std::move(task));
}

// The colours for an image in the folder being walked, or null after
// setting `ambiguous` to the folder that holds more than one CLUT.
colours_ptr colours_for_image(walker& w, std::string& ambiguous) {
  if (w.for_every_image) return w.for_every_image;
  for (auto frame = w.frames.rbegin(); frame != w.frames.rend(); ++frame) {
    if (frame->held == folder_frame::cluts::several) {
      ambiguous = frame->in.text;
      return nullptr;
    }
    if (frame->held == folder_frame::cluts::one) {
      if (!frame->colours) {
        frame->colours =
            std::make_shared<const colour_source>(load_clut_file(frame->clut, w.setup));
      }
      return frame->colours;
    }
  }
  if (!w.defaults) w.defaults = std::make_shared<const colour_source>(default_colours());
  return w.defaults;
}

void walk_folder(walker& w, std::vector<folder_entry>& listing);

void convert_image(walker& w, const native_path& name, const std::string& text) {
  const folder_frame& here = w.frames.back();
  tree_task task;
  task.input = joined(here.in, name, text);
  task.in_path = task.input.text;
  if (w.counting) return submit(w, std::move(task));
  task.output = joined(here.out, name, text);
  std::string ambiguous;
  task.colours = colours_for_image(w, ambiguous);
  if (!task.colours) {
    task.line = more_than_one_clut_line(ambiguous);
    task.done = true;
  }
  submit(w, std::move(task));
}

bool inside_of(const walker& w, const file_identity& folder) {
  const auto same = [&](const file_identity& other) { return same_file(folder, other); };
  return std::any_of(w.above.begin(), w.above.end(), same) ||
         std::any_of(w.frames.begin(), w.frames.end(),
                     [&](const folder_frame& frame) { return same(frame.identity); });
}

// A subfolder where it stands itself: the output folder is passed over, a
// loop ends the walk, and one that cannot be read is reported.
void look_at_folder(walker& w, walk_item& itself, walk_item& contents) {
  const folder_frame& here = w.frames.back();
  const command_argument folder = joined(here.in, itself.name, printed_name(itself.name));
  const file_identity identity = identify_path(folder.path);
  if (inside_of(w, identity)) {
    w.stopped = true;
    submit_line(w, folder.text, folder_loop_line(folder.text));
    return;
  }
  // Made as outputs go in, so looked at afresh.
  if (same_file(identity, identify_path(w.options.out_dir.path))) return;
  if (!list_folder(folder.path, contents.listing)) {
    submit_line(w, folder.text, cant_open_folder_line(folder.text));
    return;
  }
  contents.identity = identity;
  contents.enter = true;
}

void enter_folder(walker& w, walk_item& contents) {
  const folder_frame& parent = w.frames.back();
  const std::string text = printed_name(contents.name);
  folder_frame frame;
  frame.in = joined(parent.in, contents.name, text);
  frame.out = joined(parent.out, contents.name, text);
  frame.identity = contents.identity;
  w.frames.push_back(std::move(frame));
  walk_folder(w, contents.listing);
  w.frames.pop_back();
}

// Walks the folder on top of the frames, whose entries are `listing`.
void walk_folder(walker& w, std::vector<folder_entry>& listing) {
  folder_frame& here = w.frames.back();
  std::vector<walk_item> items;
  for (folder_entry& entry : listing) {
    const std::string key = printed_name(entry.name);
    if (!entry.folder) {
      if (has_suffix(key, ".clt")) {
        here.held = here.held == folder_frame::cluts::none ? folder_frame::cluts::one
                                                           : folder_frame::cluts::several;
        here.clut = joined(here.in, entry.name, key);
      }
      items.push_back(walk_item{key, entry.name, walk_item::kind::file, {}, {}, false});
    } else {
      items.push_back(walk_item{key, entry.name, walk_item::kind::folder_itself, {}, {}, false});
      items.push_back(walk_item{
          key + path_separator, entry.name, walk_item::kind::folder_contents, {}, {}, false});
    }
  }
  listing.clear();
  listing.shrink_to_fit();
  std::sort(items.begin(), items.end(),
            [](const walk_item& a, const walk_item& b) { return a.key < b.key; });
  for (std::size_t i = 0; i < items.size() && !w.stopped; ++i) {
    walk_item& item = items[i];
    switch (item.what) {
      case walk_item::kind::file:
        if (has_suffix(item.key, ".png")) convert_image(w, item.name, item.key);
        break;
      case walk_item::kind::folder_itself: {
        const auto contents = std::lower_bound(
            items.begin(), items.end(), item.key + path_separator,
            [](const walk_item& other, const std::string& key) { return other.key < key; });
        look_at_folder(w, item, *contents);
        break;
      }
      case walk_item::kind::folder_contents:
        if (item.enter) enter_folder(w, item);
        break;
    }
  }
}

// The folders IN_DIR is inside of, for telling a link that loops back.
std::vector<file_identity> folders_above(const native_path& in_dir) {
  std::vector<file_identity> above;
  std::error_code error;
  native_path path = std::filesystem::canonical(in_dir, error);
  if (error) return above;
  for (native_path parent = path.parent_path(); parent != path; parent = path.parent_path()) {
    path = parent;
    above.push_back(identify_path(path));
  }
  return above;
}

void walk_tree(walker& w, std::vector<folder_entry> top) {
  w.stopped = false;
  w.found = 0;
  folder_frame frame;
  frame.in = without_trailing_separators(w.options.in_dir);
  frame.out = without_trailing_separators(w.options.out_dir);
  frame.identity = identify_path(frame.in.path);
  w.frames.assign(1, std::move(frame));
  walk_folder(w, top);
  w.frames.clear();
}

void finish(walker& w) {
  task_queue& queue = *w.queue;
  std::unique_lock<std::mutex> held(queue.lock);
  queue.closing = true;
  queue.work_ready.notify_all();
  for (;;) {
    report_finished(w, held);
    if (queue.window.empty()) break;
    wait_for_front(queue, held);
  }
}

}  // namespace

tree_result convert_tree(const tree_options& options,
                         const std::function<void(const tree_failure&)>& report) {
  walker w(options, report);
  std::vector<folder_entry> top;
  if (!list_folder(options.in_dir.path, top)) {
    w.result.error_number = errno;
    w.result.could_not_start = cant_open_folder_line(options.in_dir.text);
    return w.result;
  }
  w.above = folders_above(options.in_dir.path);
  if (options.clut) {
    w.for_every_image =
        std::make_shared<const colour_source>(load_clut_file(*options.clut, w.setup));
  }
  if (options.show_progress) {
    w.counting = true;
    walk_tree(w, top);
    w.counting = false;
    w.bar.total = w.found;
    w.bar.shown = true;
  }

  const unsigned jobs = options.jobs != 0 ? options.jobs : processor_count();
  task_queue queue;
  std::vector<std::thread> workers;
  if (jobs > 1) {
    queue.limit = std::size_t{16} * jobs;
    w.queue = &queue;
    for (unsigned i = 0; i < jobs; ++i)
      workers.emplace_back(work, std::ref(queue), std::cref(w.setup));
  }
  walk_tree(w, std::move(top));
  if (w.queue != nullptr) finish(w);
  for (std::thread& worker : workers) worker.join();
  draw_progress(w.bar, w.result.converted + w.result.failed, true);
  erase_progress(w.bar);
  return w.result;
}

int run_palfill_tree(const std::vector<command_argument>& args) {
  tree_options options;
  std::vector<const command_argument*> places;
  bool options_end = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i].text;
    const bool has_value = i + 1 < args.size();
    if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
      places.push_back(&args[i]);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "-h" || arg == "--help") {
      print_line(tree_usage_line());
      return 0;
    } else if ((arg == "-j" && has_value) || (arg.size() > 2 && arg.compare(0, 2, "-j") == 0)) {
      const std::string count = arg == "-j" ? args[++i].text : arg.substr(2);
      char* end = nullptr;
      errno = 0;
      const unsigned long jobs = std::strtoul(count.c_str(), &end, 10);
      if (count.empty() || *end != '\0' || errno != 0 || jobs == 0 || jobs > 1024 ||
          count[0] == '-' || count[0] == '+') {
        places.clear();
        break;
      }
      options.jobs = static_cast<unsigned>(jobs);
    } else if (arg == "--clut" && has_value) {
      options.clut = args[++i];
    } else if (arg.compare(0, 7, "--clut=") == 0 && arg.size() > 7) {
      const std::string name = arg.substr(7);
      options.clut = command_argument{native_path(args[i].path.native().substr(7)), name};
    } else {
      places.clear();
      break;
    }
  }
  if (places.size() != 2) {
    print_line(tree_usage_line());
    return 2;
  }
  options.in_dir = *places[0];
  options.out_dir = *places[1];
  options.show_progress = stderr_is_terminal();
  const tree_result result = convert_tree(
      options, [](const tree_failure& failure) { print_line(failure.path + ": " + failure.line); });
  if (result.could_not_start) {
    print_line(*result.could_not_start);
    return 2;
  }
  print_line(tree_summary_line(options.in_dir.text, options.out_dir.text, result.converted,
                               result.failed));
  return result.failed == 0 ? 0 : 1;
}

}  // namespace palfill
