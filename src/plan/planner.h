// Which CLUT each image of a tree takes, and the renderings that follow:
// the plan that palfill-tree, Python's convert_tree and the page all
// convert by. Nothing here touches a file: the caller hands the tree over
// folder by folder, as its walk meets them, and reads the small files the
// planner asks for. What goes wrong is returned as kinds; the lines are
// made where lines live (messages/).
//
// The folder rule: an image takes the CLUT named for every image; else the
// one CLUT file (a name ending in .clt, any case) of its folder or, without
// one, of the nearest folder above it up to IN_DIR; else the default
// colours. A folder with two or more CLUT files is not guessed at: its
// images, and those below that would take their colours from it, are
// refused.
//
// Paths are relative to IN_DIR, with '/' between names; IN_DIR itself is
// "". Names are the bytes the file system gives (UTF-8 on Windows).
#ifndef PALFILL_PLAN_PLANNER_H_
#define PALFILL_PLAN_PLANNER_H_

#include <cstddef>
#include <string>
#include <vector>

namespace palfill {

// The CLUT a rendering takes.
struct clut_choice {
  enum class kind {
    defaults,   // the 128 default colours
    tree_file,  // `path`, a file of the tree
    given,      // the one named for every image
    refused,    // none: `path` is the folder that holds several
  };
  kind what = kind::defaults;
  std::string path;
};

// One output of an image: the image with one of its palettes.
struct rendering {
  std::string name;             // its name in the image's folder
  std::string image;            // the image's name there
  std::size_t image_index = 0;  // which of the folder's names that is
  clut_choice clut;
  // Why it takes that CLUT.
  enum class reason { folder, defaults, given, refused } why = reason::defaults;
};

// Whether `name` is an image's: it ends in .png, in any letter case.
bool is_image_name(const std::string& name);
// Whether `name` is a CLUT file's: it ends in .clt, in any letter case.
bool is_clut_name(const std::string& name);

// The rule, and what it knows of the folders the walk is in.
struct planner {
  bool clut_for_every_image = false;
  struct folder {
    std::string path;
    enum class cluts { none, one, several } held = cluts::none;
    std::string clut;  // the one
  };
  std::vector<folder> folders;  // IN_DIR down to the folder the walk is in
};

// The walk enters the folder at `path`, a child of the one it is in (or
// IN_DIR), whose files (folders left out) are `names`; gives the
// renderings of its images, in the order of `names`.
std::vector<rendering> plan_folder(planner& plan, const std::string& path,
                                   const std::vector<std::string>& names);

// The walk leaves the folder it entered last.
void leave_folder(planner& plan);

// `folder` joined with `name`, '/' between.
std::string relative_path(const std::string& folder, const std::string& name);

}  // namespace palfill

#endif  // PALFILL_PLAN_PLANNER_H_
