// The tool as people first type it: INPUT alone prints the art (fitted to a
// terminal), "-" reads and writes the standard streams, a reader that goes
// away is an output error, and no run writes one of its files over another.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "io/Formats.h"
#include "cli_files.h"

namespace {

using clitest::RunGlyphmosaic;
using clitest::Streams;
using clitest::TempDir;
using gm::Image;

using clitest::ExpectOneLineFailure;
using clitest::Save;

Streams ToPipe(bool readerGone = false) {
  Streams s;
  s.outputPipe = true;
  s.readerGone = readerGone;
  return s;
}
Streams FromPipe(const std::string* bytes) {
  Streams s;
  s.input = bytes;
  return s;
}
Streams FromFile(const std::string& path) {
  Streams s;
  s.inputFile = path;
  return s;
}

TEST(CliStreams, InputAloneOutsideATerminalPrintsWhatTextPrints) {
  TempDir dir;
  Save(clitest::Picture(93, 70, 3, 31), dir / "in.png");
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--columns", "7"}}) {
    std::vector<std::string> args = extra;
    args.push_back(dir / "in.png");
    const std::string want = clitest::TextOf(args);
    ASSERT_FALSE(want.empty());
    const auto piped = RunGlyphmosaic(args, ToPipe());
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, want);
    const auto toFile = RunGlyphmosaic(args);
    EXPECT_EQ(toFile.out, want);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.png"});
  }
}

// The art on a pseudo-terminal of a known width (0: it does not say); only
// the art is on the screen. Ctrl-C comes once the screen so far makes
// `interrupt` true.
std::string ArtOnTerminal(const std::string& input, int columns, const char* columnsVariable,
                          const std::function<bool(const std::string&)>& interrupt = nullptr) {
  Streams s;
  s.terminalColumns = columns;
  if (columnsVariable) s.environment = {std::string("COLUMNS=") + columnsVariable};
  s.interruptWhen = interrupt;
  const auto run = RunGlyphmosaic({input}, s);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return run.out;
}

TEST(CliStreams, AtATerminalTheArtFitsItsWidth) {
#ifdef GM_EMULATED
  GTEST_SKIP() << "an emulator answers a terminal's size questions its own way";
#endif
  struct Case {
    int terminalColumns;  // 0: the terminal does not say
    const char* columnsVariable;
    int want;
  };
  const Case cases[] = {{37, "50", 37}, {0, "45", 45}, {0, nullptr, 80}, {0, "wide", 80}, {0, "0", 80}};
  TempDir dir;
  Save(clitest::Picture(400, 260, 3, 17), dir / "in.png");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    const std::string screen = ArtOnTerminal(dir / "in.png", c.terminalColumns, c.columnsVariable);
    EXPECT_EQ(screen, clitest::TextOf({"--columns", std::to_string(c.want), dir / "in.png"}));
    EXPECT_EQ(screen.find('\n'), static_cast<size_t>(c.want));
  }
}

// Each frame is drawn over the last, the cursor hidden meanwhile; Ctrl-C
// ends the show with the cursor shown again below the art.
TEST(CliStreams, AnAnimationPlaysAtTheTerminalUntilCtrlC) {
#ifdef GM_EMULATED
  GTEST_SKIP() << "under an emulator the terminal's timing is the emulator's";
#endif
  TempDir dir;
  std::vector<std::string> make = {"convert", "-delay", "5", "-loop", "0"};
  for (uint32_t k = 0; k < 3; ++k) {
    make.push_back(dir / std::string("f").append(std::to_string(k)).append(".png"));
    Save(clitest::Picture(96, 48, 3, 40 + k), make.back());
  }
  make.push_back(std::string("gif:").append(dir / "anim"));
  ASSERT_EQ(clitest::RunProgram(make).exitCode, 0);
  std::set<std::string> frames;
  for (const char* k : {"1", "2", "3"}) frames.insert(clitest::TextOf({"--frame", k, "--columns", "12", dir / "anim"}));
  ASSERT_EQ(frames.size(), 3u);

  // Drawn over four times: once round and into the second round.
  const std::string up = "\x1b[4A", hide = "\x1b[?25l", show = "\x1b[?25h";
  std::string screen = ArtOnTerminal(dir / "anim", 12, nullptr, [&](const std::string& s) {
    size_t draws = 0;
    for (size_t at = s.find(up); at != std::string::npos; at = s.find(up, at + 1)) ++draws;
    return draws == 4;
  });
  const size_t hidden = screen.find(hide);
  ASSERT_NE(hidden, std::string::npos) << screen;
  ASSERT_EQ(screen.rfind(show), screen.size() - show.size()) << screen;
  screen.erase(screen.size() - show.size());
  screen.erase(hidden, hide.size());
  std::set<std::string> seen;
  size_t shown = 0;
  for (size_t at = 0, next = 0; at <= screen.size(); at = next + up.size(), ++shown) {
    next = std::min(screen.find(up, at), screen.size());
    seen.insert(screen.substr(at, next - at));
  }
  EXPECT_EQ(seen, frames);
  EXPECT_GE(shown, 5u);
}

TEST(CliStreams, StandardInputInEveryFormat) {
  TempDir dir;
  const Image picture = clitest::Picture(70, 50, 3, 23);
  const gm::io::Codec* const formats[] = {gm::io::CodecNamed("png"), gm::io::CodecNamed("jpeg"), gm::io::CodecNamed("tiff"),
                                          gm::io::CodecNamed("webp")};
  for (const auto format : formats) {
    SCOPED_TRACE(format->title);
    Save(picture, dir / "in", format);
    const std::string want = clitest::TextOf({dir / "in"});
    const std::string bytes = clitest::ReadFile(dir / "in");
    const auto piped = RunGlyphmosaic({"-"}, FromPipe(&bytes));
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, want);
    const auto redirected = RunGlyphmosaic({"--text", "-", "-"}, FromFile(dir / "in"));
    EXPECT_EQ(redirected.exitCode, 0) << redirected.err;
    EXPECT_EQ(redirected.out, want);
  }
}

TEST(CliStreams, StandardInputFailuresNameIt) {
  TempDir dir;
  Save(clitest::Picture(300, 200, 3, 23), dir / "in.tif", gm::io::CodecNamed("tiff"));
  const std::string tiff = clitest::ReadFile(dir / "in.tif");
  Save(clitest::Picture(40, 24, 3, 23), dir / "in.png");
  const std::string png = clitest::ReadFile(dir / "in.png");
  const std::string text = "not an image at all";
  const std::string empty;
  const std::string truncated = clitest::ReadFile(dir / "in.tif").substr(0, 1000);
  struct Case {
    const std::string* input;
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {&tiff, {"--max-memory", "100K", "-"}, 2, "standard input: a TIFF image read as a stream must fit in memory"},
      {&text, {"-"}, 2, "standard input: not a PNG, JPEG, TIFF, WebP"},
      {&empty, {"-"}, 2, "standard input: the file is empty"},
      {&truncated, {"-"}, 2, "standard input: "},
      // Found after the decode, by the tool, not the decoder.
      {&png, {"--rect", "0,0,48,40", "-"}, 1, "glyphmosaic: standard input: --rect 0,0,48,40 reaches outside"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const auto run = RunGlyphmosaic(c.args, FromPipe(c.input));
    ExpectOneLineFailure(run, c.exitCode, c.says);
    EXPECT_EQ(run.out, "");
  }
}

// Ctrl-C while the tool waits for standard input: the writer has sent
// nothing yet, or part of an image.
TEST(CliStreams, InterruptWhileWaitingForInputCancels) {
  TempDir dir;
  Save(clitest::Picture(200, 150, 3, 5), dir / "in.png");
  Save(clitest::Picture(200, 150, 3, 5), dir / "in.tif", gm::io::CodecNamed("tiff"));
  const std::string png = clitest::ReadFile(dir / "in.png"), tiff = clitest::ReadFile(dir / "in.tif");
  const std::string sent[] = {"", png.substr(0, png.size() / 2), tiff.substr(0, tiff.size() / 2)};
  for (const std::string& part : sent) {
    SCOPED_TRACE(part.substr(0, 4));
    Streams s;
    bool stopped = false;
    s.during = [&](pid_t pid, int input) {
      ASSERT_EQ(::write(input, part.data(), part.size()), static_cast<ssize_t>(part.size()));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ::kill(pid, SIGINT);
      // It stops without waiting for more input; one that kept waiting is
      // released by the end of its input.
      siginfo_t info{};
      for (int i = 0; i < 100 && !stopped; ++i) {
        stopped = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
        if (!stopped) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    };
    const auto run = RunGlyphmosaic({"-"}, s);
    EXPECT_TRUE(stopped) << "the tool waited for the end of its input";
    EXPECT_EQ(run.exitCode, 130);
    EXPECT_EQ(run.err, "glyphmosaic: standard input: cancelled\n");
  }
}

TEST(CliStreams, StandardOutputInTheFormatAsked) {
  TempDir dir;
  Save(clitest::Picture(64, 48, 3, 29), dir / "in.png");
  struct Case {
    const char* format;
    const char* file;  // what a file of that format is written as
  };
  const Case cases[] = {{"png", "out.png"}, {"tiff", "out.tif"}, {"jpeg", "out.jpg"}, {"JPG", "out.jpeg"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    ASSERT_EQ(RunGlyphmosaic({dir / "in.png", dir / c.file}).exitCode, 0);
    const std::string want = clitest::ReadFile(dir / c.file);
    // Piped, TIFF included, which seeks while it writes.
    const auto piped = RunGlyphmosaic({"--format", c.format, dir / "in.png", "-"}, ToPipe());
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, want);
    // --format beats the name's extension.
    const auto named = RunGlyphmosaic({"--format", c.format, dir / "in.png", dir / "other.png"});
    EXPECT_EQ(named.exitCode, 0) << named.err;
    EXPECT_EQ(clitest::ReadFile(dir / "other.png"), want);
  }
}

TEST(CliStreams, UsageErrorsOfTheStreams) {
  TempDir dir;
  Save(clitest::Picture(40, 30, 3, 2), dir / "in.png");
  const std::string in = dir / "in.png";
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{in, "-"}, "needs --format"},
      {{"--format", "png", "--text", "-", in, "-"}, "only one of"},
      {{"--html", "-", "--text", "-", in}, "only one of"},
      {{"--format", "gif", in, "-"}, "--format gif"},
      {{"--format", "png", in}, "names the format of OUTPUT"},
      {{"--colour", in, dir / "out.png"}, "--colour"},
      {{"--no-rotate=yes", in}, "takes no value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const auto run = RunGlyphmosaic(c.args);
    ExpectOneLineFailure(run, 1, c.says);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.png"});
}

TEST(CliStreams, AReaderThatGoesAwayIsAnOutputError) {
  TempDir dir;
  Save(clitest::Picture(400, 300, 3, 3), dir / "in.png");
  const std::vector<std::string> runs[] = {
      {dir / "in.png"}, {"--colour", dir / "in.png"}, {"--format", "tiff", dir / "in.png", "-"},
      {"--html", "-", dir / "in.png"}};
  for (const auto& args : runs) {
    SCOPED_TRACE(args[0]);
    const auto run = RunGlyphmosaic(args, ToPipe(true));
    ExpectOneLineFailure(run, 3, "standard output: the reader went away (broken pipe)");
  }
}

TEST(CliStreams, NoRunWritesOneOfItsFilesOverAnother) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> setup;  // beside in.png
    std::vector<std::string> args;              // "@" is replaced by the folder
    std::vector<std::string> named;             // the two files the refusal names; none: not refused
  };
  auto link = [](const char* target, const char* name) {
    return [=](const TempDir& d) { ASSERT_EQ(::symlink(target, (d / name).c_str()), 0); };
  };
  auto none = [](const TempDir&) {};
  const Case cases[] = {
      {"the same name", none, {"@/in.png", "@/in.png"}, {"@/in.png", "@/in.png"}},
      {"another spelling", none, {"@/in.png", "@/./sub/../in.png"}, {"@/in.png", "@/./sub/../in.png"}},
      {"a symbolic link", link("in.png", "link.png"), {"@/link.png", "@/in.png"}, {"@/link.png", "@/in.png"}},
      {"a hard link",
       [](const TempDir& d) { ASSERT_EQ(::link((d / "in.png").c_str(), (d / "hard.png").c_str()), 0); },
       {"@/in.png", "@/hard.png"}, {"@/in.png", "@/hard.png"}},
      {"text over the input", none, {"--text", "@/in.png", "@/in.png"}, {"INPUT @/in.png", "--text"}},
      {"html over the output", none, {"--html", "@/out.png", "@/in.png", "@/out.png"},
       {"OUTPUT @/out.png", "--html"}},
      {"two new files by two names", none, {"--text", "@/art.txt", "--html", "@/sub/../art.txt", "@/in.png"},
       {"--text @/art.txt", "@/sub/../art.txt: --html"}},
      {"through a dangling link", link("new.txt", "soon.txt"),
       {"--text", "@/soon.txt", "--html", "@/new.txt", "@/in.png"},
       {"--text @/soon.txt", "@/new.txt: --html"}},
      {"devices are exempt", none, {"--text", "/dev/null", "--html", "/dev/null", "@/in.png"}, {}},
      {"different files", none, {"--text", "@/art.txt", "@/in.png", "@/out.png"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ::mkdir((dir / "sub").c_str(), 0755);
    Save(clitest::Picture(40, 30, 3, 2), dir / "in.png");
    const std::string photo = clitest::ReadFile(dir / "in.png");
    c.setup(dir);
    const auto before = dir.Entries();
    std::vector<std::string> args;
    auto expand = [&](std::string a) {
      const auto at = a.find('@');
      return at == std::string::npos ? a : a.replace(at, 1, dir.Path());
    };
    for (const std::string& a : c.args) args.push_back(expand(a));
    const auto run = RunGlyphmosaic(args);
    EXPECT_EQ(clitest::ReadFile(dir / "in.png"), photo);
    if (c.named.empty()) {
      EXPECT_EQ(run.exitCode, 0) << run.err;
      continue;
    }
    ExpectOneLineFailure(run, 1, "is the same file as");
    for (const std::string& name : c.named) EXPECT_NE(run.err.find(expand(name)), std::string::npos) << run.err;
    EXPECT_EQ(dir.Entries(), before);
    EXPECT_EQ(run.out, "");
  }
}

TEST(CliStreams, StandardInputFromTheOutputFileIsRefusedToo) {
  TempDir dir;
  Save(clitest::Picture(40, 30, 3, 2), dir / "in.png");
  const std::string photo = clitest::ReadFile(dir / "in.png");
  const auto run = RunGlyphmosaic({"-", dir / "in.png"}, FromFile(dir / "in.png"));
  ExpectOneLineFailure(run, 1, "OUTPUT is the same file as INPUT standard input");
  EXPECT_EQ(clitest::ReadFile(dir / "in.png"), photo);
}

}  // namespace
