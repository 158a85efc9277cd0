#include "cli/Tool.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <optional>

#include "cli/AtomicFile.h"
#include "cli/Options.h"
#include "cli/Paths.h"
#include "cli/Progress.h"
#include "cli/SameFile.h"
#include "cli/Terminal.h"
#include "entry/Entry.h"
#include "entry/Platform.h"
#include "fit/FitGlyphs.h"
#include "fit/GlyphTable.h"
#include "host/FilterHost.h"
#include "io/Formats.h"
#include "io/Orient.h"
#include "product/Product.h"
#include "text/Colours.h"
#include "text/TextArt.h"

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

// One stage of a run: whatever fails in it ends the run with the stage's exit
// code, running out of memory included. Failures that name no file concern
// the input; RunTool names it.
template <typename Work>
auto Stage(int exitCode, const std::string& file, Work&& work) {
  try {
    return work();
  } catch (const io::Cancelled& c) {
    throw Failure(kExitCancelled, c.File(), "cancelled");
  } catch (const io::Error& e) {
    throw Failure(exitCode, e.File(), e.what());
  } catch (const std::bad_alloc&) {
    throw Failure(exitCode, file, "not enough memory");
  }
}

void CheckRect(const Options& options, const Image& image) {
  const VRect r = *options.rect;
  if (r.bottom > image.height || r.right > image.width) {
    throw Failure(kExitUsage, "",
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
  if (report.result == userCanceledErr) throw Failure(kExitCancelled, "", "cancelled");
  if (report.hostError != noErr) {
    throw Failure(kExitFilter, "",
                  "the host refused the filter's request, result " + DescribeResult(report.hostError));
  }
  if (report.result != noErr) {
    throw Failure(kExitFilter, "", "the filter reported result " + DescribeResult(report.result));
  }
}

// The art's width in cells: as asked, else the terminal's when the art goes
// to one.
std::optional<int32_t> Columns(const Options& options, const ToolIO& io) {
  if (options.columns || !options.artToTerminal) return options.columns;
  const int fd = ::fileno(io.out);
  if (fd < 0 || ::isatty(fd) != 1) return std::nullopt;
  return TerminalColumns(fd, std::getenv("COLUMNS"));
}

// The page's title: the input's file name, without its folder.
std::string PageTitle(const std::string& input) {
  return input == "-" ? kStandardInput : BaseName(input);
}

int Run(const Options& options, const ToolIO& io) {
  // Before anything is read or written: a typo must not cost the original.
  std::vector<NamedFile> files{{"INPUT", options.input}};
  if (options.output) files.push_back({"OUTPUT", *options.output});
  if (options.text) files.push_back({"--text", *options.text});
  if (options.html) files.push_back({"--html", *options.html});
  RefuseSameFiles(files);

  // Output targets first: a folder that takes no file is found before the work.
  const io::Codec* format = options.format;
  std::unique_ptr<AtomicFile> output;
  if (options.output) {
    if (!format) format = io::CodecForPath(*options.output);
    if (!format) {
      throw Failure(kExitUsage, *options.output,
                    "cannot tell the output format; use " + io::WritableExtensions() + ", or --format");
    }
    if (*options.output == "-" && ::isatty(STDOUT_FILENO) == 1) {
      throw Failure(kExitUsage, kStandardOutput, "is a terminal; send the image to a file or a pipe");
    }
    output = std::make_unique<AtomicFile>(*options.output);
  }
  std::unique_ptr<AtomicFile> textFile;
  if (options.text) textFile = std::make_unique<AtomicFile>(*options.text);
  std::unique_ptr<AtomicFile> htmlFile;
  if (options.html) htmlFile = std::make_unique<AtomicFile>(*options.html);

  io::DecodeRequest request;
  if (options.maxMemory) request.limits.maxBytes = *options.maxMemory;
  request.cancel = io.cancel;
  // Scaled while decoding, across the image as it is shown: the full-size
  // image is never held when it need not be.
  if (const auto columns = Columns(options, io)) request.scale.width = *columns * kGlyphWidth;
  request.scale.upright = !options.noRotate;
  Image image = Stage(kExitInput, "", [&] {
    Image decoded = io::DecodeFile(options.input, request);
    const int orientation = options.noRotate ? 1 : decoded.orientation;
    return io::Orient(std::move(decoded), orientation);
  });
  if (format && !format->alpha && image.channels == 4) {
    throw Failure(kExitOutput, output->Path(),
                  std::string(format->title) + " cannot keep the input's alpha channel; write " +
                      io::AlphaExtensions());
  }
  if (options.rect) CheckRect(options, image);

  const VRect area = options.rect.value_or(VRect{0, 0, image.height, image.width});
  std::string text;
  std::vector<text::Rgb> colours;
  Stage(kExitFilter, "", [&] {
    if (options.colour || options.html) colours = text::CellColours(image, area);
    Filter(image, options, io);
    if (options.text || options.html) {
      try {
        text = text::ReadDrawnText(image, area);
      } catch (const std::runtime_error& e) {
        throw Failure(kExitFilter, "", e.what());
      }
    }
  });
  Stage(kExitOutput, output ? output->Path() : "", [&] {
    if (output) io::Encode(image, *format, output->Fd(), output->Path(), {options.quality, io.cancel});
    if (textFile) textFile->Write(options.colour ? text::AnsiText(text, colours) : text);
    if (htmlFile) htmlFile->Write(text::HtmlPage(text, colours, PageTitle(options.input)));
  });
  // Ctrl-C while writing still means nothing is kept.
  if (io.cancel && io.cancel()) throw Failure(kExitCancelled, "", "cancelled");
  if (output) output->Commit();
  if (htmlFile) htmlFile->Commit();
  if (textFile) textFile->Commit();
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
    current = options.input == "-" ? kStandardInput : options.input;
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
    // Outside the stages: options, or the output files made before the work.
    std::fprintf(io.err, "glyphmosaic: %s: not enough memory\n", current.empty() ? "-" : current.c_str());
    return kExitUsage;
  }
}

}  // namespace gm::cli
