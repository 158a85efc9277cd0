// An animation's art played in place at the terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cli/Tool.h"
#include "io/Image.h"

namespace gm::cli {

// The next frame and how long it is shown; false after the last.
using NextFrame = std::function<bool(Image& frame, int& delayMs)>;
// The art of a frame as the terminal shows it: lines ending in "\n".
using FrameArt = std::function<std::string(Image frame)>;

// Prints the first frame's art; when more frames follow, draws each over
// the last at the file's delays, `plays` times through (0 for ever), with
// the cursor hidden, until Ctrl-C, which ends the show with exit code 0 and
// the cursor shown again below the art. The art of every frame is kept for
// the later rounds, up to `maxBytes`.
int PlayFrames(const ToolIO& io, const NextFrame& next, const FrameArt& art, int plays, uint64_t maxBytes);

// The widest art, at most `columns` cells, that a `width` x `height` image
// gives in at most `rows` - 1 lines, so that drawing over it never scrolls.
int32_t ColumnsToFit(int columns, int rows, int32_t width, int32_t height);

}  // namespace gm::cli
