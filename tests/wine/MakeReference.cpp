// Writes the native build's results of the wine run cases:
//   gm_wine_reference SAMPLES_DIR OUT_DIR
// OUT_DIR/<sample>.in holds each decoded sample, OUT_DIR/<case>.out the
// native filter's result for that case.
#include <png.h>

#include <cstdio>
#include <set>
#include <string>

#include "entry/Entry.h"
#include "host/FilterHost.h"
#include "tests/wine/RunCases.h"

namespace {

bool DecodePng(const std::string& path, gm::Image& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  png.format = PNG_FORMAT_RGB;
  image = gm::Image(static_cast<int32_t>(png.width), static_cast<int32_t>(png.height), 3);
  const bool ok = png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr) != 0;
  png_image_free(&png);
  return ok;
}

int Fail(const std::string& what, const std::string& path, const char* why) {
  std::fprintf(stderr, "gm_wine_reference: %s %s: %s\n", what.c_str(), path.c_str(), why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gm_wine_reference SAMPLES_DIR OUT_DIR\n");
    return 2;
  }
  const std::string samples = argv[1];
  const std::string out = argv[2];
  std::set<std::string> written;
  for (const auto& c : gm::test::RunCases()) {
    gm::Image image;
    const std::string png = samples + "/" + c.sample + ".png";
    if (!DecodePng(png, image)) return Fail("cannot decode", png, "not a readable PNG");
    const std::string input = out + "/" + c.sample + ".in";
    if (written.insert(input).second && !gm::test::WriteRaw(input, image, nullptr)) {
      return Fail("cannot write", input, "write failed");
    }
    gm::host::FilterHost host(&PluginMain);
    const auto report = host.Run(image, c.Options());
    const int16_t codes[2] = {report.result, report.hostError};
    const std::string result = out + "/" + c.name + ".out";
    if (!gm::test::WriteRaw(result, image, codes)) return Fail("cannot write", result, "write failed");
  }
  return 0;
}
