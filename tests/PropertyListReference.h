// The property list the host must find, written out independently of the
// generator: each record as its file offset, key bytes as they lie in the
// file, stored length and data bytes. Shared by the native and wine tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gm::test {

struct ReferenceRecord {
  uint32_t offset;      // in the Win32 list
  const char* keyBytes;  // four bytes as stored: "dnik" for `kind`
  uint32_t length;
  std::vector<uint8_t> data;
};

inline std::vector<uint8_t> Bytes(const std::string& text, size_t total) {
  std::vector<uint8_t> out(text.begin(), text.end());
  out.resize(total, 0);
  return out;
}

inline std::vector<ReferenceRecord> ReferenceRecords(bool win64) {
  std::vector<ReferenceRecord> records = {
      {10, "dnik", 4, Bytes("MFB8", 4)},
      {30, "eman", 16, Bytes("\x0bGlyphMosaic", 16)},
      {62, "gtac", 12, Bytes("\x0aOrbFilters", 12)},
      {90, "srev", 4, {0x00, 0x00, 0x04, 0x00}},
      {110, "68xw", 12, Bytes("PluginMain", 12)},
      {138, "edom", 4, {0x10, 0x00, 0x00, 0x00}},
      {158, "lbne", 32, Bytes("in (PSHOP_ImageMode, RGBMode)", 32)},
      {206, "23sm", 8, {0x80, 0x84, 0x1E, 0x00, 0x80, 0x84, 0x1E, 0x00}},
      {230, "icif", 28, {}},
  };
  for (int i = 0; i < 7; ++i) records.back().data.insert(records.back().data.end(), {1, 1, 0, 0});
  if (win64) {
    // The x64 entry point follows the x86 one; everything after it moves by 28.
    records.insert(records.begin() + 5, {138, "4668", 12, Bytes("PluginMain", 12)});
    for (size_t i = 6; i < records.size(); ++i) records[i].offset += 28;
  }
  return records;
}

// The whole resource: the 10-byte header, then the records back to back.
inline std::vector<uint8_t> ReferencePropertyList(bool win64) {
  const auto records = ReferenceRecords(win64);
  const auto count = static_cast<uint8_t>(records.size());
  std::vector<uint8_t> out = {1, 0, 0, 0, 0, 0, count, 0, 0, 0};
  for (const auto& r : records) {
    const std::string head = std::string("MIB8") + r.keyBytes;
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), {0, 0, 0, 0});
    out.insert(out.end(), {static_cast<uint8_t>(r.length), 0, 0, 0});
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  return out;
}

}  // namespace gm::test
