// Animations (GIF, WebP, JPEG XL). Each format's reader composes its frames
// on one canvas as browsers show them; FrameOf takes one frame as a decode
// does, and Animation hands the frames out in turn, for the tool to play.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/Decode.h"
#include "io/Image.h"
#include "io/Source.h"

namespace gm::io {

struct Codec;

// What a format with animations implements: a still file is one frame.
class FrameReader {
 public:
  virtual ~FrameReader() = default;
  // The next frame drawn on the reader's canvas (RGBA, width x height; a
  // frame may draw over the one before) and how long it is shown, in
  // milliseconds as the file says. Null after the last frame.
  virtual const Image* Next(int& delayMs) = 0;

  // Refuses, once the canvas's size is known and before any frame is
  // decoded, a canvas and the frame taken from it that will not fit the
  // limits along with `held` bytes of the reader's own (`what` names them).
  void CheckMemory(const std::string& file, uint64_t held, const char* what, const DecodeRequest& request) const;

  int32_t width = 0;   // the canvas, known once the reader is made: its memory
  int32_t height = 0;  // and the reader's own have been checked against the limits
  int orientation = 1;
  bool animated = false;  // the file says more than one frame follows
  bool alpha = true;      // the frame just drawn may be transparent
  int plays = 1;          // times the frames are shown through; 0 for ever
};

// Frame `request.frame` of an animation, scaled as the request asks.
Image FrameOf(FrameReader& reader, const std::string& file, const DecodeRequest& request);

// How long browsers show a frame: 0 to 10 ms as 100 ms.
int ShownDelay(int delayMs);

// A file's frames one after another, for playing: a still image is one frame.
class Animation {
 public:
  // Reads the header; "-" is standard input.
  Animation(const std::string& path, const DecodeRequest& request);
  ~Animation();
  Animation(const Animation&) = delete;
  Animation& operator=(const Animation&) = delete;

  // Whether the file says it has more than one frame; then the canvas's
  // size and orientation are known, before any frame is decoded.
  bool Animated() const;
  int32_t Width() const;
  int32_t Height() const;
  int Orientation() const;
  // Before the first frame: the size to scale each frame to.
  void Scale(const ScaleRequest& scale) { request_.scale = scale; }

  // The next frame, scaled, and how long it is shown (ShownDelay); false
  // after the last.
  bool Next(Image& image, int& delayMs);
  // Times the frames are shown through; 0 for ever.
  int Plays() const;

 private:
  std::unique_ptr<Source> source_;
  const Codec* codec_ = nullptr;
  DecodeRequest request_;
  std::unique_ptr<FrameReader> reader_;
  bool stillDone_ = false;
};

}  // namespace gm::io
