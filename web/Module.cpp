// The WebAssembly module's C interface. JavaScript (web/glyphmosaic.js) asks
// for an input image, writes its pixels where this side says, runs it, and
// reads the results back. The run is the tool's: the filter's entry point
// called through every phase by the built-in host. One run at a time; its
// results stay until the next.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>

#include "entry/Entry.h"
#include "fit/GlyphTable.h"
#include "fit/Kernels.h"
#include "host/FilterHost.h"
#include "io/Decode.h"
#include "io/Orient.h"
#include "io/Scale.h"
#include "product/Product.h"
#include "text/Colours.h"
#include "text/TextArt.h"

#define GM_EXPORT(name) extern "C" __attribute__((export_name(#name)))

// The loader's own import: how far the filter has got, 0 to 1.
extern "C" void gm_progress(double fraction);

namespace {

// The tool's limits on either side of an image and on --columns.
constexpr int32_t kMaxSide = 2'000'000;
constexpr int32_t kMaxColumns = 250'000;

// The outputs a run can make besides the image, by their number in gm_run's
// `outputs` bits and in gm_output.
enum Output { kText, kAnsi, kHtml, kColours, kOutputs };

struct State {
  gm::Image input;
  gm::Image output;
  std::string outputs[kOutputs];
  std::string error;
  std::string kernels;
};

State& Current() {
  static State state;
  return state;
}

// A failure for the person who asked: one line, without the file name,
// which only the caller knows.
struct Refusal : std::exception {
  std::string line;
  explicit Refusal(std::string l) : line(std::move(l)) {}
  const char* what() const noexcept override { return line.c_str(); }
};

std::string RectText(const VRect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
         std::to_string(r.right);
}

void Filter(gm::Image& image, const std::optional<VRect>& rect) {
  gm::host::RunOptions run;
  run.filterRect = rect;
  run.progress = [](double fraction) { gm_progress(fraction); };
  gm::host::FilterHost host(&PluginMain);
  const gm::host::RunReport report = host.Run(image, run);
  if (!report.Succeeded()) throw Refusal(gm::host::DescribeFailure(report));
}

// Runs `work`, keeping its failure as the error line; 0 on success, -1 on failure.
template <typename Work>
int Guarded(Work work) {
  State& s = Current();
  s.error.clear();
  try {
    work(s);
    return 0;
  } catch (const std::bad_alloc&) {
    s.error = "out of memory";
  } catch (const std::exception& e) {
    s.error = e.what();
  }
  return -1;
}

}  // namespace

// Room for the next run's image, `channels` 3 (RGB) or 4 (RGBA) samples of
// 8 bits per pixel, rows packed; null when refused.
GM_EXPORT(gm_input) uint8_t* gm_input(int32_t width, int32_t height, int32_t channels) {
  uint8_t* pixels = nullptr;
  Guarded([&](State& s) {
    s.input = {};
    s.output = {};
    if (channels != 3 && channels != 4) {
      throw Refusal("the image has " + std::to_string(channels) + " channels; 3 or 4 wanted");
    }
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
      throw Refusal("the image is " + std::to_string(width) + "x" + std::to_string(height) +
                    " pixels; each side must be 1 to 2000000");
    }
    s.input = gm::Image(width, height, channels);
    pixels = s.input.pixels.data();
  });
  return pixels;
}

// The tool's run on the input image: turned upright by its EXIF
// `orientation` (1 to 8; anything else leaves it), scaled to `columns` cells
// across the upright image (none when 0), filtered within rect (the whole
// image when bottom is 0), and the outputs whose bits are set in `outputs`
// read back; `title` is the page's.
GM_EXPORT(gm_run)
int gm_run(int32_t orientation, int32_t columns, int32_t top, int32_t left, int32_t bottom, int32_t right,
           int32_t outputs, const char* title) {
  return Guarded([&](State& s) {
    gm::Image image = std::move(s.input);
    for (std::string& out : s.outputs) out.clear();
    if (image.pixels.empty()) throw Refusal("no image to filter");
    if (columns != 0) {
      if (columns < 1 || columns > kMaxColumns) {
        throw Refusal("columns " + std::to_string(columns) + ": a whole number from 1 to 250000 wanted");
      }
      // As the tool scales: the stored image, to the upright width asked for.
      const gm::io::ScaleRequest scale{.width = columns * kGlyphWidth, .upright = true};
      const gm::io::Size size = *scale.Resolve(image.width, image.height, orientation);
      // Averaging at the same size gives every pixel back as it was: a camera
      // frame as wide as its cells are asked to be skips the work.
      if (size.width != image.width || size.height != image.height) image = gm::io::AreaScale(image, size);
    }
    image = gm::io::Orient(std::move(image), orientation);
    std::optional<VRect> rect;
    if (bottom != 0) {
      rect = VRect{top, left, bottom, right};
      if (top < 0 || left < 0 || bottom <= top || right <= left) {
        throw Refusal("rect " + RectText(*rect) + ": bottom must exceed top and right must exceed left, all from 0");
      }
      if (bottom > image.height || right > image.width) {
        throw Refusal("rect " + RectText(*rect) + " reaches outside the " + std::to_string(image.width) + "x" +
                      std::to_string(image.height) + " image");
      }
    }
    const auto wants = [&](Output o) { return (outputs >> o & 1) != 0; };
    // Each cell's colour as it was before the filter drew over it.
    const VRect area = rect.value_or(VRect{0, 0, image.height, image.width});
    std::vector<gm::text::Rgb> colours;
    if (wants(kAnsi) || wants(kHtml) || wants(kColours)) colours = gm::text::CellColours(image, area);

    Filter(image, rect);

    std::string text;
    if (wants(kText) || wants(kAnsi) || wants(kHtml)) text = gm::text::ReadDrawnText(image, area);
    if (wants(kAnsi)) s.outputs[kAnsi] = gm::text::AnsiText(text, colours);
    if (wants(kHtml)) s.outputs[kHtml] = gm::text::HtmlPage(text, colours, title ? title : "");
    if (wants(kColours)) {
      for (const gm::text::Rgb& c : colours) s.outputs[kColours] += {char(c.r), char(c.g), char(c.b)};
    }
    if (wants(kText)) s.outputs[kText] = std::move(text);
    s.output = std::move(image);
  });
}

// An output of the last run (Output's numbers), and its size in bytes.
GM_EXPORT(gm_output) const char* gm_output(int32_t which) {
  return which >= 0 && which < kOutputs ? Current().outputs[which].data() : nullptr;
}
GM_EXPORT(gm_output_size) size_t gm_output_size(int32_t which) {
  return which >= 0 && which < kOutputs ? Current().outputs[which].size() : 0;
}

GM_EXPORT(gm_error) const char* gm_error() { return Current().error.c_str(); }
GM_EXPORT(gm_output_pixels) const uint8_t* gm_output_pixels() { return Current().output.pixels.data(); }
GM_EXPORT(gm_output_width) int32_t gm_output_width() { return Current().output.width; }
GM_EXPORT(gm_output_height) int32_t gm_output_height() { return Current().output.height; }
GM_EXPORT(gm_output_channels) int32_t gm_output_channels() { return Current().output.channels; }
GM_EXPORT(gm_version) const char* gm_version() { return GM_VERSION; }

// The kernel variant the filter runs, and all that this module has, by name.
GM_EXPORT(gm_kernel) const char* gm_kernel() { return ChosenFitKernel().name; }
GM_EXPORT(gm_kernels) const char* gm_kernels() {
  std::string& names = Current().kernels;
  names.clear();
  for (const FitKernel& k : FitKernels()) names += std::string(names.empty() ? "" : ",") + k.name;
  return names.c_str();
}

// For the benchmark: the chosen kernel variant alone, in place, on the input
// image (RGB), with no host around it.
GM_EXPORT(gm_fit_input) int gm_fit_input() {
  gm::Image& in = Current().input;
  if (in.channels != 3) return -1;
  ChosenFitKernel().fit(in.pixels.data(), static_cast<uint32_t>(in.width), static_cast<uint32_t>(in.height),
                        static_cast<int32_t>(in.RowBytes()));
  return 0;
}
