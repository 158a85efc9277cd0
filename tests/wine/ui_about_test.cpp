// The About phase's message box and the about dialog, in real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/wine/ui_harness.h"

namespace gm::test {
namespace {

constexpr int kAboutDialog = 16000;
constexpr int kMessageTextId = 0xFFFF;  // the static that holds a message box's text

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

bool IsMessageBox(HWND window, const char* caption) {
  return WindowText(window) == caption && GetDlgItem(window, kMessageTextId) != nullptr;
}

bool IsAboutBox(HWND window) { return GetDlgItem(window, 3) && GetDlgItem(window, 4) && GetDlgItem(window, 5); }

// What the watcher saw of one message box before pressing its OK button.
struct SeenMessageBox {
  int boxes = 0;
  std::string text;
  bool okVisible = false;
  bool cancelVisible = false;
};

SeenMessageBox PressOkOnMessageBox(DWORD thread, const char* caption) {
  SeenMessageBox seen;
  HWND box = WaitForDialog(thread, [&](HWND w) { return IsMessageBox(w, caption); });
  if (!box) return seen;
  for (HWND w : ThreadDialogs(thread)) seen.boxes += IsMessageBox(w, caption) ? 1 : 0;
  seen.text = WindowText(GetDlgItem(box, kMessageTextId));
  HWND ok = GetDlgItem(box, IDOK);
  HWND cancel = GetDlgItem(box, IDCANCEL);
  seen.okVisible = ok && IsWindowVisible(ok);
  seen.cancelVisible = cancel && IsWindowVisible(cancel);
  PostMessageA(ok, BM_CLICK, 0, 0);
  Gone(box);
  return seen;
}

using AboutPhase = UiTest;

TEST_F(AboutPhase, ShowsOneOkBoxWithThreeLinesAndTakesTheRecordsBasicSuite) {
  struct Case {
    const char* name;
    bool withBasicSuite;
  };
  for (const Case& c : {Case{"record with a basic suite", true}, Case{"record with a null basic suite", false}}) {
    SCOPED_TRACE(c.name);
    CallParameters(c.withBasicSuite ? nullptr : host->BasicSuite());  // the opposite, so the change shows
    AboutRecord record{};
    record.sSPBasic = c.withBasicSuite ? host->BasicSuite() : nullptr;
    intptr_t data = 0;
    int16_t result = 1234;
    SeenMessageBox seen;
    Watched([&] { return (ui.PluginMain(filterSelectorAbout, &record, &data, &result), 0); },
            [&](DWORD thread) { seen = PressOkOnMessageBox(thread, "GlyphMosaic"); });

    EXPECT_EQ(seen.boxes, 1);
    const std::vector<std::string> lines = Lines(seen.text);
    ASSERT_EQ(lines.size(), 3u) << seen.text;
    EXPECT_EQ(lines[0], "GlyphMosaic 1.0");
    EXPECT_NE(lines[1].find("20"), std::string::npos) << "credit line without a year: " << lines[1];
    EXPECT_EQ(lines[2].rfind("http", 0), 0u) << "third line is no web address: " << lines[2];
    EXPECT_EQ(seen.text.find('\r'), std::string::npos);
    EXPECT_TRUE(seen.okVisible);
    EXPECT_FALSE(seen.cancelVisible);
    EXPECT_EQ(result, 1234) << "About leaves the result alone";
    EXPECT_EQ(ui.HostBasicSuite(), record.sSPBasic);
  }
}

// What the watcher saw of the about box.
struct SeenAboutBox {
  HWND window = nullptr;
  RECT bounds{};
  LONG style = 0;
  std::string text;
  std::string caption4, caption5;
  bool stillOpen = false;  // after the step that must not end it
  std::string notice;      // a message box the about box raised, if any
};

SeenAboutBox LookAtAboutBox(DWORD thread) {
  SeenAboutBox seen;
  seen.window = WaitForDialog(thread, IsAboutBox);
  if (!seen.window) return seen;
  GetWindowRect(seen.window, &seen.bounds);
  seen.style = GetWindowLongA(seen.window, GWL_STYLE);
  seen.text = WindowText(GetDlgItem(seen.window, 3));
  seen.caption4 = WindowText(GetDlgItem(seen.window, 4));
  seen.caption5 = WindowText(GetDlgItem(seen.window, 5));
  return seen;
}

// The position the layer must give a dialog of this size over the desktop
// (the about box's owner when no window is active), from the live metrics.
POINT ExpectedOverDesktop(const RECT& bounds, LONG style) {
  RECT desktop{};
  GetClientRect(GetDesktopWindow(), &desktop);
  const int w = bounds.right - bounds.left;
  const int h = bounds.bottom - bounds.top;
  int t = GetSystemMetrics(SM_CXSIZE);
  if (!(style & WS_SYSMENU)) t -= t / 3;
  int x = desktop.left + std::max<int>(desktop.right - desktop.left - w, 0) / 2 - t;
  if (x + w > GetSystemMetrics(SM_CXSCREEN)) x = std::max(GetSystemMetrics(SM_CXSCREEN) - w, 0);
  int y = desktop.top + std::max<int>(desktop.bottom - desktop.top - h, 0) / 3;
  if (y + h > GetSystemMetrics(SM_CYSCREEN)) y = std::max(GetSystemMetrics(SM_CYSCREEN) - h, 0);
  return POINT{x, y};
}

using AboutBox = UiTest;

TEST_F(AboutBox, OpensTemplate16000CentredWithString16000Whole) {
  SeenAboutBox seen;
  const int32_t result = Watched([&] { return ui.ShowAboutBox(nullptr, kAboutDialog); },
                                 [&](DWORD thread) {
                                   seen = LookAtAboutBox(thread);
                                   if (seen.window) SendMessageA(seen.window, WM_CHAR, 27, 0);
                                 });
  ASSERT_NE(seen.window, nullptr) << "no about box appeared";
  EXPECT_EQ(result, 0);

  char expected[1024] = {};
  const int length = LoadStringA(ui.handle, kAboutDialog, expected, sizeof expected);
  EXPECT_EQ(length, 166);
  EXPECT_EQ(seen.text, std::string(expected, length));
  EXPECT_EQ(seen.text.size(), 166u);

  EXPECT_EQ(seen.style & WS_SYSMENU, 0) << "template 16000 has no system menu";
  const POINT at = ExpectedOverDesktop(seen.bounds, seen.style);
  EXPECT_EQ(seen.bounds.left, at.x);
  EXPECT_EQ(seen.bounds.top, at.y);
  EXPECT_EQ(ui.ActiveHandler(), nullptr) << "the handler lived on ShowAboutBox's stack";
}

TEST_F(AboutBox, EndsWithZeroOnEscEnterAndClickAndWithTheIdOnOkAndCancel) {
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"Esc", [](HWND w) { SendMessageA(w, WM_CHAR, 27, 0); }, 0},
      {"Enter", [](HWND w) { SendMessageA(w, WM_CHAR, 13, 0); }, 0},
      {"click on the background",
       [](HWND w) {
         RECT r{};
         GetWindowRect(w, &r);
         // Below the text and right of the address buttons, inside the client area.
         SetCursorPos(r.right - 6, r.bottom - 6);
         INPUT clicks[2] = {};
         clicks[0].type = clicks[1].type = INPUT_MOUSE;
         clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
         clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
         SendInput(2, clicks, sizeof(INPUT));
       },
       0},
      {"posted button-down message", [](HWND w) { PostMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)); },
       0},
      {"OK command", [](HWND w) { SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0); }, IDOK},
      {"Cancel command", [](HWND w) { SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0); }, IDCANCEL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HWND window = nullptr;
    const int32_t result = Watched([&] { return ui.ShowAboutBox(nullptr, kAboutDialog); },
                                   [&](DWORD thread) {
                                     window = WaitForDialog(thread, IsAboutBox);
                                     if (window) c.act(window);
                                   });
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(result, c.expected);
  }
}

TEST_F(AboutBox, StaysOpenForOtherKeysAndForCommandsWithANotificationCode) {
  struct Case {
    const char* name;
    UINT message;
    WPARAM wParam;
  };
  for (const Case& c : {Case{"OK with code 1", WM_COMMAND, MAKEWPARAM(IDOK, 1)},
                        Case{"Cancel with code 0x300", WM_COMMAND, MAKEWPARAM(IDCANCEL, 0x300)},
                        Case{"the letter a", WM_CHAR, 'a'},
                        Case{"Esc in the high byte only", WM_CHAR, 0x100 + 'a'},
                        Case{"command of item 3", WM_COMMAND, MAKEWPARAM(3, 0)}}) {
    SCOPED_TRACE(c.name);
    bool stillOpen = false;
    const int32_t result = Watched([&] { return ui.ShowAboutBox(nullptr, kAboutDialog); },
                                   [&](DWORD thread) {
                                     HWND window = WaitForDialog(thread, IsAboutBox);
                                     if (!window) return;
                                     SendMessageA(window, c.message, c.wParam, 0);
                                     Sleep(200);
                                     stillOpen = IsWindow(window) && IsWindowVisible(window);
                                     SendMessageA(window, WM_CHAR, 27, 0);
                                   });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, 0) << "ended by the Esc that followed";
  }
}

TEST_F(AboutBox, AddressButtonsAskTheHostToOpenHttpAndTheirCaption) {
  OfferFileList(&kFileListTable);
  const size_t blocksBefore = host->OutstandingBlocks();
  const int64_t allocatedBefore = host->BlocksAllocated();
  SeenAboutBox seen;
  bool stillOpen = false;
  const int32_t result = Watched([&] { return ui.ShowAboutBox(nullptr, kAboutDialog); },
                                 [&](DWORD thread) {
                                   seen = LookAtAboutBox(thread);
                                   if (!seen.window) return;
                                   PostMessageA(GetDlgItem(seen.window, 4), BM_CLICK, 0, 0);
                                   WaitUntil([] { return browseCalls == 1; });
                                   PostMessageA(GetDlgItem(seen.window, 5), BM_CLICK, 0, 0);
                                   WaitUntil([] { return browseCalls == 2; });
                                   // A caption that already has the scheme is used as it stands.
                                   SetWindowTextA(GetDlgItem(seen.window, 4), "http://example.org");
                                   PostMessageA(GetDlgItem(seen.window, 4), BM_CLICK, 0, 0);
                                   WaitUntil([] { return browseCalls == 3; });
                                   stillOpen = IsWindowVisible(seen.window);
                                   SendMessageA(seen.window, WM_CHAR, 13, 0);
                                 });
  ASSERT_NE(seen.window, nullptr);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(stillOpen) << "an address button leaves the box open";
  EXPECT_FALSE(seen.caption4.empty());
  EXPECT_FALSE(seen.caption5.empty());
  EXPECT_EQ(browsedAddresses, (std::vector<std::string>{"http://" + seen.caption4, "http://" + seen.caption5,
                                                         "http://http://example.org"}));

  int acquires = 0;
  for (const auto& call : host->SuiteCalls()) {
    if (call.kind == gm::test::SuiteCall::Acquire) {
      ++acquires;
      EXPECT_EQ(call.name, kFileListSuiteName);
      EXPECT_EQ(call.version, 4);
    }
  }
  EXPECT_EQ(acquires, 1) << "the suite is acquired once and kept";
  EXPECT_GT(host->BlocksAllocated(), allocatedBefore) << "buffers come from the host";
  EXPECT_EQ(host->OutstandingBlocks(), blocksBefore) << "and go back to it";
}

// A host without the file-list suite, or without any basic suite, must not
// take the about box (or the host) down: the box says so and stays open.
TEST_F(AboutBox, AddressButtonWithoutABrowsingHostTellsTheUserAndStaysOpen) {
  struct Case {
    const char* name;
    bool basicSuite;
    const FileListTable* offered;
    int expectedAcquires;
  };
  for (const Case& c : {Case{"host refuses the suite", true, nullptr, 2},
                        Case{"no basic suite at all", false, nullptr, 0},
                        Case{"suite without its 4th function", true, &kFileListWithoutBrowse, 1}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (c.offered) OfferFileList(c.offered);
    if (!c.basicSuite) CallParameters(nullptr);
    std::vector<SeenMessageBox> notices;
    bool stillOpen = false;
    const int32_t result = Watched([&] { return ui.ShowAboutBox(nullptr, kAboutDialog); },
                                   [&](DWORD thread) {
                                     HWND window = WaitForDialog(thread, IsAboutBox);
                                     if (!window) return;
                                     for (int press = 0; press < 2; ++press) {
                                       PostMessageA(GetDlgItem(window, 4 + press), BM_CLICK, 0, 0);
                                       notices.push_back(PressOkOnMessageBox(thread, "GlyphMosaic"));
                                     }
                                     stillOpen = IsWindow(window) && IsWindowVisible(window);
                                     SendMessageA(window, WM_CHAR, 27, 0);
                                   });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(notices.size(), 2u);
    for (const SeenMessageBox& notice : notices) {
      EXPECT_EQ(notice.boxes, 1);
      EXPECT_EQ(notice.text, "This host cannot open web addresses.");
    }
    EXPECT_EQ(browseCalls, 0);
    int acquires = 0;
    for (const auto& call : host->SuiteCalls()) acquires += call.kind == gm::test::SuiteCall::Acquire ? 1 : 0;
    EXPECT_EQ(acquires, c.expectedAcquires) << "a refused suite is asked for again at the next press";
  }
}

TEST_F(AboutBox, TemplateThatCannotBeLoadedGivesMinusOneAndShowsNothing) {
  for (int32_t id : {12345, 0}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(ui.ShowAboutBox(nullptr, id), -1);
    EXPECT_TRUE(ThreadDialogs(GetCurrentThreadId()).empty());
    EXPECT_EQ(ui.ActiveHandler(), nullptr);
  }
}

}  // namespace
}  // namespace gm::test
