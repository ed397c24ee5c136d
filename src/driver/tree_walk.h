// palfill-tree's walk over IN_DIR: what it holds, folder by folder, in the
// byte order of the whole paths, so that whatever is made of it comes out
// in one order whatever the number of threads.
//
// Each folder is walked once. A link to a file counts as the file. A link
// to a folder is followed when it leads out of IN_DIR, once for all the
// links that lead to one folder (the first in the walk's order); a link to
// a folder inside IN_DIR is not, since that folder is walked under its own
// name. A link to a folder that the walk is inside of is a loop, and is not
// followed. Each such folder left out gets a line, and the walk goes on.
// An OUT_DIR inside IN_DIR is never walked into.
//
// Memory: the entries of the folders the walk is in, and the folders it
// has reached through links.
#ifndef PALFILL_DRIVER_TREE_WALK_H_
#define PALFILL_DRIVER_TREE_WALK_H_

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "conversion.h"

namespace palfill {

// The folder the walk is in.
struct walk_folder {
  std::string path;      // relative to IN_DIR, '/' between names; "" for IN_DIR
  command_argument in;   // IN_DIR joined with it, as lines name it
  command_argument out;  // OUT_DIR joined with it
};

// What is made of the walk.
struct walk_visitor {
  // The walk enters `folder`, whose entries other than folders are `files`;
  // gives the names to visit there, which the walk sorts with its folders.
  std::function<std::vector<std::string>(const walk_folder& folder,
                                         const std::vector<folder_entry>& files)>
      enter;
  // The `item`th name that enter() gave for the folder the walk is in.
  std::function<void(const walk_folder& folder, std::size_t item)> visit;
  std::function<void()> leave;
  // A folder left out: `who` is its path as lines name it, `line` why.
  std::function<void(const std::string& who, const std::string& line)> left_out;
};

struct walk_options {
  command_argument in_dir;  // as typed, without a trailing separator
  command_argument out_dir;
  const file_system* files = &native_files();
  const std::atomic<bool>* stop = nullptr;  // once set, the walk ends at its next step
};

// Walks IN_DIR; a failure when IN_DIR itself cannot be listed.
env_status walk_tree(const walk_options& options, walk_visitor& visitor);

// `name` as typed, without the separators it ends in, so that it joins
// with a relative path as the command would name the file; a root stays.
command_argument without_trailing_separators(command_argument name);

// `folder` joined with `name`, both as the platform takes them and as
// lines name them.
command_argument joined_argument(const command_argument& folder, const native_path& name);

}  // namespace palfill

#endif  // PALFILL_DRIVER_TREE_WALK_H_
