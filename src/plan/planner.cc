#include "plan/planner.h"

#include <algorithm>

#include "plan/document_scan.h"

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

std::string lowered(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  return text;
}

std::string without_extension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot <= slash + 1)) {
    return path;
  }
  return path.substr(0, dot);
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
    if (folder->cluts_found == planner::folder::cluts::several) {
      taken.clut = clut_choice{clut_choice::kind::refused, folder->path};
      taken.why = rendering::reason::refused;
      return taken;
    }
    if (folder->cluts_found == planner::folder::cluts::one) {
      taken.clut =
          clut_choice{clut_choice::kind::tree_file, relative_path(folder->path, folder->clut)};
      taken.why = rendering::reason::folder;
      return taken;
    }
  }
  return taken;  // the default colours
}

// A CLUT's URL as a choice: a file of the tree, or one out of it.
clut_choice choice_of(const std::string& url, const std::string& base, const std::string& root) {
  const std::optional<std::string> path = resolved_url(url, base, root);
  return path ? clut_choice{clut_choice::kind::tree_file, *path}
              : clut_choice{clut_choice::kind::outside, url};
}

std::size_t palette_id(planner& plan, const clut_choice& clut) {
  const std::string key = static_cast<char>('0' + static_cast<int>(clut.what)) + clut.path;
  const auto found = plan.palette_ids.find(key);
  if (found != plan.palette_ids.end()) return found->second;
  plan.palettes.push_back(clut);
  return plan.palette_ids[key] = plan.palettes.size() - 1;
}

// The `clut` of a sheet a document links, read the first time it is asked
// for; a problem reading it is the document's.
std::optional<clut_choice> linked_sheet_clut(planner& plan, const std::string& document,
                                             const std::string& href,
                                             const tree_file_reader& read) {
  const std::string root = service_root(document);
  const std::optional<std::string> path = resolved_url(href, folder_of(document), root);
  if (!path) {
    plan.problems[document].push_back(read_problem{read_problem::kind::cannot_open, href, true});
    return std::nullopt;
  }
  auto found = plan.sheets.find(*path);
  if (found == plan.sheets.end()) {
    sheet_scan scan;
    planner::sheet sheet;
    sheet.problem = read(*path, [&scan](const unsigned char* bytes, std::size_t size) {
      scan_sheet(scan, bytes, size);
    });
    end_sheet(scan);
    if (sheet.problem) {
      sheet.problem->path = *path;
    } else {
      sheet.clut = scan.clut;
    }
    found = plan.sheets.emplace(*path, std::move(sheet)).first;
  }
  if (found->second.problem) {
    plan.problems[document].push_back(*found->second.problem);
    return std::nullopt;
  }
  if (!found->second.clut) return std::nullopt;
  return choice_of(*found->second.clut, folder_of(*path), root);
}

// Each palette an image is shown under gets a tag: its CLUT's name, or
// "default"; tags that fall together, ASCII case aside, give way to paths.
std::vector<std::string> tags_of(const planner& plan, const std::vector<planner::showing>& shown) {
  std::vector<std::string> tags;
  for (const planner::showing& showing : shown) {
    const clut_choice& clut = plan.palettes[showing.palette];
    const std::string path = clut.path.substr(0, clut.path.find_first_of("#?"));
    tags.push_back(clut.what == clut_choice::kind::defaults
                       ? "default"
                       : without_extension(path.substr(path.rfind('/') + 1)));
  }
  std::vector<std::string> low(tags.size());
  std::transform(tags.begin(), tags.end(), low.begin(), lowered);
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const clut_choice& clut = plan.palettes[shown[i].palette];
    if (clut.what == clut_choice::kind::defaults ||
        std::count(low.begin(), low.end(), low[i]) < 2) {
      continue;
    }
    std::string tag = without_extension(clut.path.substr(0, clut.path.find_first_of("#?")));
    std::replace(tag.begin(), tag.end(), '/', '+');
    tags[i] = tag;
  }
  return tags;
}

void plan_image(planner& plan, const std::string& folder, const std::string& name,
                std::size_t index, std::vector<rendering>& renderings) {
  const auto shown = plan.shown.find(relative_path(folder, name));
  if (plan.clut_for_every_image || shown == plan.shown.end()) {
    renderings.push_back(by_folder_rule(plan, name, index));
    if (shown != plan.shown.end()) plan.shown.erase(shown);
    return;
  }
  const std::vector<std::string> tags =
      shown->second.size() > 1 ? tags_of(plan, shown->second) : std::vector<std::string>();
  for (std::size_t i = 0; i < shown->second.size(); ++i) {
    rendering taken;
    taken.image = name;
    taken.image_index = index;
    taken.name = tags.empty() ? name
                              : name.substr(0, name.size() - 4) + "@" + tags[i] +
                                    name.substr(name.size() - 4);
    taken.clut = plan.palettes[shown->second[i].palette];
    taken.why = rendering::reason::document;
    taken.document = plan.documents[shown->second[i].document];
    renderings.push_back(std::move(taken));
  }
  plan.shown.erase(shown);  // each image is planned once
}

// Renderings that would overwrite an image of the folder, or one another:
// an image keeps its own name, and of two renderings the first in byte
// order (then in the order made) keeps theirs.
void mark_clashes(const std::vector<std::string>& names, std::vector<rendering>& renderings) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < renderings.size(); ++i) {
    rendering& taken = renderings[i];
    if (taken.name != taken.image &&
        std::find(names.begin(), names.end(), taken.name) != names.end()) {
      taken.clash = rendering::clash::image_name;
    } else {
      order.push_back(i);
    }
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return renderings[a].name < renderings[b].name;
  });
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (renderings[order[i - 1]].name == renderings[order[i]].name) {
      renderings[order[i]].clash = rendering::clash::rendering_name;
    }
  }
}

}  // namespace

bool is_image_name(const std::string& name) {
  return ends_with_any_case(name, ".png");
}

bool is_clut_name(const std::string& name) {
  return ends_with_any_case(name, ".clt");
}

bool is_document_name(const std::string& name) {
  return ends_with_any_case(name, ".bml");
}

std::string relative_path(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

void read_document(planner& plan, const std::string& path, const tree_file_reader& read) {
  document_scan scan;
  std::optional<read_problem> problem = read(
      path,
      [&scan](const unsigned char* bytes, std::size_t size) { scan_document(scan, bytes, size); });
  end_document(scan);
  if (problem) {  // skipped, the problem said where the document is
    problem->path = path;
    plan.problems[path].push_back(*problem);
    return;
  }
  const std::string base = folder_of(path);
  const std::string root = service_root(path);
  clut_choice palette;  // the default colours, unless a clut says otherwise
  if (scan.body_clut) {
    palette = choice_of(*scan.body_clut, base, root);
  } else {
    for (const document_sheet& sheet : scan.sheets) {
      const std::optional<clut_choice> clut =
          sheet.linked ? linked_sheet_clut(plan, path, sheet.href, read)
          : sheet.clut ? std::optional<clut_choice>(choice_of(*sheet.clut, base, root))
                       : std::nullopt;
      if (clut) palette = *clut;
    }
  }
  const std::size_t shown_with = palette_id(plan, palette);
  std::size_t document = plan.documents.size();  // given once it shows an image
  for (const std::string& data : scan.images) {
    const std::optional<std::string> image = resolved_url(data, base, root);
    if (!image || !is_image_name(*image)) continue;  // it shows nothing
    std::vector<planner::showing>& shown = plan.shown[*image];
    const auto same = [&](const planner::showing& s) { return s.palette == shown_with; };
    const auto found = std::find_if(shown.begin(), shown.end(), same);
    // A pairing names the first of its documents in byte order, whatever
    // order the folder's listing gave them in.
    if (found != shown.end() && plan.documents[found->document] < path) continue;
    if (document == plan.documents.size()) plan.documents.push_back(path);
    if (found != shown.end()) {
      found->document = document;
    } else {
      shown.push_back(planner::showing{shown_with, document});
    }
  }
}

folder_plan plan_folder(planner& plan, const std::string& path,
                        const std::vector<std::string>& names) {
  planner::folder here;
  here.path = path;
  for (const std::string& name : names) {
    if (!is_clut_name(name)) continue;
    here.cluts_found = here.cluts_found == planner::folder::cluts::none
                           ? planner::folder::cluts::one
                           : planner::folder::cluts::several;
    here.clut = name;
  }
  plan.folders.push_back(std::move(here));
  folder_plan planned;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (is_image_name(names[i])) plan_image(plan, path, names[i], i, planned.renderings);
    if (plan.problems.empty() || !is_document_name(names[i])) continue;
    const auto problems = plan.problems.find(relative_path(path, names[i]));
    if (problems == plan.problems.end()) continue;
    planned.notices.push_back(document_notice{names[i], std::move(problems->second)});
    plan.problems.erase(problems);
  }
  mark_clashes(names, planned.renderings);
  return planned;
}

void leave_folder(planner& plan) {
  plan.folders.pop_back();
}

}  // namespace palfill
