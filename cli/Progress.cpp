#include "cli/Progress.h"

#include <algorithm>

namespace gm::cli {

namespace {
constexpr int kBarWidth = 30;
}

std::string ProgressLine(const std::string& label, int permille, int width) {
  permille = std::clamp(permille, 0, 1000);
  const int filled = permille * width / 1000;
  std::string line = label + " [";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(width - filled), ' ');
  char percent[16];
  std::snprintf(percent, sizeof percent, "] %3d%%", permille / 10);
  return line + percent;
}

void ProgressBar::Update(int64_t done, int64_t total) {
  if (!enabled_ || total <= 0) return;
  const int permille = static_cast<int>(std::clamp<int64_t>(done * 1000 / total, 0, 1000));
  if (permille == shown_) return;
  shown_ = permille;
  std::fprintf(out_, "\r%s", ProgressLine(label_, permille, kBarWidth).c_str());
  std::fflush(out_);
}

void ProgressBar::Clear() {
  if (!enabled_ || shown_ < 0) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  shown_ = -1;
}

}  // namespace gm::cli
