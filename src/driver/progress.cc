#include "progress.h"

#include <algorithm>
#include <string>

#include "env.h"

namespace palfill {

void draw_progress(progress_line& line, std::size_t done, std::size_t total, bool now) {
  const auto time = std::chrono::steady_clock::now();
  if (!line.shown || (!now && time - line.drawn < std::chrono::milliseconds(100))) return;
  line.drawn = time;
  const double seconds = std::chrono::duration<double>(time - line.start).count();
  const double rate = seconds > 0 ? done / seconds : 0;
  std::string text = std::to_string(done) + "/" + std::to_string(total) + " images";
  if (rate > 0) {
    const double left = (total - std::min(done, total)) / rate;
    text += ", " + std::to_string(static_cast<long>(rate)) + " a second, " +
            std::to_string(static_cast<long>(left + 0.5)) + " s left";
  }
  const std::size_t width = text.size();
  if (width < line.width) text += std::string(line.width - width, ' ');
  write_stderr("\r" + text);
  line.width = std::max(line.width, width);
}

void erase_progress(progress_line& line) {
  if (line.width == 0) return;
  write_stderr("\r" + std::string(line.width, ' ') + "\r");
  line.width = 0;
}

}  // namespace palfill
