// What the page's WebAssembly module exports besides those of the npm
// module (module_exports.cc): the command's lines and rules and the
// planner, so that the page says and decides exactly what palfill-tree
// does, from the same code. Text goes in and out as NUL-terminated UTF-8.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "messages/messages.h"
#include "messages/plan_lines.h"
#include "palfill.h"
#include "plan/listed_tree.h"

namespace {

// A line for JavaScript, NUL-terminated, freed with palfill_web_release();
// null when there is no memory for it.
char* handed_over(const std::string& line) {
  auto* text = static_cast<char*>(std::malloc(line.size() + 1));
  if (text != nullptr) std::memcpy(text, line.c_str(), line.size() + 1);
  return text;
}

// A plan in the making: the tree's paths, and the documents and sheets
// the page has read, or could not.
struct page_plan {
  std::string in_dir;  // as lines name it
  std::string given;   // the CLUT for every image, as the page names it; "" for none
  std::vector<std::string> paths;
  std::map<std::string, std::string> read;
  std::map<std::string, palfill::read_problem> unread;
};

int read_memory(void* context, unsigned char* dest, std::size_t count, std::size_t* given) {
  auto* from = static_cast<std::pair<const unsigned char*, std::size_t>*>(context);
  *given = count < from->second ? count : from->second;
  std::memcpy(dest, from->first, *given);
  from->first += *given;
  from->second -= *given;
  return 0;
}

// The plan as text, a line for each thing in the walk's order: "R" and a
// plan's fields for a rendering, or "N", WHO and LINE for a line of its
// own; tab-separated, each field escaped as a plan's are.
std::string planned_text(page_plan& page) {
  palfill::planner plan;
  plan.clut_for_every_image = !page.given.empty();
  const palfill::tree_file_reader read =
      [&page](const std::string& path, const auto& take) -> std::optional<palfill::read_problem> {
    const auto found = page.read.find(path);
    if (found != page.read.end()) {
      take(reinterpret_cast<const unsigned char*>(found->second.data()), found->second.size());
      return std::nullopt;
    }
    const auto problem = page.unread.find(path);
    return problem != page.unread.end() ? problem->second : palfill::read_problem{};
  };
  const auto in_tree = [&page](const std::string& path) {
    return path.empty() ? page.in_dir : page.in_dir + "/" + path;
  };
  std::string text;
  const auto notice = [&](const std::string& who, const std::string& line) {
    text += "N\t" + palfill::without_controls(who, true) + "\t" +
            palfill::without_controls(line.substr(0, line.size() - 1), true) + "\n";
  };
  palfill::listed_visitor visitor;
  visitor.rendered = [&](const std::string& folder, const palfill::rendering& taken) {
    const auto line = palfill::known_failure_line(folder, taken, in_tree);
    if (taken.clash != palfill::rendering::clash::none) {  // no row: its output is another's
      return notice(in_tree(palfill::relative_path(folder, taken.name)), *line);
    }
    text += "R\t" + palfill::plan_line(palfill::plan_row(folder, taken, page.given, line));
  };
  visitor.problem = [&](const std::string& document, const palfill::read_problem& problem) {
    notice(in_tree(document), palfill::read_problem_line(problem, in_tree));
  };
  palfill::plan_listed_tree(plan, page.paths, read, visitor);
  return text;
}

}  // namespace

extern "C" {

// ---- The command's lines and rules.

// The line for a result, as palfill-tree prints it: a CLUT's own failure
// names the CLUT.
char* palfill_web_result_line(int result, const char* reading, const char* clut,
                              const char* output) {
  const std::string line = palfill::result_line(palfill_result(result), reading, clut, output);
  return handed_over(palfill::tree_clut_failure_line(line, palfill_result(result), clut));
}

char* palfill_web_cant_open_line(const char* path) {
  return handed_over(palfill::cant_open_line(path));
}

char* palfill_web_not_png_output_line(const char* path) {
  return handed_over(palfill::not_png_output_line(path));
}

char* palfill_web_summary_line(const char* in_dir, const char* out_dir, std::size_t converted,
                               std::size_t failed) {
  return handed_over(palfill::tree_summary_line(in_dir, out_dir, converted, failed));
}

// A line as palfill-tree writes it: its control characters as \xNN.
char* palfill_web_without_controls(const char* line) {
  return handed_over(palfill::without_controls(line));
}

int palfill_web_may_replace(const unsigned char* start, std::size_t size) {
  return palfill::begins_as_palfill_writes(start, size) ? 1 : 0;
}

int palfill_web_is_tree_report(const char* text) {
  return palfill::is_tree_report(text) ? 1 : 0;
}

// What the output holds after `result`: 0 none, 1 empty, 2 part, 3 whole.
int palfill_web_left_by(int result, std::size_t size) {
  return static_cast<int>(palfill::left_by(palfill_result(result), size));
}

// A CLUT file's own result, loaded as a conversion would load it.
int palfill_web_load_clut(const unsigned char* bytes, std::size_t size) {
  palfill_colours* colours = palfill_colours_new();
  if (colours == nullptr) return PALFILL_OUT_OF_MEMORY;
  std::pair<const unsigned char*, std::size_t> from{bytes, size};
  const palfill_reader reader{sizeof(palfill_reader), read_memory, &from, 1, size};
  const palfill_result result = palfill_load_clut_io(colours, &reader);
  palfill_colours_free(colours);
  return result;
}

// ---- The planner, over the tree the page was handed.

// A plan for the tree at `in_dir` (as lines name it); `given`, when not
// empty, is the CLUT for every image.
void* palfill_web_plan_new(const char* in_dir, const char* given) {
  return new (std::nothrow) page_plan{in_dir, given, {}, {}, {}};
}

// A file of the tree. `bytes` are a document's or a sheet's, read; or,
// null with `unread` set, it could not be read (1: not opened, 2: not a
// regular file, 3: a read failed). The module is built without
// exceptions: memory that cannot be had ends the call with a trap, which
// JavaScript sees as an exception.
void palfill_web_plan_file(void* handle, const char* path, const unsigned char* bytes,
                           std::size_t size, int unread) {
  auto* page = static_cast<page_plan*>(handle);
  page->paths.emplace_back(path);
  if (bytes != nullptr) page->read[path].assign(reinterpret_cast<const char*>(bytes), size);
  if (unread != 0) {
    page->unread[path] =
        palfill::read_problem{palfill::read_problem::kind(unread - 1), "", false, 0};
  }
}

// Files of the tree that are not read (images, CLUTs, the rest): their
// paths, each ended by a NUL, in one buffer, so that a tree of thousands
// crosses in one call.
void palfill_web_plan_paths(void* handle, const char* paths, std::size_t size) {
  auto* page = static_cast<page_plan*>(handle);
  for (std::size_t at = 0; at < size;) {
    const std::size_t end =
        static_cast<std::size_t>(std::find(paths + at, paths + size, '\0') - paths);
    page->paths.emplace_back(paths + at, end - at);
    at = end + 1;
  }
}

// The plan as text (see planned_text()).
char* palfill_web_plan_text(void* handle) {
  return handed_over(planned_text(*static_cast<page_plan*>(handle)));
}

void palfill_web_plan_free(void* handle) {
  delete static_cast<page_plan*>(handle);
}

}  // extern "C"
