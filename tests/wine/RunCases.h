// Whole filter runs that the Windows module must reproduce byte for byte.
// The native build runs each case and stores input and output (MakeReference);
// the wine test runs the same case through the loaded .8bf and compares.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "abi/HostTypes.h"
#include "host/FilterHost.h"
#include "io/Image.h"

namespace gm::test {

struct RunCase {
  const char* name;
  const char* sample;  // samples/<sample>.png
  int16_t tileWidth;
  int16_t tileHeight;
  bool bigDocument;  // offer 32-bit coordinates
  std::optional<VRect> filterRect;
  int32_t rowPadding;

  // What the host offers for this case, natively and in the Windows test host alike.
  host::RunOptions Options() const {
    host::RunOptions options;
    options.tileWidth = tileWidth;
    options.tileHeight = tileHeight;
    options.bigDocument = bigDocument;
    options.filterRect = filterRect;
    options.rowPadding = rowPadding;
    return options;
  }
};

// Odd tile sizes make the driver round down (and, below one cell, refuse);
// 16-bit and 32-bit coordinates take different accessor paths.
inline const std::vector<RunCase>& RunCases() {
  static const std::vector<RunCase> cases = {
      {"astronaut-32bit-256", "astronaut", 256, 256, true, std::nullopt, 0},
      {"astronaut-16bit-100x77", "astronaut", 100, 77, false, std::nullopt, 0},
      {"astronaut-32bit-13x37", "astronaut", 13, 37, true, VRect{5, 3, 509, 500}, 3},
      {"coffee-32bit-45x50", "coffee", 45, 50, true, VRect{13, 7, 391, 593}, 5},
      {"coffee-16bit-517x131", "coffee", 517, 131, false, std::nullopt, 1},
      {"coffee-16bit-8x12", "coffee", 8, 12, false, VRect{0, 0, 400, 600}, 0},
      {"coffee-32bit-7x11", "coffee", 7, 11, true, std::nullopt, 0},  // below one cell
  };
  return cases;
}

// Failure messages name the case rather than dumping its bytes.
inline void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

// Raw files: an image is three int32 (width, height, channels) then its
// samples; a result is two int16 (plug-in result, host error) then the image.
inline bool WriteRaw(const std::string& path, const Image& image, const int16_t* codes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const int32_t head[3] = {image.width, image.height, image.channels};
  bool ok = (!codes || std::fwrite(codes, sizeof(int16_t), 2, f) == 2) &&
            std::fwrite(head, sizeof head, 1, f) == 1 &&
            std::fwrite(image.pixels.data(), 1, image.pixels.size(), f) == image.pixels.size();
  return std::fclose(f) == 0 && ok;
}

inline bool ReadRaw(const std::string& path, Image& image, int16_t* codes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  int32_t head[3] = {};
  bool ok = (!codes || std::fread(codes, sizeof(int16_t), 2, f) == 2) && std::fread(head, sizeof head, 1, f) == 1 &&
            head[0] > 0 && head[1] > 0 && head[0] <= 1 << 14 && head[1] <= 1 << 14 && (head[2] == 3 || head[2] == 4);
  if (ok) {
    image = Image(head[0], head[1], head[2]);
    ok = std::fread(image.pixels.data(), 1, image.pixels.size(), f) == image.pixels.size() &&
         std::fgetc(f) == EOF;
  }
  std::fclose(f);
  return ok;
}

}  // namespace gm::test
