#include "cli/Play.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstring>
#include <vector>

#include "fit/GlyphTable.h"
#include "io/Fd.h"
#include "io/Scale.h"
#include "io/Units.h"

namespace gm::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kHideCursor[] = "\x1b[?25l";
constexpr char kShowCursor[] = "\x1b[?25h";

class Screen {
 public:
  explicit Screen(const ToolIO& io) : io_(io), fd_(::fileno(io.out)) {}
  // However the show ends, the cursor is shown again.
  ~Screen() {
    if (hidden_) io::WriteAll(fd_, kShowCursor, sizeof kShowCursor - 1);
  }

  void Write(const std::string& bytes) {
    std::fflush(io_.out);
    if (const int error = io::WriteAll(fd_, bytes.data(), bytes.size())) {
      throw Failure(kExitOutput, kStandardOutput, std::strerror(error));
    }
  }
  void HideCursor() {
    hidden_ = true;
    Write(kHideCursor);
  }
  // Sleeps until `due`; false when Ctrl-C came first.
  bool WaitUntil(Clock::time_point due) const {
    while (!Cancelled()) {
      const auto left = due - Clock::now();
      if (left <= Clock::duration::zero()) return true;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      const timespec pause{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
      ::nanosleep(&pause, nullptr);  // Ctrl-C cuts it short
    }
    return false;
  }
  bool Cancelled() const { return io_.cancel && io_.cancel(); }

 private:
  const ToolIO& io_;
  int fd_;
  bool hidden_ = false;
};

// Ctrl-C is how a show ends; SIGTERM and SIGHUP still say they stopped it.
int Stopped(const ToolIO& io) {
  const int signal = io.stopSignal ? io.stopSignal() : 0;
  return signal && signal != SIGINT ? 128 + signal : kExitOk;
}

std::string Up(const std::string& art) {
  const auto lines = std::count(art.begin(), art.end(), '\n');
  return lines ? "\x1b[" + std::to_string(lines) + "A" : "";
}

}  // namespace

int PlayFrames(const ToolIO& io, const NextFrame& next, const FrameArt& art, int plays, uint64_t maxBytes) {
  Screen screen(io);
  Image frame;
  int delay = 0;
  if (!next(frame, delay)) return kExitOk;
  std::vector<std::pair<std::string, int>> shown{{art(std::move(frame)), delay}};
  uint64_t kept = shown[0].first.size();
  screen.Write(shown[0].first);
  auto due = Clock::now() + std::chrono::milliseconds(delay);
  try {
    size_t onScreen = 0;
    bool hidden = false;
    for (int round = 1; plays == 0 || round <= plays; ++round) {
      for (size_t i = round == 1 ? 1 : 0;; ++i) {
        // The first round decodes each frame while the one before is on show.
        if (i == shown.size()) {
          if (round > 1 || !next(frame, delay)) break;
          shown.emplace_back(art(std::move(frame)), delay);
          kept += shown.back().first.size();
          if (kept > maxBytes) {
            throw Failure(kExitInput, "",
                          "the art of the animation's frames needs more than the memory limit of " +
                              io::FormatBytes(maxBytes) + " (--max-memory)");
          }
        }
        if (!screen.WaitUntil(due)) return Stopped(io);
        if (!hidden) screen.HideCursor();
        hidden = true;
        screen.Write(Up(shown[onScreen].first) + shown[i].first);
        onScreen = i;
        due = Clock::now() + std::chrono::milliseconds(shown[i].second);
      }
      if (shown.size() == 1) break;  // a still image, or an animation of one frame
    }
  } catch (const Failure& f) {
    // Ctrl-C while a frame was decoded or filtered ends the show too.
    if (f.ExitCode() == kExitCancelled) return Stopped(io);
    throw;
  }
  return kExitOk;
}

int32_t ColumnsToFit(int columns, int rows, int32_t width, int32_t height) {
  int32_t c = std::max(1, columns);
  while (c > 1 && io::ScaledSize(width, height, c * kGlyphWidth).height / kGlyphHeight > rows - 1) --c;
  return c;
}

}  // namespace gm::cli
