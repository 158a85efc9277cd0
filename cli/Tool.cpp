#include "cli/Tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "cli/AtomicFile.h"
#include "cli/Options.h"
#include "cli/Paths.h"
#include "cli/Play.h"
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

int PrintAbout(const ToolIO& io) {
  aboutText.clear();
  SetPlatformMessageSink(CaptureAbout);
  host::FilterHost host(&PluginMain);
  const int16_t result = host.About();
  SetPlatformMessageSink(nullptr);
  if (result != noErr) {
    throw Failure(kExitFilter, "--about", "the About phase failed with result " + host::DescribeResult(result));
  }
  std::fprintf(io.out, "%s\n", aboutText.c_str());
  return kExitOk;
}

// What went to standard output must have arrived: a full disk or a closed
// stream is a failure, not a silent success.
int Printed(const ToolIO& io) {
  errno = 0;
  if (std::fflush(io.out) != 0 || std::ferror(io.out)) {
    throw Failure(kExitOutput, kStandardOutput, errno ? std::strerror(errno) : "write error");
  }
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
  constexpr int64_t kSteps = 1000;
  run.progress = [&](double fraction) { bar.Update(static_cast<int64_t>(fraction * kSteps), kSteps); };
  run.abort = [&] { return io.cancel && io.cancel(); };
  host::FilterHost host(&PluginMain);
  const host::RunReport report = host.Run(image, run);
  bar.Clear();
  if (report.result == userCanceledErr) throw Failure(kExitCancelled, "", "cancelled");
  if (!report.Succeeded()) throw Failure(kExitFilter, "", host::DescribeFailure(report));
}

// The art's width in cells: as asked, else the terminal's when the art goes
// to one.
std::optional<int32_t> Columns(const Options& options, const ToolIO& io) {
  if (options.columns || !options.artToTerminal) return options.columns;
  const int fd = ::fileno(io.out);
  if (fd < 0 || ::isatty(fd) != 1) return std::nullopt;
  return TerminalColumns(fd, std::getenv("COLUMNS"));
}

// Whether the output path reaches the file standard output is.
bool IsStandardOutput(const std::string& path) {
  if (path == "-") return true;
  struct stat out {}, file {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &file) == 0 && out.st_dev == file.st_dev &&
         out.st_ino == file.st_ino;
}

bool IsTerminal(const std::string& path) {
  if (path == "-") return ::isatty(STDOUT_FILENO) == 1;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const io::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  return fd && ::isatty(fd.Get()) == 1;
}

// The art of one frame as the terminal shows it.
std::string TerminalArt(Image decoded, const Options& options, const ToolIO& io) {
  const int orientation = options.noRotate ? 1 : decoded.orientation;
  Image image = io::Orient(std::move(decoded), orientation);
  if (options.rect) CheckRect(options, image);
  const VRect area = options.rect.value_or(VRect{0, 0, image.height, image.width});
  return Stage(kExitFilter, "", [&] {
    std::vector<text::Rgb> colours;
    if (options.colour) colours = text::CellColours(image, area);
    Filter(image, options, io);
    std::string text;
    try {
      text = text::ReadDrawnText(image, area);
    } catch (const std::runtime_error& e) {
      throw Failure(kExitFilter, "", e.what());
    }
    return options.colour ? text::AnsiText(text, colours) : text;
  });
}

// INPUT alone at a terminal: a still image's art, or an animation's played.
int PlayAtTerminal(const Options& options, const ToolIO& io, io::DecodeRequest request) {
  request.scale = {};
  const auto animation = Stage(kExitInput, "", [&] { return std::make_unique<io::Animation>(options.input, request); });
  const int fd = ::fileno(io.out);
  int columns = options.columns.value_or(TerminalColumns(fd, std::getenv("COLUMNS")));
  if (animation->Animated() && !options.columns) {
    // Drawn over each other, the frames must not scroll the terminal.
    const bool turned = !options.noRotate && io::SwapsAxes(animation->Orientation());
    columns = ColumnsToFit(columns, TerminalRows(fd, std::getenv("LINES")),
                           turned ? animation->Height() : animation->Width(),
                           turned ? animation->Width() : animation->Height());
  }
  request.scale.width = columns * kGlyphWidth;
  request.scale.upright = !options.noRotate;
  request.scale.fitted = !options.columns;  // the terminal's width is room, not a wish
  animation->Scale(request.scale);
  Options quiet = options;
  quiet.quiet = true;  // a progress bar would draw over the frames
  bool first = true;
  return PlayFrames(
      io, [&](Image& frame, int& delay) { return Stage(kExitInput, "", [&] { return animation->Next(frame, delay); }); },
      [&](Image frame) { return TerminalArt(std::move(frame), std::exchange(first, false) ? options : quiet, io); },
      animation->Plays(), request.limits.maxBytes);
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

  // Standard output takes one stream, whatever path names it, and no image
  // goes to a terminal.
  int toStandardOutput = 0;
  for (size_t i = 1; i < files.size(); ++i) toStandardOutput += IsStandardOutput(files[i].path);
  if (toStandardOutput > 1) {
    throw Failure(kExitUsage, kStandardOutput, "can take only one of OUTPUT, --text and --html");
  }
  if (options.output && IsTerminal(*options.output)) {
    throw Failure(kExitUsage, *options.output == "-" ? kStandardOutput : *options.output,
                  "is a terminal; send the image to a file or a pipe");
  }

  // Output targets first: a folder that takes no file is found before the work.
  const io::Codec* format = options.format;
  std::unique_ptr<AtomicFile> output;
  if (options.output) {
    if (!format) format = io::CodecForPath(*options.output);
    if (!format) {
      throw Failure(kExitUsage, *options.output,
                    "cannot tell the output format; use " + io::WritableExtensions() + ", or --format");
    }
    output = std::make_unique<AtomicFile>(*options.output, io.cancel);
  }
  std::unique_ptr<AtomicFile> textFile;
  if (options.text) textFile = std::make_unique<AtomicFile>(*options.text, io.cancel);
  std::unique_ptr<AtomicFile> htmlFile;
  if (options.html) htmlFile = std::make_unique<AtomicFile>(*options.html, io.cancel);

  io::DecodeRequest request;
  if (options.maxMemory) request.limits.maxBytes = *options.maxMemory;
  request.cancel = io.cancel;
  if (options.frame) request.frame = *options.frame - 1;
  if (options.artToTerminal && !options.frame && ::isatty(::fileno(io.out)) == 1) {
    return PlayAtTerminal(options, io, request);
  }
  // Scaled while decoding, across the image as it is shown: the full-size
  // image is never held when it need not be.
  if (const auto columns = Columns(options, io)) request.scale.width = *columns * kGlyphWidth;
  // The terminal's width is room to fill, not a wish: a tiny image is not
  // blown up to it.
  request.scale.fitted = !options.columns;
  request.scale.upright = !options.noRotate;
  Image image = Stage(kExitInput, "", [&] {
    Image decoded = io::DecodeFile(options.input, request);
    const int orientation = options.noRotate ? 1 : decoded.orientation;
    return io::Orient(std::move(decoded), orientation);
  });
  if (format && format->maxSide && (image.width > format->maxSide || image.height > format->maxSide)) {
    throw Failure(kExitOutput, output->Path(),
                  std::string(format->title) + " holds at most " + std::to_string(format->maxSide) +
                      " pixels a side, and the image is " + std::to_string(image.width) + "x" +
                      std::to_string(image.height));
  }
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
  // Every output is written whole before any takes its place, and Ctrl-C
  // until then still means nothing is kept. Devices go first: a reader that
  // went away then costs no file its old contents.
  AtomicFile* const outputs[] = {output.get(), htmlFile.get(), textFile.get()};
  for (AtomicFile* f : outputs) {
    if (f) f->Finish();
  }
  if (io.cancel && io.cancel()) throw Failure(kExitCancelled, "", "cancelled");
  for (bool direct : {true, false}) {
    for (AtomicFile* f : outputs) {
      if (f && f->Direct() == direct) f->Commit();
    }
  }
  return kExitOk;
}

}  // namespace

int RunTool(std::span<const std::string> args, const ToolIO& io) {
  std::string current;  // the input, once known: failures without a file of their own concern it
  try {
    const Options options = ParseOptions(args);
    if (options.help) {
      std::fputs(UsageText(), io.out);
      return Printed(io);
    }
    if (options.version) {
      std::fprintf(io.out, "%s\n", kVersion);
      return Printed(io);
    }
    if (options.about) {
      PrintAbout(io);
      return Printed(io);
    }
    current = options.input == "-" ? kStandardInput : options.input;
    return Run(options, io);
  } catch (const Failure& f) {
    const std::string file = f.File().empty() ? (current.empty() ? "" : Failure(0, current, "").Shown()) : f.Shown();
    // A library's reason may carry bytes from the file: no control byte goes out.
    std::string reason = f.what();
    for (char& c : reason) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    if (file.empty()) {
      std::fprintf(io.err, "glyphmosaic: %s\n", reason.c_str());
    } else {
      std::fprintf(io.err, "glyphmosaic: %s: %s\n", file.c_str(), reason.c_str());
    }
    // Stopped by a signal: 128 and its number, as shells report it.
    const int signal = f.ExitCode() == kExitCancelled && io.stopSignal ? io.stopSignal() : 0;
    return signal ? 128 + signal : f.ExitCode();
  } catch (const std::bad_alloc&) {
    // Outside the stages: options, or the output files made before the work.
    std::fprintf(io.err, "glyphmosaic: %s: not enough memory\n", current.empty() ? "-" : current.c_str());
    return kExitUsage;
  }
}

}  // namespace gm::cli
