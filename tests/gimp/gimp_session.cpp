#include "gimp_session.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "cli_files.h"

extern char** environ;

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

Run RunProgram(std::vector<std::string> args, const std::vector<std::string>& environment,
               const std::string& logPath) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> settings = environment;
  std::vector<char*> env;
  for (std::string& e : settings) env.push_back(e.data());
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const std::string& own) {
      return entry.rfind(own.substr(0, own.find('=') + 1), 0) == 0;
    });
    if (!replaced) env.push_back(*e);
  }
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  Run run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.log = ReadFile(logPath);
  return run;
}

namespace {

// The plug-in as `cmake --install` places it, so that the install rule is
// tested with it.
fs::path InstalledPlugin() {
  const fs::path prefix = fs::path(GM_GIMP_WORK) / "installed";
  fs::remove_all(prefix);
  const Run install = RunProgram({GM_CMAKE, "--install", GM_BUILD_DIR, "--component", "gimp", "--prefix", prefix},
                                 {}, (fs::path(GM_GIMP_WORK) / "install.log").string());
  const fs::path plugin = prefix / "lib/gimp/2.0/plug-ins/glyphmosaic/glyphmosaic";
  if (install.exitCode != 0 || !fs::exists(plugin)) {
    throw std::runtime_error("cmake --install did not place " + plugin.string() + ":\n" + install.log);
  }
  return plugin;
}

// The plug-in runs behind a wrapper that notes its peak memory.
std::string Home(const std::string& name) {
  const fs::path home = fs::path(GM_GIMP_WORK) / name;
  for (const char* folder : kDataFolders) fs::create_directories(home / folder);
  const fs::path plugin = home / "plug-ins" / "glyphmosaic";
  fs::create_directories(plugin);
  fs::copy_file(InstalledPlugin(), plugin / "glyphmosaic.real", fs::copy_options::overwrite_existing);
  fs::copy_file(GM_GIMP_PEAK_WRAPPER, plugin / "glyphmosaic", fs::copy_options::overwrite_existing);
  return home.string();
}

}  // namespace

Run RunGimpBatch(const std::vector<std::string>& expressions, const std::string& logPath) {
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
  return RunProgram(args,
                    {"GIMP2_DIRECTORY=" + Home("home"), "XDG_CACHE_HOME=" + cache.string(), "GM_PEAK_LOG=" + PeakLog()},
                    logPath);
}

}  // namespace gimptest
