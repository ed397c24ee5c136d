#include "tree_walk.h"

#include <algorithm>
#include <map>
#include <utility>

#include "messages/messages.h"
#include "plan/planner.h"

namespace palfill {
namespace {

// What the walk goes through in one folder, in the order of the whole
// paths it stands for: a folder comes once as its own name, where a line
// about the folder itself belongs, and once as the name and a separator,
// where its contents belong ("a", "a.png", "a/x.png").
struct walk_item {
  std::string key;
  enum class kind { file, folder_itself, folder_contents } what = kind::file;
  std::size_t file = 0;  // which of the visitor's names
  native_path name;      // a folder's
  bool link = false;     // the folder's entry is a link
  bool enter = false;    // its contents are walked
  bool reached_through_link = false;
  file_identity identity;
};

struct walk_state {
  const walk_options& options;
  walk_visitor& visitor;
  std::vector<file_identity> above;  // the folders IN_DIR is inside of
  std::vector<file_identity> path;   // IN_DIR down to the folder being walked
  native_path real_in;               // IN_DIR, its links resolved
  // The folders walked under a name that passes through a link, by what
  // they are, with that name: none is walked twice.
  std::map<std::pair<uint64_t, uint64_t>, std::string> through_links;
};

bool stopped(const walk_state& w) {
  return w.options.stop != nullptr && w.options.stop->load();
}

// Whether `path` lies inside `folder`, both with their links resolved.
bool lies_inside(const native_path& path, const native_path& folder) {
  const auto& inner = path.native();
  const auto& outer = folder.native();
  if (outer.empty() || inner.size() <= outer.size() || inner.compare(0, outer.size(), outer) != 0) {
    return false;
  }
  return outer.back() == path_separator || inner[outer.size()] == path_separator;
}

// The folders IN_DIR is inside of, for telling a link that loops back.
std::vector<file_identity> folders_above(const walk_state& w) {
  std::vector<file_identity> above;
  native_path path = w.real_in;
  for (native_path parent = path.parent_path(); !path.empty() && parent != path;
       parent = path.parent_path()) {
    path = parent;
    above.push_back(w.options.files->identify(path));
  }
  return above;
}

bool on_the_way_down(const walk_state& w, const file_identity& folder) {
  const auto same = [&](const file_identity& other) { return same_file(folder, other); };
  return std::any_of(w.above.begin(), w.above.end(), same) ||
         std::any_of(w.path.begin(), w.path.end(), same);
}

// A link's folder inside IN_DIR, as lines name it there; empty when the
// link leads out of IN_DIR, or into OUT_DIR, whose outputs are no input.
std::string own_name_inside(const walk_state& w, const native_path& link, bool* into_out_dir) {
  native_path real, real_out;
  if (!w.options.files->real_path(link, &real).ok()) return "";
  *into_out_dir = w.options.files->real_path(w.options.out_dir.path, &real_out).ok() &&
                  (real == real_out || lies_inside(real, real_out));
  if (*into_out_dir || !lies_inside(real, w.real_in)) return "";
  std::size_t start = w.real_in.native().size();
  if (w.real_in.native().back() != path_separator) ++start;
  return w.options.in_dir.text + path_separator + printed_name(real.native().substr(start));
}

// A subfolder where it stands itself: passed over when it is OUT_DIR, and
// left out with a line when it loops, is walked under another name, or
// cannot be read. Otherwise its contents will be walked.
void decide_whether_to_enter(walk_state& w, const walk_folder& here, const walk_item& itself,
                             walk_item& contents, bool through_link) {
  const command_argument folder = joined_argument(here.in, itself.name);
  const file_system& files = *w.options.files;
  const file_identity identity = files.identify(folder.path);
  // Made as outputs go in, so looked at afresh.
  if (same_file(identity, files.identify(w.options.out_dir.path))) return;
  if (on_the_way_down(w, identity)) {
    w.visitor.left_out(folder.text, folder_loop_line(folder.text));
    return;
  }
  through_link = through_link || itself.link;
  if (itself.link) {
    bool into_out_dir = false;
    const std::string own_name = own_name_inside(w, folder.path, &into_out_dir);
    if (into_out_dir) return;
    if (!own_name.empty()) {
      w.visitor.left_out(folder.text, folder_converted_as_line(own_name));
      return;
    }
  }
  if (through_link) {
    const auto walked =
        w.through_links.emplace(std::make_pair(identity.volume, identity.index), folder.text);
    if (!walked.second) {
      w.visitor.left_out(folder.text, folder_converted_as_line(walked.first->second));
      return;
    }
  }
  // Only looked at now; listed when its turn comes, so that the walk holds
  // the entries of the folders it is in alone.
  if (!files.probe_folder(folder.path).ok()) {
    w.visitor.left_out(folder.text, cant_open_folder_line(folder.text));
    return;
  }
  contents.enter = true;
  contents.identity = identity;
  contents.reached_through_link = through_link;
}

void walk_contents(walk_state& w, const walk_folder& here, std::vector<folder_entry> listing,
                   bool through_link);

void enter_folder(walk_state& w, const walk_folder& parent, const walk_item& contents) {
  walk_folder child;
  const std::string name = printed_name(contents.name);
  child.in = joined_argument(parent.in, contents.name);
  child.out = joined_argument(parent.out, contents.name);
  child.path = relative_path(parent.path, name);
  std::vector<folder_entry> listing;
  if (!w.options.files->list_folder(child.in.path, listing).ok()) {
    w.visitor.left_out(child.in.text, cant_open_folder_line(child.in.text));
    return;
  }
  w.path.push_back(contents.identity);
  walk_contents(w, child, std::move(listing), contents.reached_through_link);
  w.path.pop_back();
}

void walk_contents(walk_state& w, const walk_folder& here, std::vector<folder_entry> listing,
                   bool through_link) {
  std::vector<folder_entry> files;
  std::vector<walk_item> items;
  for (folder_entry& entry : listing) {
    if (entry.type != file_identity::kind::folder) {
      files.push_back(std::move(entry));
      continue;
    }
    walk_item itself;
    itself.key = printed_name(entry.name);
    itself.what = walk_item::kind::folder_itself;
    itself.name = entry.name;
    itself.link = entry.link;
    walk_item contents = itself;
    contents.key += path_separator;
    contents.what = walk_item::kind::folder_contents;
    items.push_back(std::move(itself));
    items.push_back(std::move(contents));
  }
  listing = std::vector<folder_entry>();
  const std::vector<std::string> keys = w.visitor.enter(here, files);
  files = std::vector<folder_entry>();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    walk_item file;
    file.key = keys[i];
    file.what = walk_item::kind::file;
    file.file = i;
    items.push_back(std::move(file));
  }
  std::sort(items.begin(), items.end(),
            [](const walk_item& a, const walk_item& b) { return a.key < b.key; });
  for (walk_item& item : items) {
    if (stopped(w)) break;
    switch (item.what) {
      case walk_item::kind::file:
        w.visitor.visit(here, item.file);
        break;
      case walk_item::kind::folder_itself: {
        const auto contents = std::lower_bound(
            items.begin(), items.end(), item.key + path_separator,
            [](const walk_item& other, const std::string& key) { return other.key < key; });
        decide_whether_to_enter(w, here, item, *contents, through_link);
        break;
      }
      case walk_item::kind::folder_contents:
        if (item.enter) enter_folder(w, here, item);
        break;
    }
  }
  w.visitor.leave();
}

}  // namespace

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

command_argument joined_argument(const command_argument& folder, const native_path& name) {
  return command_argument{joined_path(folder.path, name),
                          folder.text + path_separator + printed_name(name)};
}

env_status walk_tree(const walk_options& options, walk_visitor& visitor) {
  walk_state w{options, visitor, {}, {}, {}, {}};
  std::vector<folder_entry> top;
  const env_status listed = options.files->list_folder(options.in_dir.path, top);
  if (!listed.ok()) return listed;
  options.files->real_path(options.in_dir.path, &w.real_in);
  w.above = folders_above(w);
  w.path.push_back(options.files->identify(options.in_dir.path));
  walk_contents(w, walk_folder{"", options.in_dir, options.out_dir}, std::move(top), false);
  return {};
}

}  // namespace palfill
