#include "io/Exif.h"

#include <cstring>

namespace gm::io {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;
constexpr size_t kEntryBytes = 12;

struct Reader {
  std::span<const uint8_t> bytes;
  bool bigEndian;

  uint16_t U16(size_t at) const {
    const uint8_t* p = bytes.data() + at;
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
  }
  uint32_t U32(size_t at) const {
    const uint32_t hi = U16(at), lo = U16(at + 2);
    return bigEndian ? hi << 16 | lo : lo << 16 | hi;
  }
};

}  // namespace

int ExifOrientation(std::span<const uint8_t> block) {
  static const uint8_t kPrefix[] = {'E', 'x', 'i', 'f', 0, 0};
  if (block.size() >= sizeof kPrefix && std::memcmp(block.data(), kPrefix, sizeof kPrefix) == 0) {
    block = block.subspan(sizeof kPrefix);
  }
  if (block.size() < 8) return 1;
  const bool little = block[0] == 'I' && block[1] == 'I';
  if (!little && !(block[0] == 'M' && block[1] == 'M')) return 1;
  const Reader r{block, !little};
  if (r.U16(2) != 42) return 1;

  // Every offset is checked against the block before it is read.
  const uint64_t directory = r.U32(4);
  if (directory + 2 > block.size()) return 1;
  const uint64_t entries = r.U16(directory);
  if (directory + 2 + entries * kEntryBytes > block.size()) return 1;
  for (uint64_t i = 0; i < entries; ++i) {
    const size_t entry = directory + 2 + i * kEntryBytes;
    if (r.U16(entry) != kOrientationTag) continue;
    if (r.U16(entry + 2) != kShortType || r.U32(entry + 4) == 0) return 1;
    const int value = r.U16(entry + 8);  // a single short sits at the start of the value field
    return value >= 1 && value <= 8 ? value : 1;
  }
  return 1;
}

}  // namespace gm::io
