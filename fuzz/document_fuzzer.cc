// libFuzzer target for the planner's reading of BML documents and style
// sheets, run in process: for any bytes, read whole or a few bytes at a
// time, a document and a sheet say the same; and the planner, reading them
// as every document and sheet of a tree, plans that tree's folders without
// failing, each image of a folder at most once under each name.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "plan/document_scan.h"
#include "plan/planner.h"

using namespace palfill;

namespace {

bool same(const document_scan& a, const document_scan& b) {
  if (a.body_clut != b.body_clut || a.images != b.images || a.sheets.size() != b.sheets.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.sheets.size(); ++i) {
    if (a.sheets[i].linked != b.sheets[i].linked || a.sheets[i].href != b.sheets[i].href ||
        a.sheets[i].clut != b.sheets[i].clut) {
      return false;
    }
  }
  return true;
}

// `bytes` read whole into `whole`, and `step` bytes at a time into `blocks`.
template <typename Scan>
void scan_both(Scan& whole, Scan& blocks, const uint8_t* bytes, std::size_t length,
               std::size_t step, void (*scan)(Scan&, const unsigned char*, std::size_t),
               void (*end)(Scan&)) {
  scan(whole, bytes, length);
  end(whole);
  for (std::size_t at = 0; at < length; at += step) {
    scan(blocks, bytes + at, std::min(step, length - at));
  }
  end(blocks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t step = 1 + data[0] % 7;  // the size of each block handed over
  const uint8_t* bytes = data + 1;
  const std::size_t length = size - 1;

  document_scan whole, blocks;
  scan_both(whole, blocks, bytes, length, step, scan_document, end_document);
  if (!same(whole, blocks)) std::abort();

  sheet_scan sheet, sheet_blocks;
  scan_both(sheet, sheet_blocks, bytes, length, step, scan_sheet, end_sheet);
  if (sheet.clut != sheet_blocks.clut) std::abort();

  // A tree whose every document and sheet holds these bytes.
  planner plan;
  const tree_file_reader read = [&](const std::string& path, const auto& take) {
    if (path.find("missing") != std::string::npos) {
      return std::optional<read_problem>(
          read_problem{read_problem::kind::cannot_open, "", false, 2});
    }
    take(bytes, length);
    return std::optional<read_problem>();
  };
  for (const char* document : {"S/40/0000/a.bml", "S/40/0001/b.bml", "c.bml"}) {
    read_document(plan, document, read);
  }
  for (const std::string& image : whole.images) {  // the folders the images would lie in
    const std::optional<std::string> path = resolved_url(image, "S/40/0000", "S");
    if (!path) continue;
    const std::size_t slash = path->rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path->substr(0, slash);
    const std::string name = path->substr(slash == std::string::npos ? 0 : slash + 1);
    const folder_plan planned = plan_folder(plan, folder, {name, "x.png", "a.clt"});
    std::set<std::string> names;
    for (const rendering& taken : planned.renderings) {
      if (taken.clash == rendering::clash::none && !names.insert(taken.name).second) std::abort();
    }
    leave_folder(plan);
  }
  return 0;
}
