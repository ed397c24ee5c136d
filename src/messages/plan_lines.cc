#include "messages/plan_lines.h"

namespace palfill {

std::string read_problem_line(const read_problem& problem, const path_namer& named) {
  const std::string target = problem.outside ? problem.path : named(problem.path);
  switch (problem.what) {
    case read_problem::kind::not_regular:
      return not_regular_file_line(target);
    case read_problem::kind::read_failed:
      return cant_read_line(target);
    case read_problem::kind::cannot_open:
      break;
  }
  return cant_open_line(target);
}

std::optional<std::string> known_failure_line(const std::string& folder, const rendering& taken,
                                              const path_namer& named) {
  const std::string image = named(relative_path(folder, taken.image));
  switch (taken.clash) {
    case rendering::clash::image_name:
      return rendering_names_image_line(image);
    case rendering::clash::rendering_name:
      return rendering_names_rendering_line(image);
    case rendering::clash::none:
      break;
  }
  if (taken.clut.what == clut_choice::kind::refused) {
    return more_than_one_clut_line(named(taken.clut.path));
  }
  if (taken.clut.what == clut_choice::kind::outside) {  // as a CLUT that cannot be opened
    return cant_open_line(taken.clut.path);
  }
  return std::nullopt;
}

plan_fields plan_row(const std::string& folder, const rendering& taken, const std::string& given,
                     const std::optional<std::string>& failure) {
  plan_fields fields{relative_path(folder, taken.name), relative_path(folder, taken.image),
                     taken.clut.path, ""};
  static const char* const reasons[] = {"", "folder", "defaults", "--clut", ""};
  fields.why = taken.why == rendering::reason::document ? "document " + taken.document
                                                        : reasons[static_cast<int>(taken.why)];
  if (taken.clut.what == clut_choice::kind::defaults) fields.clut = "-";
  if (taken.clut.what == clut_choice::kind::given) fields.clut = given;
  if (failure) {
    fields.clut = "!";
    fields.why = failure->substr(0, failure->size() - 1);
  }
  return fields;
}

}  // namespace palfill
