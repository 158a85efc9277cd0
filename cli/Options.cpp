#include "cli/Options.h"

#include <charconv>
#include <set>
#include <vector>

#include "cli/Failure.h"
#include "cli/Quote.h"
#include "fit/GlyphTable.h"
#include "io/Units.h"

namespace gm::cli {

namespace {

// `what` is shown as it stands: user text in it is quoted already.
[[noreturn]] void Usage(const std::string& what, const std::string& reason) {
  throw Failure::Labelled(kExitUsage, what, reason + " (see glyphmosaic --help)");
}

std::optional<int64_t> ParseInt(std::string_view text) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

VRect ParseRect(const std::string& text) {
  const auto parts = Split(text, ',');
  int64_t v[4] = {};
  bool ok = parts.size() == 4;
  for (size_t i = 0; ok && i < 4; ++i) {
    const auto n = ParseInt(parts[i]);
    ok = n && *n >= 0 && *n <= INT32_MAX;
    if (ok) v[i] = *n;
  }
  if (!ok) Usage("--rect " + Quote(text), "expects TOP,LEFT,BOTTOM,RIGHT, four whole numbers from 0");
  if (v[2] <= v[0] || v[3] <= v[1]) Usage("--rect " + Quote(text), "BOTTOM must exceed TOP and RIGHT must exceed LEFT");
  // The filter draws whole cells only: a smaller rectangle would change nothing.
  if (v[2] - v[0] < kGlyphHeight || v[3] - v[1] < kGlyphWidth) {
    Usage("--rect " + Quote(text), "is smaller than one 8 x 12 cell, so nothing would be drawn");
  }
  return VRect{static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]), static_cast<int32_t>(v[2]),
               static_cast<int32_t>(v[3])};
}

void ParseTile(const std::string& text, Options& options) {
  const auto parts = Split(text, 'x');
  std::optional<int64_t> w, h;
  if (parts.size() == 2) {
    w = ParseInt(parts[0]);
    h = ParseInt(parts[1]);
  }
  if (!w || !h || *w < 1 || *h < 1 || *w > INT16_MAX || *h > INT16_MAX) {
    Usage("--tile " + Quote(text), "expects WIDTHxHEIGHT, each from 1 to 32767");
  }
  options.tileWidth = static_cast<int16_t>(*w);
  options.tileHeight = static_cast<int16_t>(*h);
}

}  // namespace

Options ParseOptions(std::span<const std::string> args) {
  Options options;
  std::vector<std::string> positional;
  std::set<std::string> given;
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsDone || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsDone = true;
      continue;
    }
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    // A second value would silently replace the first.
    auto value = [&]() -> std::string {
      if (!given.insert(arg).second) Usage(Quote(arg), "is given twice");
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) Usage(Quote(arg), "needs a value");
      return args[++i];
    };
    auto name = [&]() -> std::string {
      std::string v = value();
      if (v.empty()) Usage(arg + " ''", "needs a file name");
      return v;
    };
    auto flag = [&](bool& target) {
      if (inlineValue) Usage(Quote(arg), "takes no value");
      target = true;
    };

    if (arg == "-h" || arg == "--help") {
      flag(options.help);
    } else if (arg == "--version") {
      flag(options.version);
    } else if (arg == "--about") {
      flag(options.about);
    } else if (arg == "-q" || arg == "--quiet") {
      flag(options.quiet);
    } else if (arg == "--text") {
      options.text = name();
    } else if (arg == "--html") {
      options.html = name();
    } else if (arg == "--colour" || arg == "--color") {
      flag(options.colour);
    } else if (arg == "--no-rotate") {
      flag(options.noRotate);
    } else if (arg == "--format") {
      const std::string v = value();
      options.format = io::CodecNamed(v);
      if (!options.format) Usage("--format " + Quote(v), "expects " + io::WritableNames());
    } else if (arg == "--rect") {
      options.rect = ParseRect(value());
    } else if (arg == "--tile") {
      ParseTile(value(), options);
    } else if (arg == "--columns") {
      const std::string v = value();
      const auto n = ParseInt(v);
      if (!n || *n < 1 || *n > 250'000) Usage("--columns " + Quote(v), "expects a whole number from 1 to 250000");
      options.columns = static_cast<int32_t>(*n);
    } else if (arg == "--frame") {
      const std::string v = value();
      const auto n = ParseInt(v);
      if (!n || *n < 1 || *n > INT32_MAX) Usage("--frame " + v, "expects a frame number from 1");
      options.frame = static_cast<int32_t>(*n);
    } else if (arg == "--max-memory") {
      const std::string v = value();
      const auto bytes = io::ParseBytes(v);
      if (!bytes || *bytes == 0) Usage("--max-memory " + Quote(v), "expects a size such as 512M or 4G");
      options.maxMemory = *bytes;
    } else if (arg == "--quality") {
      const std::string v = value();
      const auto n = ParseInt(v);
      if (!n || *n < 1 || *n > 100) Usage("--quality " + Quote(v), "expects a JPEG quality from 1 to 100");
      options.quality = static_cast<int>(*n);
    } else {
      Usage(Quote(arg), "unknown option");
    }
  }

  if (options.help || options.version || options.about) return options;
  if (positional.empty()) Usage("", "missing INPUT");
  for (const std::string& p : positional) {
    if (p.empty()) Usage("''", "an empty name names no file");
  }
  if (positional.size() > 2) Usage(Quote(positional[2]), "one input and one output only");
  options.input = positional[0];
  if (positional.size() == 2) options.output = positional[1];
  if (!options.output && !options.text && !options.html) {
    options.text = "-";
    options.artToTerminal = true;
  }
  // Standard output takes one stream only.
  const int toStdout = (options.output == "-") + (options.text == "-") + (options.html == "-");
  if (toStdout > 1) Usage("-", "standard output can take only one of OUTPUT, --text and --html");
  if (options.output == "-" && !options.format) Usage("-", "OUTPUT - needs --format " + io::WritableNames());
  if (options.format && !options.output) Usage("--format", "names the format of OUTPUT, and there is none");
  if (options.colour && !options.text) {
    Usage("--colour", "colours the text art, and none is written; add --text FILE or --text -");
  }
  return options;
}

const char* UsageText() {
  return R"(Usage: glyphmosaic [options] INPUT
       glyphmosaic [options] INPUT OUTPUT
       glyphmosaic [options] --text FILE INPUT [OUTPUT]

Redraws an image as text art with the GlyphMosaic filter plug-in, run by a
built-in host exactly as a host application runs it. With INPUT alone the art
goes to standard output: on a terminal it is fitted to the terminal's width,
and an animation plays until Ctrl-C; elsewhere it is what --text - prints.

  glyphmosaic photo.jpg                  art at the terminal
  glyphmosaic --colour photo.jpg         in the photo's colours
  glyphmosaic photo.jpg art.png          the filtered image
  cat photo.jpg | glyphmosaic - - --format png > art.png

  INPUT                  PNG, JPEG, TIFF, WebP, GIF, HEIC, AVIF or JPEG XL
                         (recognised by content); - is standard input
  OUTPUT                 .png, .tif/.tiff, .jpg/.jpeg or .webp, the filtered
                         image; - is standard output (needs --format)
  --format FORMAT        png, tiff, jpeg or webp: the format of OUTPUT,
                         whatever its name
  --text FILE            also write the drawn glyphs as text, one line per
                         cell row; FILE - is standard output
  --colour, --color      colour the text with 24-bit terminal escapes: each
                         glyph in the mean colour of its cell before filtering
  --html FILE            also write the art as an HTML page in those colours
  --no-rotate            keep the stored order of a photo's rows; by default
                         the EXIF orientation turns it upright
  --rect T,L,B,R         filter only this rectangle (top, left, bottom, right)
  --tile WxH             the host's preferred tile size (default 256x256)
  --columns N            scale the image first so the art is N cells wide
                         (default at a terminal: its width)
  --frame N              frame N of an animation, from 1, for every output;
                         otherwise the first, and at a terminal all of them
  --max-memory SIZE      refuse images needing more memory (default 4G)
  --quality N            JPEG output quality, 1 to 100 (default 95)
  -q, --quiet            no progress bar
  --about                print the plug-in's about text
  --version              print the version
  -h, --help             print this help

Exit codes: 0 done, 1 usage (also: two of INPUT, OUTPUT, --text and --html
are the same file), 2 cannot read or decode INPUT, 3 cannot write the output
(also: the reader of a pipe went away), 4 the filter reported an error,
130 cancelled by Ctrl-C (129 by SIGHUP, 143 by SIGTERM). File names in
messages are quoted as the shell would need them.
)";
}

}  // namespace gm::cli
