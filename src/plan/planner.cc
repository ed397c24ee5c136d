#include "plan/planner.h"

namespace palfill {
namespace {

bool ends_with_any_case(const std::string& name, const char* suffix) {
  const std::string end = suffix;
  if (name.size() < end.size()) return false;
  for (std::size_t i = 0; i < end.size(); ++i) {
    const char c = name[name.size() - end.size() + i];
    if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != end[i]) return false;
  }
  return true;
}

// The CLUT the folder rule gives an image of the innermost folder.
rendering by_folder_rule(const planner& plan, const std::string& image, std::size_t index) {
  rendering taken;
  taken.name = image;
  taken.image = image;
  taken.image_index = index;
  if (plan.clut_for_every_image) {
    taken.clut.what = clut_choice::kind::given;
    taken.why = rendering::reason::given;
    return taken;
  }
  for (auto folder = plan.folders.rbegin(); folder != plan.folders.rend(); ++folder) {
    if (folder->held == planner::folder::cluts::several) {
      taken.clut = clut_choice{clut_choice::kind::refused, folder->path};
      taken.why = rendering::reason::refused;
      return taken;
    }
    if (folder->held == planner::folder::cluts::one) {
      taken.clut =
          clut_choice{clut_choice::kind::tree_file, relative_path(folder->path, folder->clut)};
      taken.why = rendering::reason::folder;
      return taken;
    }
  }
  return taken;  // the default colours
}

}  // namespace

bool is_image_name(const std::string& name) {
  return ends_with_any_case(name, ".png");
}

bool is_clut_name(const std::string& name) {
  return ends_with_any_case(name, ".clt");
}

std::string relative_path(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::vector<rendering> plan_folder(planner& plan, const std::string& path,
                                   const std::vector<std::string>& names) {
  planner::folder here;
  here.path = path;
  for (const std::string& name : names) {
    if (!is_clut_name(name)) continue;
    here.held = here.held == planner::folder::cluts::none ? planner::folder::cluts::one
                                                          : planner::folder::cluts::several;
    here.clut = name;
  }
  plan.folders.push_back(std::move(here));
  std::vector<rendering> renderings;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (is_image_name(names[i])) renderings.push_back(by_folder_rule(plan, names[i], i));
  }
  return renderings;
}

void leave_folder(planner& plan) {
  plan.folders.pop_back();
}

}  // namespace palfill
