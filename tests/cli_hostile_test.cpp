// The tool against hostile names, folders, signals and files that claim far
// more than they hold: each case is how its input is made, the exit code, the
// line it says, the bound on the child's own peak memory where one applies,
// and what the folder holds afterwards. Times belong in scripts/bench.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

#include "cli_files.h"

namespace {

using clitest::RunResult;
using clitest::Streams;
using clitest::TempDir;

// AddressSanitizer's shadow of a reservation costs memory, and an emulator
// its own: bounds hold in the plain native builds only.
#if defined(__SANITIZE_ADDRESS__) || defined(GM_EMULATED)
constexpr bool kPeaksHold = false;
#elif defined(__has_feature)
constexpr bool kPeaksHold = !__has_feature(address_sanitizer);
#else
constexpr bool kPeaksHold = true;
#endif
#ifdef GM_EMULATED
constexpr bool kEmulated = true;
#else
constexpr bool kEmulated = false;
#endif

std::string Seed(const char* name) { return std::string(GM_SOURCE_DIR) + "/fuzz/corpus/decode/" + name; }

// Polls until `ready` or ten seconds pass.
void WaitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 1000 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool HasTemporaryFile(const TempDir& dir) {
  const auto e = dir.Entries();
  return std::any_of(e.begin(), e.end(), [](const std::string& n) { return n[0] == '.'; });
}

// Stops the run with `signal` once it has made its temporary files and is
// waiting for standard input.
std::function<void(pid_t, int)> SignalWhenWaiting(const TempDir& dir, int signal) {
  return [&dir, signal](pid_t pid, int) {
    WaitFor([&] { return HasTemporaryFile(dir); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into the read that waits
    ::kill(pid, signal);
    // Its input stays open until it has gone: an end of input first would race the signal.
    WaitFor([&] { return !HasTemporaryFile(dir); });
  };
}

struct Invocation {
  Invocation(std::vector<std::string> a, Streams s = {}) : args(std::move(a)), streams(std::move(s)) {}
  std::vector<std::string> args;
  Streams streams;
};

// Rows leave `check` out where the other columns say it all.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct Case {
  const char* name;
  std::function<Invocation(const TempDir&)> make;
  int exitCode;
  const char* says;  // in the one line on standard error; nullptr when the run succeeds
  long peakMiB;      // 0: not bounded here
  std::vector<std::string> left;  // the folder afterwards, sorted
  std::function<void(const TempDir&, const RunResult&)> check = {};
  // An emulator takes a closed descriptor for itself and reads terminals its own way.
  bool emulatorToo = true;
};

const std::string kPicture = "in.png";

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

const Case kCases[] = {
    // Security: names print quoted, links others planted are not followed,
    // a replaced file keeps its mode.
    {"control bytes in a name", [](const TempDir& d) { return Invocation{{d / "\x1b]0;PWNED\a\x1b[2Jx.png"}}; }, 2,
     "'$'\\e'']0;PWNED'$'\\a\\e''[2Jx.png': No such file", 0, {kPicture}},
    {"a newline in a name", [](const TempDir& d) { return Invocation{{d / "a\nb.png"}}; }, 2, "a'$'\\n''b.png'", 0,
     {kPicture}},
    {"bytes that are not UTF-8 in the page title",
     [](const TempDir& d) {
       std::rename((d / kPicture).c_str(), (d / "\xff\x1b.png").c_str());
       return Invocation{{"--html", d / "p.html", d / "\xff\x1b.png"}};
     },
     0, nullptr, 0, {"p.html", "\xff\x1b.png"},
     [](const TempDir& d, const RunResult&) {
       const std::string page = clitest::ReadFile(d / "p.html");
       const std::string title = page.substr(page.find("<title>"), page.find("</title>") - page.find("<title>"));
       EXPECT_EQ(title.find_first_of("\xff\x1b"), std::string::npos) << title;
     }},
    {"a link another user planted in a shared folder",
     [](const TempDir& d) {
       ::mkdir((d / "shared").c_str(), 01777);
       ::chmod((d / "shared").c_str(), 01777);
       clitest::WriteFile(d / "victim", "old");
       ::symlink((d / "victim").c_str(), (d / "shared/out.png").c_str());
       if (::lchown((d / "shared/out.png").c_str(), 65534, 65534) != 0) return Invocation{{}};  // needs root
       return Invocation{{d / kPicture, d / "shared/out.png"}};
     },
     3, "another user", 0, {kPicture, "shared", "victim"},
     [](const TempDir& d, const RunResult&) { EXPECT_EQ(clitest::ReadFile(d / "victim"), "old"); }},
    {"a link of one's own",
     [](const TempDir& d) {
       ::symlink("target.png", (d / "link.png").c_str());
       return Invocation{{d / kPicture, d / "link.png"}};
     },
     0, nullptr, 0, {kPicture, "link.png", "target.png"},
     [](const TempDir& d, const RunResult&) {
       struct stat st {};
       EXPECT_TRUE(::lstat((d / "link.png").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
     }},
    {"a private file replaced",
     [](const TempDir& d) {
       clitest::WriteFile(d / "out.txt", "old");
       ::chmod((d / "out.txt").c_str(), 0600);
       return Invocation{{"--text", d / "out.txt", d / kPicture}};
     },
     0, nullptr, 0, {kPicture, "out.txt"},
     [](const TempDir& d, const RunResult&) {
       struct stat st {};
       ASSERT_EQ(::stat((d / "out.txt").c_str(), &st), 0);
       EXPECT_EQ(st.st_mode & 07777, 0600u);
     }},
    // Tiny files that claim huge images fail fast or run in small memory.
    {"interlaced, first pass only", [](const TempDir&) { return Invocation{{Seed("bomb-interlaced-first-pass.png")}}; },
     2, "truncated PNG", 64, {kPicture}},
    {"fax over the memory limit",
     [](const TempDir&) { return Invocation{{"--max-memory", "256M", Seed("bomb-fax-15000.tif")}}; }, 2, "memory limit", 16,
     {kPicture}},
    {"fax previewed", [](const TempDir&) { return Invocation{{"--columns", "80", Seed("bomb-fax-20000.tif")}}; }, 0,
     nullptr, 128, {kPicture}},
    {"scans over the memory limit",
     [](const TempDir&) { return Invocation{{"--max-memory", "100M", "--columns", "80", Seed("bomb-scans.jpg")}}; }, 2,
     "memory limit", 16, {kPicture}},
    {"hundreds of scans", [](const TempDir&) { return Invocation{{"--columns", "80", Seed("bomb-scans.jpg")}}; }, 2,
     "more than 100 progressive scans", 160, {kPicture}},
    {"a thin image at a terminal",
     [](const TempDir&) {
       Invocation r{{Seed("thin-300.png")}};
       r.streams.terminalColumns = 80;
       return r;
     },
     0, nullptr, 16, {kPicture},
     [](const TempDir&, const RunResult& run) { EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 200); },
     false},
    {"a scaled height past any limit",
     [](const TempDir&) { return Invocation{{"--columns", "512", Seed("thin-1048577.png")}}; }, 2,
     "the scaled image is 4096x4294971392", 16, {kPicture}},
    {"more memory than the machine has",
     [](const TempDir&) { return Invocation{{"--columns", "250000", "--max-memory", "100T", Seed("pixel.png")}}; }, 2,
     "memory this process can have", 16, {kPicture}},
    // Outputs: all written before any is renamed, standard output counted by
    // the file a path opens, temporary files gone on every signal.
    {"a later output that cannot be renamed",
     [](const TempDir& d) {
       Invocation r{{"-", d / "out.png", "--text", d / "art.txt"}};
       r.streams.during = [&d](pid_t, int input) {
         WaitFor([&] { return HasTemporaryFile(d); });
         ::mkdir((d / "art.txt").c_str(), 0755);
         clitest::WriteFile(d / "art.txt/keep", "");
         const std::string picture = clitest::ReadFile(d / kPicture);
         EXPECT_EQ(::write(input, picture.data(), picture.size()), static_cast<ssize_t>(picture.size()));
       };
       return r;
     },
     3, "art.txt", 0, {"art.txt", kPicture}},
    {"OUTPUT /dev/stdout beside --text -",
     [](const TempDir& d) {
       Invocation r{{"--format", "png", "--text", "-", d / kPicture, "/dev/stdout"}};
       r.streams.outputPipe = true;
       return r;
     },
     1, "standard output", 0, {kPicture}},
    {"--html /dev/fd/1 beside --text -",
     [](const TempDir& d) {
       Invocation r{{"--html", "/dev/fd/1", "--text", "-", d / kPicture}};
       r.streams.outputPipe = true;
       return r;
     },
     1, "standard output", 0, {kPicture}},
    {"an image to a terminal by its path",
     [](const TempDir& d) {
       Invocation r{{d / kPicture, "/dev/stdout"}};
       r.streams.terminalColumns = 80;
       return r;
     },
     1, "is a terminal", 0, {kPicture}},
    {"SIGTERM", [](const TempDir& d) {
       Invocation r{{"-", d / "out.png", "--text", d / "art.txt"}};
       r.streams.during = SignalWhenWaiting(d, SIGTERM);
       return r;
     },
     143, "cancelled", 0, {kPicture}},
    {"SIGHUP", [](const TempDir& d) {
       Invocation r{{"-", d / "out.png", "--html", d / "art.html"}};
       r.streams.during = SignalWhenWaiting(d, SIGHUP);
       return r;
     },
     129, "cancelled", 0, {kPicture}},
    {"Ctrl-C while a pipe waits for its reader",
     [](const TempDir& d) {
       ::mkfifo((d / "fifo").c_str(), 0600);
       Invocation r{{"--text", d / "fifo", d / kPicture}};
       r.streams.during = [](pid_t pid, int) {
         std::this_thread::sleep_for(std::chrono::milliseconds(300));
         ::kill(pid, SIGINT);
       };
       return r;
     },
     130, "cancelled", 0, {"fifo", kPicture}},
    {"a name as long as the folder allows",
     [](const TempDir& d) { return Invocation{{d / kPicture, d / (std::string(246, 'x') + ".png")}}; }, 0, nullptr, 0,
     {std::string(246, 'x') + ".png", kPicture}},
    {"--version to a full disk",
     [](const TempDir&) {
       Invocation r{{"--version"}};
       r.streams.outputFile = "/dev/full";
       return r;
     },
     3, "No space left on device", 0, {kPicture}},
    {"--help with standard output closed",
     [](const TempDir&) {
       Invocation r{{"--help"}};
       r.streams.closeOutput = true;
       return r;
     },
     3, "standard output: Bad file descriptor", 0, {kPicture}},
    {"standard input closed",
     [](const TempDir& d) {
       Invocation r{{"-", d / "out.png"}};
       r.streams.closeInput = true;
       return r;
     },
     2, "standard input: Bad file descriptor", 0, {kPicture}, {}, false},
    // Smaller slips.
    {"an empty --text", [](const TempDir& d) { return Invocation{{"--text", "", d / kPicture}}; }, 1, "--text ''", 0,
     {kPicture}},
    {"a size of iB alone", [](const TempDir& d) { return Invocation{{"--max-memory", "4iB", d / kPicture}}; }, 1,
     "--max-memory 4iB", 0, {kPicture}},
    {"a rectangle smaller than a cell",
     [](const TempDir& d) { return Invocation{{"--rect", "0,0,11,40", d / kPicture, d / "out.png"}}; }, 1,
     "smaller than one 8 x 12 cell", 0, {kPicture}},
    {"an option given twice", [](const TempDir& d) { return Invocation{{"--columns", "4", "--columns", "5", d / kPicture}}; },
     1, "--columns: is given twice", 0, {kPicture}},
};

TEST(CliHostile, EachCaseFailsCleanlyOrRunsInBoundedMemory) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (kEmulated && !c.emulatorToo) continue;
    TempDir dir;
    clitest::Save(clitest::Picture(96, 72, 3, 5), dir / kPicture);
    Invocation run = c.make(dir);
    if (run.args.empty()) continue;
    const RunResult result = clitest::RunGlyphmosaic(run.args, run.streams);
    if (c.says) {
      clitest::ExpectOneLineFailure(result, c.exitCode, c.says);
    } else {
      EXPECT_EQ(result.exitCode, 0) << result.err;
    }
    EXPECT_EQ(std::count_if(result.err.begin(), result.err.end(),
                            [](char ch) { return static_cast<unsigned char>(ch) < 0x20 && ch != '\n'; }),
              0)
        << result.err;
    if (c.peakMiB && kPeaksHold) {
      EXPECT_LT(result.peakKiB, c.peakMiB * 1024);
    }
    EXPECT_EQ(Sorted(dir.Entries()), Sorted(c.left));
    if (c.check) c.check(dir, result);
  }
}

}  // namespace

// After a power cut the new file must be whole under its name: it reaches the
// disk before the rename, and the rename before the run ends.
TEST(CliHostile, TheNewFileIsSyncedBeforeItsRenameAndTheFolderAfter) {
  TempDir dir;
  clitest::Save(clitest::Picture(96, 72, 3, 5), dir / kPicture);
  if (std::system("command -v strace >/dev/null") != 0) GTEST_SKIP() << "strace is not installed";
  if (kEmulated) GTEST_SKIP() << "strace would follow the emulator";
  clitest::Streams streams;
  streams.environment = {"ASAN_OPTIONS=detect_leaks=0"};  // LeakSanitizer cannot run under strace
  const auto run = clitest::RunProgram({"strace", "-f", "-qq", "-e", "trace=fsync,rename", "-o", dir / "log",
                                        GM_GLYPHMOSAIC, dir / kPicture, dir / "out.png"}, streams);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string log = clitest::ReadFile(dir / "log");
  const size_t rename = log.find("rename(");
  ASSERT_NE(rename, std::string::npos) << log;
  EXPECT_NE(log.rfind("fsync(", rename), std::string::npos) << log;
  EXPECT_NE(log.find("fsync(", rename), std::string::npos) << log;
}
