#include "plan/listed_tree.h"

#include <algorithm>
#include <map>

namespace palfill {
namespace {

// A folder of the list: its files, and its folders by name.
struct listed_folder {
  std::vector<std::string> files;
  std::map<std::string, listed_folder> folders;
};

void walk(planner& plan, const std::string& path, listed_folder& folder,
          const listed_visitor& visitor) {
  folder_plan planned = plan_folder(plan, path, folder.files);
  // As palfill-tree's walk orders them: a folder's contents sort as its
  // name and a separator.
  struct item {
    std::string key;
    const rendering* taken;
    const document_notice* notice;
    listed_folder* folder;
  };
  std::vector<item> items;
  for (const rendering& taken : planned.renderings)
    items.push_back({taken.name, &taken, nullptr, nullptr});
  for (const document_notice& notice : planned.notices) {
    items.push_back({notice.name, nullptr, &notice, nullptr});
  }
  for (auto& [name, inner] : folder.folders)
    items.push_back({name + "/", nullptr, nullptr, &inner});
  std::stable_sort(items.begin(), items.end(),
                   [](const item& a, const item& b) { return a.key < b.key; });
  for (const item& next : items) {
    if (next.taken != nullptr) visitor.rendered(path, *next.taken);
    if (next.notice != nullptr) {
      for (const read_problem& problem : next.notice->problems) {
        visitor.problem(relative_path(path, next.notice->name), problem);
      }
    }
    if (next.folder != nullptr) {
      walk(plan, relative_path(path, next.key.substr(0, next.key.size() - 1)), *next.folder,
           visitor);
    }
  }
  leave_folder(plan);
}

}  // namespace

void plan_listed_tree(planner& plan, std::vector<std::string> paths, const tree_file_reader& read,
                      const listed_visitor& visitor) {
  std::sort(paths.begin(), paths.end());  // byte order of the whole paths: the walk's
  listed_folder top;
  for (const std::string& path : paths) {
    if (!plan.clut_for_every_image && is_document_name(path)) read_document(plan, path, read);
    listed_folder* folder = &top;
    std::size_t at = 0;
    for (std::size_t slash; (slash = path.find('/', at)) != std::string::npos; at = slash + 1) {
      folder = &folder->folders[path.substr(at, slash - at)];
    }
    folder->files.push_back(path.substr(at));
  }
  walk(plan, "", top, visitor);
}

}  // namespace palfill
