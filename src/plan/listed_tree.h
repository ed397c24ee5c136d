// The plan of a tree known as a list of its files' paths, as the page
// knows the files it is handed: the walk palfill-tree makes over a real
// tree, folder by folder in the byte order of the whole paths, made over
// the list. Documents and sheets are read through `read`; nothing else.
#ifndef PALFILL_PLAN_LISTED_TREE_H_
#define PALFILL_PLAN_LISTED_TREE_H_

#include <functional>
#include <string>
#include <vector>

#include "plan/planner.h"

namespace palfill {

// What the walk meets, in its order: each rendering, with the folder it
// lies in, and each document's problems at the document's path.
struct listed_visitor {
  std::function<void(const std::string& folder, const rendering& taken)> rendered;
  std::function<void(const std::string& document, const read_problem& problem)> problem;
};

// Plans the tree whose files are `paths` (relative, '/' between names, in
// any order): reads its documents, then walks it.
void plan_listed_tree(planner& plan, std::vector<std::string> paths, const tree_file_reader& read,
                      const listed_visitor& visitor);

}  // namespace palfill

#endif  // PALFILL_PLAN_LISTED_TREE_H_
