// The glyph-fitting kernel directly: any extent, any stride (padded, exact or
// negative) and any pixels, in a buffer allocated to exactly the bytes the
// rectangle covers. Every variant this processor runs must leave the buffer
// byte for byte as the plain algorithm does, and the plain algorithm must
// keep its own promises: untouched padding, three equal samples of 0, 192 or
// 255 per pixel, and nothing left to change when run again.
#include <cstring>
#include <memory>
#include <vector>

#include "fit/FitGlyphs.h"
#include "fit/FitPlain.h"
#include "fit/Kernels.h"
#include "fuzz/ByteReader.h"
#include "fuzz/Check.h"

namespace {

using gm::fuzz::ByteReader;

constexpr int64_t kMaxPixels = 4000;
// The variants work in chunks of 64 cells (512 pixels); a band must be wider
// than that, and than two of them, for the chunk edges to be reached.
constexpr uint32_t kWideFrom = 64 * kGlyphWidth - 40;
constexpr uint32_t kWideSpan = 600;
constexpr int64_t kMaxWidePixels = int64_t{kWideFrom + kWideSpan} * (kGlyphHeight + 1);

struct Buffer {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
  size_t origin;  // offset of the top-left pixel
  uint8_t* Pixels() { return bytes.get() + origin; }
};

Buffer CopyOf(const std::vector<uint8_t>& source, size_t origin) {
  Buffer b{std::make_unique<uint8_t[]>(source.size()), source.size(), origin};
  if (!source.empty()) std::memcpy(b.bytes.get(), source.data(), source.size());
  return b;
}

// Levels and padding after the plain kernel, pixel by pixel.
void CheckPlainOutput(const uint8_t* before, const uint8_t* after, size_t size, size_t origin, uint32_t width,
                      uint32_t height, int32_t rowBytes) {
  const uint32_t cellWidth = width / kGlyphWidth * kGlyphWidth;
  const uint32_t cellHeight = height / kGlyphHeight * kGlyphHeight;
  std::vector<bool> isPixel(size, false);
  for (uint32_t y = 0; y < height; ++y) {
    const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(origin) + static_cast<std::ptrdiff_t>(y) * rowBytes;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = after + row + 3 * x;
      GM_FUZZ_CHECK(p[0] == p[1] && p[1] == p[2]);
      const bool inCell = x < cellWidth && y < cellHeight;
      GM_FUZZ_CHECK(inCell ? (p[0] == 0 || p[0] == 192) : (p[0] == 0 || p[0] == 255));
      for (int c = 0; c < 3; ++c) isPixel[static_cast<size_t>(row + 3 * x + c)] = true;
    }
  }
  // The bytes between one row's pixels and the next row are not the kernel's.
  for (size_t i = 0; i < size; ++i) {
    if (!isPixel[i]) GM_FUZZ_CHECK(after[i] == before[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  // Narrow extents are cheap and reach every tail and stride case; the top
  // few width values stand for a band of a few rows beyond a chunk.
  uint32_t width = static_cast<uint32_t>(in.Range(0, 160));
  if (width > 152) width = kWideFrom + static_cast<uint32_t>(in.Range(0, kWideSpan));
  const uint32_t height = static_cast<uint32_t>(in.Range(0, 60));
  if (int64_t{width} * height > (width > 160 ? kMaxWidePixels : kMaxPixels)) return 0;

  const int64_t rowPixels = 3 * int64_t{width};
  int64_t stride = rowPixels;
  switch (in.Range(0, 5)) {
    case 1: stride = rowPixels + in.Range(1, 64); break;
    case 2: stride = -(rowPixels + in.Range(0, 64)); break;
    case 3: stride = height <= 1 ? in.Read<int32_t>() : stride; break;  // one row: any stride
    default: break;
  }
  const int64_t absStride = stride < 0 ? -stride : stride;
  const int64_t span = height == 0 ? 0 : (int64_t{height} - 1) * absStride + rowPixels;
  if (span > (int64_t{1} << 22)) return 0;
  const size_t origin = stride < 0 && height > 0 ? static_cast<size_t>((int64_t{height} - 1) * absStride) : 0;

  // Two words once held the rectangle's corner, when the kernel took one;
  // read still, so that saved inputs keep their meaning.
  in.Read<uint32_t>();
  in.Read<uint32_t>();

  std::vector<uint8_t> original(static_cast<size_t>(span));
  uint8_t pattern[512];
  const size_t n = static_cast<size_t>(in.Range(0, sizeof pattern));
  in.Fill({pattern, n});
  for (size_t i = 0; i < original.size(); ++i) original[i] = n ? pattern[i % n] : static_cast<uint8_t>(i * 131 + (i >> 7));

  const int32_t rowBytes = static_cast<int32_t>(stride);
  Buffer reference = CopyOf(original, origin);
  FitGlyphsPlain(reference.Pixels(), width, height, rowBytes);
  CheckPlainOutput(original.data(), reference.bytes.get(), original.size(), origin, width, height, rowBytes);

  Buffer again = CopyOf(std::vector<uint8_t>(reference.bytes.get(), reference.bytes.get() + span), origin);
  FitGlyphsPlain(again.Pixels(), width, height, rowBytes);
  GM_FUZZ_CHECK(span == 0 || std::memcmp(again.bytes.get(), reference.bytes.get(), static_cast<size_t>(span)) == 0);

  for (const FitKernel& kernel : FitKernels()) {
    if (!kernel.supported()) continue;
    Buffer b = CopyOf(original, origin);
    kernel.fit(b.Pixels(), width, height, rowBytes);
    if (span != 0 && std::memcmp(b.bytes.get(), reference.bytes.get(), static_cast<size_t>(span)) != 0) {
      std::fprintf(stderr, "variant %s differs from the plain kernel: %u x %u, stride %d\n", kernel.name, width, height,
                   rowBytes);
      GM_FUZZ_CHECK(false);
    }
  }
  Buffer dispatched = CopyOf(original, origin);
  FitGlyphs(dispatched.Pixels(), width, height, rowBytes);
  GM_FUZZ_CHECK(span == 0 || std::memcmp(dispatched.bytes.get(), reference.bytes.get(), static_cast<size_t>(span)) == 0);
  return 0;
}
