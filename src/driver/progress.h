// palfill-tree's progress line on a terminal: images done of those found,
// the rate and the time left, redrawn in place on standard error at most
// ten times a second, and erased before anything else is printed.
#ifndef PALFILL_DRIVER_PROGRESS_H_
#define PALFILL_DRIVER_PROGRESS_H_

#include <chrono>
#include <cstddef>

namespace palfill {

struct progress_line {
  bool shown = false;  // standard error is a terminal
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point drawn;
  std::size_t width = 0;  // of what is on the terminal now
};

// Draws `done` of `total`, unless it was drawn less than 0.1 s ago and
// `now` is false.
void draw_progress(progress_line& line, std::size_t done, std::size_t total, bool now);

void erase_progress(progress_line& line);

}  // namespace palfill

#endif  // PALFILL_DRIVER_PROGRESS_H_
