#include "gimp_session.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace gimptest {

namespace fs = std::filesystem;

namespace {

// GIMP complains about writable data folders that do not exist.
constexpr const char* kDataFolders[] = {"brushes", "dynamics", "fonts", "gradients", "mypaint-brushes",
                                        "palettes", "patterns", "tool-presets"};

using clitest::ReadFile;

}  // namespace

std::string PeakLog() { return (fs::path(GM_GIMP_WORK) / "peaks.txt").string(); }

Bounds ReadBounds(const std::string& path) {
  std::string text = ReadFile(path);
  for (char& c : text) {
    if (c == '(' || c == ')') c = ' ';
  }
  std::istringstream in(text);
  Bounds b;
  if (!(in >> b.x >> b.y >> b.w >> b.h)) throw std::runtime_error("no bounds in " + path + ": " + text);
  return b;
}

namespace {

// The plug-in as `cmake --install` places it, so that the install rule is
// tested with it.
fs::path InstalledPlugin() {
  const fs::path prefix = fs::path(GM_GIMP_WORK) / "installed";
  fs::remove_all(prefix);
  const auto install = clitest::RunProgram({GM_CMAKE, "--install", GM_BUILD_DIR, "--component", "gimp", "--prefix", prefix});
  const fs::path plugin = prefix / "lib/gimp/2.0/plug-ins/glyphmosaic/glyphmosaic";
  if (install.exitCode != 0 || !fs::exists(plugin)) {
    throw std::runtime_error("cmake --install did not place " + plugin.string() + ":\n" + install.out + install.err);
  }
  return plugin;
}

// The plug-in runs behind a wrapper that notes its peak memory.
std::string Home(const std::string& name) {
  const fs::path home = fs::path(GM_GIMP_WORK) / name;
  for (const char* folder : kDataFolders) fs::create_directories(home / folder);
  const fs::path plugin = home / "plug-ins" / "glyphmosaic";
  fs::remove_all(plugin);
  fs::create_directories(plugin);
  fs::copy_file(InstalledPlugin(), plugin / "glyphmosaic-real", fs::copy_options::overwrite_existing);
  fs::copy_file(GM_GIMP_PEAK_WRAPPER, plugin / "glyphmosaic", fs::copy_options::overwrite_existing);
  return home.string();
}

}  // namespace

clitest::RunResult RunGimpBatch(const std::vector<std::string>& expressions) {
  std::vector<std::string> args{GM_GIMP, "-i", "--no-fonts"};
  for (const std::string& e : expressions) {
    args.push_back("-b");
    args.push_back(e);
  }
  args.push_back("-b");
  args.push_back("(gimp-quit 0)");
  // A cache folder of its own, empty: with babl's cache of conversions from
  // earlier sessions, babl builds lookup tables of some 360 MiB as any
  // plug-in starts, which would hide what the plug-in itself holds.
  const fs::path cache = fs::path(GM_GIMP_WORK) / "cache";
  fs::remove_all(cache);
  clitest::Streams streams;
  streams.environment = {"GIMP2_DIRECTORY=" + Home("home"), "XDG_CACHE_HOME=" + cache.string(), "GM_PEAK_LOG=" + PeakLog()};
  return clitest::RunProgram(args, streams);
}

}  // namespace gimptest
