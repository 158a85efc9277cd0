#include "cli_files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <png.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>
#include <cstdio>
#include <cstring>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

extern char** environ;

namespace clitest {

TempDir::TempDir() {
  const char* root = std::getenv("TMPDIR");
  std::string pattern = std::string(root && *root ? root : "/tmp") + "/glyphmosaic-test.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
  return names;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::unique_ptr<std::FILE, FileCloser> OpenForWriting(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
  if (!f) throw std::runtime_error("cannot create " + path);
  return f;
}

// Packs one row of samples the way PNG stores them: big-endian 16-bit,
// sub-byte depths most significant bits first.
std::vector<uint8_t> PackRow(const PngSpec& s, int y) {
  const int channels = s.Channels();
  const size_t count = static_cast<size_t>(s.width) * channels;
  const uint16_t* in = s.samples.data() + static_cast<size_t>(y) * count;
  std::vector<uint8_t> row((count * s.depth + 7) / 8);
  for (size_t i = 0; i < count; ++i) {
    if (s.depth == 16) {
      row[2 * i] = static_cast<uint8_t>(in[i] >> 8);
      row[2 * i + 1] = static_cast<uint8_t>(in[i]);
    } else if (s.depth == 8) {
      row[i] = static_cast<uint8_t>(in[i]);
    } else {
      const size_t bit = i * s.depth;
      row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (in[i] << (8 - s.depth - bit % 8)));
    }
  }
  return row;
}

}  // namespace

int PngSpec::Channels() const {
  if (colourType == PNG_COLOR_TYPE_PALETTE) return 1;
  return 1 + ((colourType & PNG_COLOR_MASK_COLOR) ? 2 : 0) + ((colourType & PNG_COLOR_MASK_ALPHA) ? 1 : 0);
}

void WritePng(const std::string& path, const PngSpec& s) {
  auto file = OpenForWriting(path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < s.height; ++y) rows.push_back(PackRow(s, y));
  std::vector<png_bytep> pointers;
  for (auto& r : rows) pointers.push_back(r.data());
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("libpng failed writing " + path);
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height), s.depth,
               s.colourType, s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (size_t i = 0; i + 2 < s.palette.size(); i += 3) palette.push_back({s.palette[i], s.palette[i + 1], s.palette[i + 2]});
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_color_16 colour{};
  if (!s.paletteAlpha.empty()) {
    png_set_tRNS(png, info, s.paletteAlpha.data(), static_cast<int>(s.paletteAlpha.size()), nullptr);
  } else if (s.transparentColour.size() == 1) {
    colour.gray = s.transparentColour[0];
    png_set_tRNS(png, info, nullptr, 0, &colour);
  } else if (s.transparentColour.size() == 3) {
    colour.red = s.transparentColour[0];
    colour.green = s.transparentColour[1];
    colour.blue = s.transparentColour[2];
    png_set_tRNS(png, info, nullptr, 0, &colour);
  }
  if (!s.exif.empty()) {
    std::vector<png_byte> exif(s.exif.begin(), s.exif.end());
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(exif.size()), exif.data());
  }
  png_set_compression_level(png, 1);
  png_write_info(png, info);
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

PngSamples ReadPng(const std::string& path, int transforms) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) throw std::runtime_error("cannot open " + path);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw std::runtime_error("libpng failed reading " + path);
  }
  png_init_io(png, file.get());
  png_read_png(png, info, transforms, nullptr);
  PngSamples read;
  read.width = static_cast<int>(png_get_image_width(png, info));
  read.height = static_cast<int>(png_get_image_height(png, info));
  read.channels = png_get_channels(png, info);
  read.depth = png_get_bit_depth(png, info);
  const png_bytepp rows = png_get_rows(png, info);
  for (int y = 0; y < read.height; ++y) {
    for (int i = 0; i < read.width * read.channels; ++i) {
      const png_bytep at = rows[y] + i * read.depth / 8;
      read.samples.push_back(static_cast<uint16_t>(read.depth == 16 ? at[0] << 8 | at[1] : at[0]));
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return read;
}

void WriteJpeg(const std::string& path, int width, int height, int components, const std::vector<uint8_t>& samples,
               bool progressive, int quality, const std::string& app1) {
  auto file = OpenForWriting(path);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);  // default handler exits: acceptable for test fixtures
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file.get());
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  if (!app1.empty()) {
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.data()),
                      static_cast<unsigned>(app1.size()));
  }
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(samples.data()) + static_cast<size_t>(cinfo.next_scanline) * width * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

void WriteTiff(const std::string& path, const TiffSpec& s) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) throw std::runtime_error("cannot create " + path);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(s.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(s.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.depth);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.samples);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  if (s.orientation != 0) TIFFSetField(t, TIFFTAG_ORIENTATION, s.orientation);
  if (s.alpha) {
    const uint16_t kinds[] = {static_cast<uint16_t>(s.associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA)};
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, kinds);
  }
  if (!s.colourMap.empty()) {
    const size_t n = s.colourMap.size() / 3;
    TIFFSetField(t, TIFFTAG_COLORMAP, s.colourMap.data(), s.colourMap.data() + n, s.colourMap.data() + 2 * n);
  }
  const int bytes = s.depth / 8;
  auto sample = [&](int x, int y, int c) { return s.data[(static_cast<size_t>(y) * s.width + x) * s.samples + c]; };
  auto put = [&](uint8_t* out, uint16_t v) {
    if (bytes == 2) {
      std::memcpy(out, &v, 2);  // native order, as libtiff expects
    } else {
      *out = static_cast<uint8_t>(v);
    }
  };
  const int planes = s.separate ? s.samples : 1;
  const int perPixel = s.separate ? 1 : s.samples;
  if (s.tiled) {
    const int tw = 16, th = 16;
    TIFFSetField(t, TIFFTAG_TILEWIDTH, tw);
    TIFFSetField(t, TIFFTAG_TILELENGTH, th);
    std::vector<uint8_t> tile(static_cast<size_t>(tw) * th * perPixel * bytes);
    for (int p = 0; p < planes; ++p) {
      for (int top = 0; top < s.height; top += th) {
        for (int left = 0; left < s.width; left += tw) {
          std::fill(tile.begin(), tile.end(), 0);
          for (int y = 0; y < th && top + y < s.height; ++y) {
            for (int x = 0; x < tw && left + x < s.width; ++x) {
              for (int c = 0; c < perPixel; ++c) {
                put(&tile[((static_cast<size_t>(y) * tw + x) * perPixel + c) * bytes],
                    sample(left + x, top + y, s.separate ? p : c));
              }
            }
          }
          TIFFWriteTile(t, tile.data(), static_cast<uint32_t>(left), static_cast<uint32_t>(top), 0,
                        static_cast<uint16_t>(p));
        }
      }
    }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 5);
    std::vector<uint8_t> row(static_cast<size_t>(s.width) * perPixel * bytes);
    for (int p = 0; p < planes; ++p) {
      for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
          for (int c = 0; c < perPixel; ++c) {
            put(&row[(static_cast<size_t>(x) * perPixel + c) * bytes], sample(x, y, s.separate ? p : c));
          }
        }
        TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), static_cast<uint16_t>(p));
      }
    }
  }
  TIFFClose(t);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

namespace {

// Starts argv[0] (searched on the path) with these streams and waits for it;
// its standard output and error go to files in `capture` unless streams says
// otherwise.
RunResult Launch(std::vector<std::string> all, const Streams& streams, const TempDir& capture) {
  std::signal(SIGPIPE, SIG_IGN);  // feeding a child that stops reading must not end the test
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if ((streams.input || streams.during) && ::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (streams.outputPipe && ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  int terminal = -1;
  std::string terminalName;
  if (streams.terminalColumns >= 0) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(streams.terminalColumns);
    int slave = -1;
    char name[256];
    if (::openpty(&terminal, &slave, name, nullptr, &size) != 0) throw std::runtime_error("openpty");
    ::close(slave);
    terminalName = name;
  }
  const std::string outPath = capture / "stdout";
  const std::string errPath = capture / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (streams.closeInput) {
    posix_spawn_file_actions_addclose(&actions, 0);
  } else if (in[0] >= 0) {
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  } else {
    const std::string& from = streams.inputFile.empty() ? std::string("/dev/null") : streams.inputFile;
    posix_spawn_file_actions_addopen(&actions, 0, from.c_str(), O_RDONLY, 0);
  }
  if (streams.closeOutput) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else if (!terminalName.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, terminalName.c_str(), O_RDWR, 0);
  } else if (streams.outputPipe) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  } else {
    const std::string& to = streams.outputFile.empty() ? outPath : streams.outputFile;
    posix_spawn_file_actions_addopen(&actions, 1, to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  if (streams.errorToTerminal) {
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = streams.environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e, name = entry.substr(0, entry.find('=') + 1);
    const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& own) { return own.rfind(name, 0) == 0; });
    if (!replaced && name != "COLUMNS=" && name != "LINES=") env.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  // The child starts with SIGPIPE at its default, as from a shell: ignoring
  // it is the tool's own job, not one this process may do for it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  // A reader gone before the run, so that the tool's first write fails
  // rather than racing the close.
  if (streams.outputPipe && streams.readerGone) {
    ::close(out[0]);
    out[0] = -1;
  }
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) throw std::runtime_error("cannot start " + all[0]);
  if (in[0] >= 0) ::close(in[0]);
  if (out[1] >= 0) ::close(out[1]);
  // Whatever the child writes to a pipe or the terminal is read as it comes,
  // so that it never waits for room.
  std::string piped;
  const int reading = terminal >= 0 ? terminal : out[0];
  std::thread reader([&] {
    if (reading < 0) return;
    char buffer[65536];
    ssize_t n = 0;
    bool interrupted = false;
    // A run waiting for a Ctrl-C that its output never earns would wait for
    // ever: after two minutes its whole session is killed, and the test fails.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (true) {
      pollfd p{reading, POLLIN, 0};
      if (::poll(&p, 1, 1000) == 0) {
        if (streams.interruptWhen && !interrupted && std::chrono::steady_clock::now() > deadline) ::kill(-pid, SIGKILL);
        continue;
      }
      if ((n = ::read(reading, buffer, sizeof buffer)) <= 0) break;
      piped.append(buffer, static_cast<size_t>(n));
      if (streams.interruptWhen && !interrupted && streams.interruptWhen(piped)) interrupted = ::kill(pid, SIGINT) == 0;
    }
  });
  if (streams.during) streams.during(pid, in[1]);
  if (streams.input) {
    for (size_t done = 0; done < streams.input->size();) {
      const ssize_t n = ::write(in[1], streams.input->data() + done, streams.input->size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  if (in[1] >= 0) ::close(in[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  reader.join();  // the terminal's reader ends when the child, its last user, is gone
  if (terminal >= 0) ::close(terminal);
  if (out[0] >= 0) ::close(out[0]);
  RunResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = reading >= 0 ? piped : ReadFile(outPath);
  if (terminal >= 0) result.out.erase(std::remove(result.out.begin(), result.out.end(), '\r'), result.out.end());
  result.err = ReadFile(errPath);
  return result;
}

}  // namespace

RunResult RunGlyphmosaic(const std::vector<std::string>& args, const Streams& streams) {
  TempDir capture;
  std::vector<std::string> all{GM_PEAK_RUN, capture / "peak", GM_GLYPHMOSAIC};
  all.insert(all.end(), args.begin(), args.end());
  RunResult result = Launch(all, streams, capture);
  result.peakKiB = std::atol(ReadFile(capture / "peak").c_str());
  return result;
}

RunResult RunProgram(const std::vector<std::string>& argv, const Streams& streams) {
  TempDir capture;
  return Launch(argv, streams, capture);
}

void Save(const gm::Image& image, const std::string& path, const gm::io::Codec* format) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  gm::io::Encode(image, *format, fd, path, {});
  ::close(fd);
}

gm::Image Decode(const std::string& path) { return gm::io::DecodeFile(path, {gm::io::DecodeLimits{}, {}}); }

std::string TextOf(const std::vector<std::string>& args) {
  std::vector<std::string> all{"--text", "-"};
  all.insert(all.end(), args.begin(), args.end());
  const auto run = RunGlyphmosaic(all);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return run.out;
}

void ExpectOneLineFailure(const RunResult& run, int exitCode, const std::string& says) {
  EXPECT_EQ(run.exitCode, exitCode) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.err.rfind("glyphmosaic: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
}

}  // namespace clitest
