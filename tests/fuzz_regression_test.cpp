// Faults the fuzzers found, each kept as an ordinary test with the input
// that showed it, so that it stays fixed in every preset.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>

#include "io/Formats.h"

namespace {

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// AddressSanitizer keeps one shadow byte for every 8 bytes reserved, and
// writes it: that much of a reservation does cost memory in such a build.
#if defined(__SANITIZE_ADDRESS__)
#define GM_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GM_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef GM_ADDRESS_SANITIZER
constexpr bool kShadowMemory = true;
#else
constexpr bool kShadowMemory = false;
#endif

struct Bomb {
  const char* file;
  const char* reason;  // part of the one-line error
  long claimedKiB;     // the pixels the header claims
};

// Files of a few dozen bytes whose headers claim an image the tool's default
// limits allow (30000 x 30000 RGB is 2.5 GiB), a tile larger than the whole
// memory limit, or a row wide enough that a band of it would take 512 MiB.
// Each used to commit the claimed memory before reading a single row.
const Bomb kBombs[] = {
    {"bomb-30000.png", "truncated PNG", 30000L * 30000 * 3 / 1024},
    {"bomb-30000.tif", "truncated TIFF", 30000L * 30000 * 3 / 1024},
    {"bomb-tile.tif", "larger than the memory limit", 16 * 16 * 3 / 1024},
    {"bomb-wide-16bit.tif", "truncated TIFF", 2000000L * 3 / 1024},
    // A 300-byte PNG whose text chunk claims 1.2 GB: libpng only warned
    // before allocating it, in front of the pixels or behind them.
    {"found-huge-text-before-pixels.png", "chunk data is too large", 0},
    {"found-huge-text-after-pixels.png", "chunk data is too large", 0},
};

TEST(DecompressionBomb, FailsBeforeTheClaimedImageCostsMemory) {
  for (const Bomb& bomb : kBombs) {
    const std::string path = std::string(GM_SOURCE_DIR) + "/fuzz/corpus/decode/" + bomb.file;
    const long before = PeakResidentKiB();
    try {
      gm::io::DecodeFile(path, {gm::io::DecodeLimits{}, [] { return false; }});
      ADD_FAILURE() << bomb.file << " decoded";
    } catch (const gm::io::Error& failure) {
      EXPECT_NE(std::string(failure.what()).find(bomb.reason), std::string::npos) << failure.what();
    }
    const long allowed = 64 * 1024 + (kShadowMemory ? bomb.claimedKiB / 8 : 0);
    EXPECT_LT(PeakResidentKiB() - before, allowed) << bomb.file << " raised the peak resident size";
  }
}

// libtiff reports some faults in several lines; an error for people is one.
TEST(DecodeErrors, AreOneLineEvenWhenTheLibrarySaysMore) {
  const char* const kFiles[] = {"found-multiline-tiff-error.tif"};
  for (const char* file : kFiles) {
    const std::string path = std::string(GM_SOURCE_DIR) + "/fuzz/corpus/decode/" + file;
    try {
      gm::io::DecodeFile(path, {gm::io::DecodeLimits{}, [] { return false; }});
      ADD_FAILURE() << file << " decoded";
    } catch (const gm::io::Error& failure) {
      const std::string reason = failure.what();
      EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos) << file << ": " << reason;
      EXPECT_NE(reason.find("NumberOfInks"), std::string::npos) << reason;
    }
  }
}

}  // namespace
