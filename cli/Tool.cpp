#include "cli/Tool.h"

#include <memory>
#include <new>
#include <optional>

#include "cli/AtomicFile.h"
#include "cli/Codec.h"
#include "cli/Options.h"
#include "cli/Progress.h"
#include "cli/TextArt.h"
#include "entry/Entry.h"
#include "entry/Platform.h"
#include "fit/FitGlyphs.h"
#include "fit/GlyphTable.h"
#include "host/FilterHost.h"
#include "product/Product.h"

namespace gm::cli {

namespace {

constexpr char kVersion[] = "glyphmosaic " GM_VERSION;

// The platform's message sink is a bare function: it hands the About phase's
// text over through this value.
std::string aboutText;

void CaptureAbout(const char*, const char* text) { aboutText = text ? text : ""; }

std::string DescribeResult(int code) {
  const std::string name = ResultName(code);
  return std::to_string(code) + (name.empty() ? "" : " (" + name + ")");
}

int PrintAbout(const ToolIO& io) {
  aboutText.clear();
  SetPlatformMessageSink(CaptureAbout);
  host::FilterHost host(&PluginMain);
  const int16_t result = host.About();
  SetPlatformMessageSink(nullptr);
  if (result != noErr) {
    throw Failure(kExitFilter, "--about", "the About phase failed with result " + DescribeResult(result));
  }
  std::fprintf(io.out, "%s\n", aboutText.c_str());
  return kExitOk;
}

void CheckRect(const Options& options, const Image& image) {
  const VRect r = *options.rect;
  if (r.bottom > image.height || r.right > image.width) {
    throw Failure(kExitUsage, options.input,
                  "--rect " + std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) +
                      "," + std::to_string(r.right) + " reaches outside the " + std::to_string(image.width) + "x" +
                      std::to_string(image.height) + " image");
  }
}

// The host's own run of the plug-in, with the tool's progress bar and cancel.
void Filter(Image& image, const Options& options, const ToolIO& io) {
  host::RunOptions run;
  run.filterRect = options.rect;
  if (options.tileWidth > 0) {
    run.tileWidth = options.tileWidth;
    run.tileHeight = options.tileHeight;
  }
  ProgressBar bar(io.err, io.errIsTerminal && !options.quiet, "glyphmosaic: filtering");
  // The plug-in counts its total per colour plane but steps once per tile
  // row, so its last call reports a third: the bar scales that back.
  run.progress = [&](int32_t done, int32_t total) { bar.Update(int64_t{done} * kBytesPerPixel, total); };
  run.abort = [&] { return io.cancel && io.cancel(); };
  host::FilterHost host(&PluginMain);
  const host::RunReport report = host.Run(image, run);
  bar.Clear();
  if (report.result == userCanceledErr) throw Failure(kExitCancelled, options.input, "cancelled");
  if (report.hostError != noErr) {
    throw Failure(kExitFilter, options.input,
                  "the host refused the filter's request, result " + DescribeResult(report.hostError));
  }
  if (report.result != noErr) {
    throw Failure(kExitFilter, options.input, "the filter reported result " + DescribeResult(report.result));
  }
}

int Run(const Options& options, const ToolIO& io) {
  // Output targets first: a folder that takes no file is found before the work.
  std::optional<Format> format;
  std::unique_ptr<AtomicFile> output;
  if (options.output) {
    format = FormatFromExtension(*options.output);
    if (!format) {
      throw Failure(kExitUsage, *options.output,
                    "cannot tell the output format; use .png, .tif, .tiff, .jpg or .jpeg");
    }
    output = std::make_unique<AtomicFile>(*options.output);
  }
  std::unique_ptr<AtomicFile> textFile;
  if (options.text && *options.text != "-") textFile = std::make_unique<AtomicFile>(*options.text);

  DecodeLimits limits;
  if (options.maxMemory) limits.maxBytes = *options.maxMemory;
  // Scaled while decoding: the full-size image is never held when it need not be.
  ScaleRequest scale;
  if (options.columns) scale.width = *options.columns * kGlyphWidth;
  Image image = DecodeImage(options.input, limits, io.cancel, scale);
  if (format == Format::Jpeg && image.channels == 4) {
    throw Failure(kExitOutput, *options.output, "JPEG cannot keep the input's alpha channel; write .png or .tif");
  }
  if (options.rect) CheckRect(options, image);

  Filter(image, options, io);

  std::string text;
  if (options.text) {
    try {
      text = ReadDrawnText(image, options.rect.value_or(VRect{0, 0, image.height, image.width}));
    } catch (const Failure& f) {
      throw Failure(f.ExitCode(), options.input, f.what());
    }
  }
  if (output) {
    EncodeImage(image, *format, output->Fd(), output->Path(), EncodeOptions{options.quality}, io.cancel);
  }
  if (textFile) textFile->Write(text);
  // Ctrl-C while writing still means nothing is kept.
  if (io.cancel && io.cancel()) throw Failure(kExitCancelled, options.input, "cancelled");
  if (output) output->Commit();
  if (textFile) textFile->Commit();
  if (options.text && *options.text == "-") {
    if (std::fwrite(text.data(), 1, text.size(), io.out) != text.size() || std::fflush(io.out) != 0) {
      throw Failure(kExitOutput, "-", "cannot write the text to standard output");
    }
  }
  return kExitOk;
}

}  // namespace

std::string ResultName(int code) {
  switch (code) {
    case noErr:
      return "noErr";
    case filterBadParameters:
      return "filterBadParameters";
    case userCanceledErr:
      return "userCanceledErr";
    case paramErr:
      return "paramErr";
    case memFullErr:
      return "memFullErr";
    default:
      return "";
  }
}

int RunTool(std::span<const std::string> args, const ToolIO& io) {
  std::string current;  // the input, once known: failures without a file of their own concern it
  try {
    const Options options = ParseOptions(args);
    if (options.help) {
      std::fputs(UsageText(), io.out);
      return kExitOk;
    }
    if (options.version) {
      std::fprintf(io.out, "%s\n", kVersion);
      return kExitOk;
    }
    if (options.about) return PrintAbout(io);
    current = options.input;
    return Run(options, io);
  } catch (const Failure& f) {
    const std::string& file = f.File().empty() ? current : f.File();
    if (file.empty()) {
      std::fprintf(io.err, "glyphmosaic: %s\n", f.what());
    } else {
      std::fprintf(io.err, "glyphmosaic: %s: %s\n", file.c_str(), f.what());
    }
    return f.ExitCode();
  } catch (const std::bad_alloc&) {
    std::fprintf(io.err, "glyphmosaic: %s: out of memory\n", current.empty() ? "-" : current.c_str());
    return kExitInput;
  }
}

}  // namespace gm::cli
