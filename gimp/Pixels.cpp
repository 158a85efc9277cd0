#include "gimp/Pixels.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "fit/GlyphTable.h"

namespace gm::gimp {

namespace {

// Rows read at a time: a few of GIMP's tile rows, fewer for a wide box (down
// to one), so that what the plug-in holds stays near this size.
constexpr int32_t kStripRows = 256;
constexpr size_t kStripBytes = size_t{16} << 20;

// Alpha between pixels in the drawable's format (the last component of
// each) and a row of the box's alpha, N bytes a sample.
template <size_t N>
void MoveAlpha(uint8_t* pixels, int pixelBytes, uint8_t* alpha, int count, bool toPixels) {
  uint8_t* sample = pixels + pixelBytes - N;
  for (int i = 0; i < count; ++i, sample += pixelBytes, alpha += N) {
    if (toPixels) {
      std::memcpy(sample, alpha, N);
    } else {
      std::memcpy(alpha, sample, N);
    }
  }
}

using AlphaMover = void (*)(uint8_t*, int, uint8_t*, int, bool);

AlphaMover MoverFor(int alphaBytes) {
  switch (alphaBytes) {
    case 1: return MoveAlpha<1>;
    case 2: return MoveAlpha<2>;
    case 4: return MoveAlpha<4>;
    case 8: return MoveAlpha<8>;
    default: return nullptr;
  }
}

int32_t RoundDown(int32_t v, int32_t step) { return v / step * step; }

class Buffer {
 public:
  explicit Buffer(GeglBuffer* buffer) : buffer_(buffer) {}
  ~Buffer() {
    if (buffer_) g_object_unref(buffer_);  // a shadow buffer's last tiles go to GIMP here
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  GeglBuffer* get() const { return buffer_; }

 private:
  GeglBuffer* buffer_;
};

// Rows of the box held between reading and writing: the colour as the filter
// takes it and the alpha as stored. Row 0 is the box's row `top`.
class Window {
 public:
  Window(gint32 drawable, const GeglRectangle& box, int32_t rows)
      : box_(box),
        native_(gimp_drawable_get_format(drawable)),
        rgb8_(babl_format_with_space("R'G'B' u8", native_)),
        toColour_(babl_fish(native_, rgb8_)),
        fromColour_(babl_fish(rgb8_, native_)),
        pixelBytes_(babl_format_get_bytes_per_pixel(native_)),
        alphaBytes_(babl_format_has_alpha(native_) ? pixelBytes_ / babl_format_get_n_components(native_) : 0),
        moveAlpha_(MoverFor(alphaBytes_)),
        colour_(box.width, rows, 3),
        alpha_(static_cast<size_t>(box.width) * rows * alphaBytes_),  // not zero-filled: rows are read in first
        top_(box.y) {}

  bool Usable() const { return alphaBytes_ == 0 || moveAlpha_; }
  Image& Colour() { return colour_; }
  int32_t Top() const { return top_; }

  // Rows [from, to) of the box into the window, through GEGL's own tiles in
  // the drawable's format: no conversion on GEGL's side, no copy of the box.
  void Read(GeglBuffer* source, int32_t from, int32_t to) {
    assert(to - top_ <= colour_.height);
    EachChunk(source, from, to, GEGL_ACCESS_READ, [&](uint8_t* pixels, const GeglRectangle& roi) {
      babl_process_rows(toColour_, pixels, roi.width * pixelBytes_, ColourAt(roi.x, roi.y), Stride(), roi.width,
                        roi.height);
      MoveAlphaRows(pixels, roi, false);
    });
  }

  // Rows [top, to) from the window to the shadow buffer; the colour into the
  // drawable's format sets alpha to opaque, the alpha read goes over it.
  void Write(GeglBuffer* shadow, int32_t to) {
    EachChunk(shadow, top_, to, GEGL_ACCESS_WRITE, [&](uint8_t* pixels, const GeglRectangle& roi) {
      babl_process_rows(fromColour_, ColourAt(roi.x, roi.y), Stride(), pixels, roi.width * pixelBytes_, roi.width,
                        roi.height);
      MoveAlphaRows(pixels, roi, true);
    });
  }

  // Drops the rows before `top` (written), keeping [top, end) at the start.
  void MoveTop(int32_t top, int32_t end) {
    const size_t kept = static_cast<size_t>(end - top);
    const size_t dropped = static_cast<size_t>(top - top_);
    std::memmove(colour_.pixels.data(), colour_.Row(static_cast<int32_t>(dropped)).data(), kept * colour_.RowBytes());
    const size_t alphaRow = static_cast<size_t>(box_.width) * alphaBytes_;
    if (alphaBytes_) std::memmove(alpha_.data(), alpha_.data() + dropped * alphaRow, kept * alphaRow);
    top_ = top;
  }

 private:
  uint8_t* ColourAt(int32_t x, int32_t y) { return colour_.At(x - box_.x, y - top_); }
  int Stride() const { return static_cast<int>(colour_.RowBytes()); }

  void MoveAlphaRows(uint8_t* pixels, const GeglRectangle& roi, bool toPixels) {
    for (int row = 0; alphaBytes_ && row < roi.height; ++row) {
      const size_t at = static_cast<size_t>(roi.y - top_ + row) * box_.width + (roi.x - box_.x);
      moveAlpha_(pixels + static_cast<size_t>(row) * roi.width * pixelBytes_, pixelBytes_,
                 alpha_.data() + at * alphaBytes_, roi.width, toPixels);
    }
  }

  template <typename Chunk>
  void EachChunk(GeglBuffer* buffer, int32_t from, int32_t to, GeglAccessMode access, Chunk&& chunk) {
    const GeglRectangle rows{box_.x, from, box_.width, to - from};
    GeglBufferIterator* it = gegl_buffer_iterator_new(buffer, &rows, 0, native_, access, GEGL_ABYSS_NONE, 1);
    while (gegl_buffer_iterator_next(it)) chunk(static_cast<uint8_t*>(it->items[0].data), it->items[0].roi);
  }

  GeglRectangle box_;
  const Babl* native_;  // the drawable's own format
  const Babl* rgb8_;    // R'G'B' u8 in the drawable's space
  const Babl* toColour_;
  const Babl* fromColour_;
  int pixelBytes_;
  int alphaBytes_;  // of the last component; 0 without alpha
  AlphaMover moveAlpha_;
  Image colour_;
  PixelBuffer alpha_;
  int32_t top_;  // the box row the window starts at
};

}  // namespace

std::string FilterBox(gint32 drawable, const GeglRectangle& box, const StripFilter& filter) {
  const Buffer source(gimp_drawable_get_buffer(drawable));
  std::string failure;
  {
    const Buffer shadow(gimp_drawable_get_shadow_buffer(drawable));
    if (!source.get() || !shadow.get()) return "GIMP gave no access to the layer's pixels";
    gint tileHeight = 0;
    g_object_get(source.get(), "tile-height", &tileHeight, nullptr);
    tileHeight = std::max(tileHeight, 1);
    // A strip starts at a cell boundary, so that the grid runs on from the
    // box's top, and is written up to a tile boundary, so that no tile of the
    // shadow is fetched from GIMP to be written in two parts. What lies
    // between waits in the window for the next strip.
    const int pixelBytes = babl_format_get_bytes_per_pixel(gimp_drawable_get_format(drawable));
    const size_t rowBytes = static_cast<size_t>(box.width) * pixelBytes;
    const auto wanted = static_cast<int32_t>(std::clamp<size_t>(kStripBytes / rowBytes, 1, kStripRows));
    const int32_t stripRows = std::max(wanted / tileHeight, 1) * tileHeight;
    Window window(drawable, box, stripRows + tileHeight + kGlyphHeight);
    if (!window.Usable()) return "the layer's pixel format is not one the filter knows";
    const int32_t end = box.y + box.height;
    int32_t read = box.y;      // rows before this are in the window or written
    int32_t filtered = box.y;  // and before this, filtered
    while (window.Top() < end) {
      const int32_t readTo = std::min(end, RoundDown(read + stripRows, tileHeight));
      window.Read(source.get(), read, readTo);
      read = readTo;
      const int32_t filterTo = read == end ? end : box.y + RoundDown(read - box.y, kGlyphHeight);
      if (filterTo > filtered) {
        const int32_t top = window.Top();
        failure = filter(window.Colour(), VRect{filtered - top, 0, filterTo - top, box.width});
        if (!failure.empty()) break;
        filtered = filterTo;
      }
      const int32_t writeTo = filtered == end ? end : RoundDown(filtered, tileHeight);
      if (writeTo > window.Top()) {
        window.Write(shadow.get(), writeTo);
        window.MoveTop(writeTo, read);
      }
    }
  }
  if (!failure.empty()) return failure;
  if (!gimp_drawable_merge_shadow(drawable, TRUE)) return "GIMP refused the filtered pixels";
  gimp_drawable_update(drawable, box.x, box.y, box.width, box.height);
  return {};
}

}  // namespace gm::gimp
