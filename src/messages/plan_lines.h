// The planner's findings in palfill-tree's words: the line a rendering
// fails with before anything is read, the line of a document or sheet that
// could not be read, and a rendering's row of a plan. palfill-tree and the
// page both say them from here. `named` names a path relative to IN_DIR
// as lines name it (IN_DIR joined with it).
#ifndef PALFILL_MESSAGES_PLAN_LINES_H_
#define PALFILL_MESSAGES_PLAN_LINES_H_

#include <functional>
#include <optional>
#include <string>

#include "messages/messages.h"
#include "plan/planner.h"

namespace palfill {

using path_namer = std::function<std::string(const std::string& path)>;

// The line of a file the planner could not read; an URL that leads out of
// IN_DIR is named as written.
std::string read_problem_line(const read_problem& problem, const path_namer& named);

// The line `taken`, a rendering in `folder`, fails with before its image
// or CLUT is read: its name taken, its folder's CLUTs refused, its CLUT
// outside IN_DIR. None when it goes on to convert.
std::optional<std::string> known_failure_line(const std::string& folder, const rendering& taken,
                                              const path_namer& named);

// `taken`'s row of a plan. `given` names the CLUT for every image;
// `failure`, its known failure, makes the row a `!` one.
plan_fields plan_row(const std::string& folder, const rendering& taken, const std::string& given,
                     const std::optional<std::string>& failure);

}  // namespace palfill

#endif  // PALFILL_MESSAGES_PLAN_LINES_H_
