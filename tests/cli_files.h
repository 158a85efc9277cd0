// Helpers for the command-line tests: a private folder, test images written
// straight through libpng, libjpeg and libtiff (not through the tool's own
// encoders, except where Save says so), and runs of the built tool and of other programs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/Formats.h"
#include "io/Image.h"
#include "TestImages.h"

namespace clitest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }
  std::vector<std::string> Entries() const;  // names in the folder, hidden ones too

 private:
  std::string path_;
};

using gm::test::Picture;

// PNG of any colour type and depth; `samples` holds width x height x channels
// values of the given depth (not yet packed), `palette` is RGB triples.
struct PngSpec {
  int width = 0, height = 0;
  int colourType = 2;  // PNG_COLOR_TYPE_*
  int depth = 8;
  bool interlaced = false;
  std::vector<uint16_t> samples;
  std::vector<uint8_t> palette;
  std::vector<uint8_t> paletteAlpha;       // tRNS for palette images
  std::vector<uint16_t> transparentColour;  // tRNS for grey (1 value) or RGB (3 values)
  std::string exif;                         // an eXIf chunk's content, when not empty
  int Channels() const;                     // samples per pixel of the colour type
};
void WritePng(const std::string& path, const PngSpec& spec);

// A PNG's samples as libpng's own read gives them with these
// PNG_TRANSFORM_* flags (depths below 8 expanded): our decoder's reference.
struct PngSamples {
  int width = 0, height = 0, channels = 0, depth = 0;
  std::vector<uint16_t> samples;
};
PngSamples ReadPng(const std::string& path, int transforms);

// JPEG from interleaved samples of `components` (1 grey, 3 RGB, 4 CMYK stored as is).
void WriteJpeg(const std::string& path, int width, int height, int components, const std::vector<uint8_t>& samples,
               bool progressive, int quality = 95, const std::string& app1 = {});

struct TiffSpec {
  int width = 0, height = 0;
  int samples = 3;
  int photometric = 2;  // PHOTOMETRIC_*
  int depth = 8;
  bool tiled = false;
  bool separate = false;
  bool alpha = false;       // last sample is alpha,
  bool associated = false;  // premultiplied, or else unassociated
  std::vector<uint16_t> data;       // interleaved samples
  std::vector<uint16_t> colourMap;  // 3 x 2^depth entries for palette images
  int orientation = 0;              // 0: no Orientation tag
};
void WriteTiff(const std::string& path, const TiffSpec& spec);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

struct RunResult {
  int exitCode = -1;  // 128 + the signal when one ended it
  std::string out;    // standard output, or what the terminal showed (its line endings "\n")
  std::string err;
  long peakKiB = 0;   // the tool's own peak resident size
};

// Standard input and output other than /dev/null and a file.
struct Streams {
  std::string inputFile;             // opened as standard input, when not empty
  const std::string* input = nullptr;  // else, when set, fed to standard input through a pipe
  bool outputPipe = false;           // standard output a pipe instead of a file
  bool readerGone = false;           // that pipe's reader closed before the run
  std::string outputFile;            // standard output this file (/dev/full, ...) instead of one of ours
  bool closeInput = false, closeOutput = false;  // started with the stream closed
  int terminalColumns = -1;          // >= 0: standard output a pseudo-terminal this wide (0: it does not say)
  bool errorToTerminal = false;      // standard error that terminal too
  // NAME=value, replacing ours; our own COLUMNS and LINES never pass on.
  std::vector<std::string> environment;
  // Runs while the child does, with its process id (for the tool, a process
  // that passes signals on) and the writing end of its standard input (a
  // pipe then, held open until this returns).
  std::function<void(pid_t, int)> during;
  // Ctrl-C once the output so far, piped or on the terminal, makes this true.
  std::function<bool(const std::string&)> interruptWhen;
};
// Runs the built binary with these arguments.
RunResult RunGlyphmosaic(const std::vector<std::string>& args, const Streams& streams = {});

// Runs another program (an encoder, a format's own decoder, GIMP) found on the path.
RunResult RunProgram(const std::vector<std::string>& argv, const Streams& streams = {});

// Through the tool's own codecs, for tests about what happens after a file
// is read or before it is written.
void Save(const gm::Image& image, const std::string& path, const gm::io::Codec* format = gm::io::CodecNamed("png"));
gm::Image Decode(const std::string& path);

// What `glyphmosaic --text - ARGS` prints; the run must succeed.
std::string TextOf(const std::vector<std::string>& args);

// A refused run: this exit status and one line "glyphmosaic: ..." saying this.
void ExpectOneLineFailure(const RunResult& run, int exitCode, const std::string& says);

}  // namespace clitest
