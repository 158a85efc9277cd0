// What the ui tests share: the dialog layer's test module loaded afresh for
// every test with a test host's basic suite behind it, and a watcher thread that drives
// the real windows while the test thread sits in a modal loop.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "abi/Suites.h"
#include "tests/fakes/HostSuites.h"
#include "tests/wine/WinePath.h"
#include "tests/wine/ui_exports.h"

namespace gm::test {

constexpr int kWaitMs = 10000;  // for any one window to appear or go

// Polls until done() holds or the time is up; true when it held.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = kWaitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(10);
  }
  return true;
}

inline std::string WindowText(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

inline std::string ClassName(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Visible dialog windows (class #32770) of one thread.
inline std::vector<HWND> ThreadDialogs(DWORD thread) {
  std::vector<HWND> found;
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM list) -> BOOL {
        if (IsWindowVisible(window) && ClassName(window) == "#32770") {
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The first visible dialog of the thread that matches, waited for.
inline HWND WaitForDialog(DWORD thread, const std::function<bool(HWND)>& matches) {
  HWND found = nullptr;
  WaitUntil([&] {
    for (HWND window : ThreadDialogs(thread)) {
      if (matches(window)) {
        found = window;
        return true;
      }
    }
    return false;
  });
  return found;
}

inline bool Gone(HWND window) {
  return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

// Runs modal() on this thread and script(thread) on a watcher thread. A
// dialog still open a few seconds after the script is done is closed by
// force, and the test fails, rather than hanging the run.
template <typename Modal>
auto Watched(Modal modal, const std::function<void(DWORD thread)>& script) {
  const DWORD thread = GetCurrentThreadId();
  std::atomic<bool> returned{false};
  bool forced = false;
  std::thread watcher([&] {
    script(thread);
    if (WaitUntil([&] { return returned.load(); }, 5000)) return;
    forced = true;
    for (int round = 0; round < 50 && !returned; ++round) {
      for (HWND window : ThreadDialogs(thread)) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
      Sleep(100);
      for (HWND window : ThreadDialogs(thread)) PostMessageA(window, WM_CLOSE, 0, 0);
      Sleep(100);
    }
  });
  auto result = modal();
  returned = true;
  watcher.join();
  EXPECT_FALSE(forced) << "a dialog did not end and was closed by force";
  return result;
}

// A dialog template built in memory, for dialogs the shipped module must not carry.
class DialogTemplate {
 public:
  enum ControlClass : WORD { kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kListBox = 0x83, kComboBox = 0x85 };

  DialogTemplate(DWORD style, short width, short height) {
    Push32(style | DS_SETFONT);
    Push32(0);
    countAt_ = words_.size();
    words_.push_back(0);
    for (short v : {short(0), short(0), width, height}) words_.push_back(static_cast<WORD>(v));
    words_.push_back(0);  // no menu
    words_.push_back(0);  // default class
    PushText(L"Test dialog");
    words_.push_back(8);
    PushText(L"MS Sans Serif");
  }
  DialogTemplate& Add(ControlClass kind, WORD id, DWORD style, short x, short y, short width, short height,
                      const wchar_t* text = L"") {
    if (words_.size() % 2) words_.push_back(0);  // items start on a 4-byte boundary
    Push32(style | WS_CHILD | WS_VISIBLE);
    Push32(0);
    for (short v : {x, y, width, height}) words_.push_back(static_cast<WORD>(v));
    words_.push_back(id);
    words_.push_back(0xFFFF);
    words_.push_back(kind);
    PushText(text);
    words_.push_back(0);  // no creation data
    ++words_[countAt_];
    return *this;
  }
  // A modeless dialog whose procedure does nothing, on the calling thread.
  HWND Create(HWND owner = nullptr) const {
    return CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(words_.data()),
                                      owner, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  }

 private:
  void Push32(DWORD v) {
    words_.push_back(LOWORD(v));
    words_.push_back(HIWORD(v));
  }
  void PushText(const wchar_t* text) {
    for (; *text; ++text) words_.push_back(static_cast<WORD>(*text));
    words_.push_back(0);
  }
  std::vector<WORD> words_;
  size_t countAt_ = 0;
};

// "Photoshop GetFileList Suite for Plug-ins", version 4: its 4th function
// opens an address; the host here only records it.
using FileListTable = GetFileListSuite;
extern std::vector<std::string> browsedAddresses;
extern std::atomic<int> browseCalls;
extern const FileListTable kFileListTable;
extern const FileListTable kFileListWithoutBrowse;
constexpr const char kFileListSuiteName[] = "Photoshop GetFileList Suite for Plug-ins";

// The test module, loaded for one test, with its exports.
struct UiModule {
  HMODULE handle = nullptr;
  void (*PluginMain)(int16_t, void*, intptr_t*, int16_t*) = nullptr;
  DLGPROC GenericProc = nullptr;
  ui_exports::HostBasicSuite HostBasicSuite = nullptr;
  ui_exports::ShowAboutBox ShowAboutBox = nullptr;
  ui_exports::CentreDialog CentreDialog = nullptr;
  ui_exports::ActiveHandler ActiveHandler = nullptr;
  ui_exports::SetActiveHandler SetActiveHandler = nullptr;
  ui_exports::Recorder Recorder = nullptr;
  ui_exports::RecorderLog RecorderLog = nullptr;
  ui_exports::RecorderWindow RecorderWindow = nullptr;
  ui_exports::RecorderNest RecorderNest = nullptr;
  ui_exports::RecorderNestResult RecorderNestResult = nullptr;
  ui_exports::RunModal RunModal = nullptr;
  ui_exports::HandlerItemWindow HandlerItemWindow = nullptr;
  ui_exports::ModuleDialogBoxParam ModuleDialogBoxParam = nullptr;
  ui_exports::ItemWindowById ItemWindowById = nullptr;
  ui_exports::ReplyText TextSet = nullptr;
  ui_exports::ReadText TextGet = nullptr;
  ui_exports::Reply ComboClear = nullptr;
  ui_exports::ReplyInt ComboSelect = nullptr;
  ui_exports::ReplyText ComboAppend = nullptr;
  ui_exports::ReadText ComboGetSelectedText = nullptr;
  ui_exports::Reply ListClear = nullptr;
  ui_exports::IntOf ListGetSelection = nullptr;
  ui_exports::IntAt ListGetItemData = nullptr;
  ui_exports::SetData ListSetItemData = nullptr;
  ui_exports::ReplyInt ListSelect = nullptr;
  ui_exports::ReplyText ListAppend = nullptr;
  ui_exports::ReadText ListGetSelectedText = nullptr;
  ui_exports::ReplyInt CheckSet = nullptr;
  ui_exports::IntOf CheckIsChecked = nullptr;
  ui_exports::RadioCheck RadioCheck = nullptr;
  ui_exports::RadioGetChecked RadioGetChecked = nullptr;
  std::vector<std::string> missing;
};

// Loads the test module afresh (so suites, handlers and the memory watcher
// start clean) and hands the module the host's basic suite through a
// Parameters call, as a host does before anything else.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A Parameters call: hostBasicSuite becomes basic (null allowed).
  void CallParameters(SPBasicSuite* basic);
  // The module's idea of the about box, with the file-list suite offered or not.
  void OfferFileList(const FileListTable* table);

  UiModule ui;
  std::unique_ptr<gm::test::BasicSuiteHost> host;
};

}  // namespace gm::test
