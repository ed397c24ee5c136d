// Which CLUT each image of a tree takes, and the renderings that follow:
// the plan that palfill-tree, Python's convert_tree and the page all
// convert by. Nothing here touches a file: the caller hands the tree over
// folder by folder, as its walk meets them, and reads the small files the
// planner asks for. What goes wrong is returned as kinds; the lines are
// made where lines live (messages/).
//
// A receiver gives an image the colours of the BML document that shows it
// (see document_scan.h for what a document says). So the walk goes twice:
// first every document is read (read_document()), in the walk's order;
// then each folder is planned (plan_folder()). An image that documents show
// under one palette takes it; under two or more, it gets one rendering for
// each, STEM@TAG.EXT, tagged by its CLUT's name without extension, or
// "default" for the default colours, or, where two tags of the image would
// be one (ignoring ASCII case), by the CLUT's path with '+' for '/'.
//
// An image that no document shows keeps the folder rule: the CLUT named
// for every image; else the one CLUT file (a name ending in .clt, any case)
// of its folder or, without one, of the nearest folder above it up to
// IN_DIR; else the default colours. A folder with two or more CLUT files is
// not guessed at: its images, and those below that would take their colours
// from it, are refused. A CLUT named for every image overrides documents.
//
// Paths are relative to IN_DIR, with '/' between names; IN_DIR itself is
// "". Names are the bytes the file system gives (UTF-8 on Windows). Memory
// grows with what documents say, the pairings of images and palettes, and
// with the folders the walk is in; not with the files.
#ifndef PALFILL_PLAN_PLANNER_H_
#define PALFILL_PLAN_PLANNER_H_

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
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
    outside,    // none: a document's URL, `path` as written, leads out of IN_DIR
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
  // Why it takes that CLUT: a document shows it so (`document`, the first
  // of those in byte order), or the folder rule.
  enum class reason { document, folder, defaults, given, refused } why = reason::defaults;
  std::string document;
  // Not to be written: its name is an image's own in the tree, or another
  // rendering's (the first in byte order keeps it).
  enum class clash { none, image_name, rendering_name } clash = clash::none;
};

// A document or style sheet that could not be read.
struct read_problem {
  enum class kind { cannot_open, not_regular, read_failed } what = kind::cannot_open;
  std::string path;      // relative to IN_DIR, or a URL as written that leads out of it
  bool outside = false;  // `path` is such a URL
  int error = 0;         // the errno value of the call that failed, where one did
};

// How the planner reads a file of the tree: `take` gets its bytes, a block
// at a time; nothing, or what went wrong (its `path` is the planner's to set).
using tree_file_reader = std::function<std::optional<read_problem>(
    const std::string& path, const std::function<void(const unsigned char*, std::size_t)>& take)>;

// What a folder comes to: its images' renderings, and the problems of its
// documents, each at the document's name.
struct document_notice {
  std::string name;
  std::vector<read_problem> problems;
};
struct folder_plan {
  std::vector<rendering> renderings;
  std::vector<document_notice> notices;
};

// Whether `name` is an image's: it ends in .png, in any letter case; a
// CLUT file's: .clt; a document's: .bml.
bool is_image_name(const std::string& name);
bool is_clut_name(const std::string& name);
bool is_document_name(const std::string& name);

// The rule, what documents said, and what it knows of the folders the walk
// is in.
struct planner {
  bool clut_for_every_image = false;

  struct folder {
    std::string path;
    enum class cluts { none, one, several } cluts_found = cluts::none;
    std::string clut;  // the one
  };
  std::vector<folder> folders;  // IN_DIR down to the folder the walk is in

  struct showing {
    std::size_t palette;   // in `palettes`
    std::size_t document;  // in `documents`
  };
  std::vector<clut_choice> palettes;
  std::map<std::string, std::size_t> palette_ids;
  std::vector<std::string> documents;                 // those that showed an image
  std::map<std::string, std::vector<showing>> shown;  // by image, in the order first shown
  struct sheet {
    std::optional<read_problem> problem;
    std::optional<std::string> clut;  // the URL as written, relative to the sheet's folder
  };
  std::map<std::string, sheet> sheets;  // read once, for every document that links them
  std::map<std::string, std::vector<read_problem>> problems;  // by document
};

// Reads the document at `path`, and the style sheets it links.
void read_document(planner& plan, const std::string& path, const tree_file_reader& read);

// The walk enters the folder at `path`, a child of the one it is in (or
// IN_DIR), whose files (folders left out) are `names`: its plan, the
// renderings in the order of `names`.
folder_plan plan_folder(planner& plan, const std::string& path,
                        const std::vector<std::string>& names);

// The walk leaves the folder it entered last.
void leave_folder(planner& plan);

// `folder` joined with `name`, '/' between.
std::string relative_path(const std::string& folder, const std::string& name);

}  // namespace palfill

#endif  // PALFILL_PLAN_PLANNER_H_
