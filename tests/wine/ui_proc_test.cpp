// The exported dialog procedure's routing, modal runs with a recording
// handler, nesting, and centring over real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/wine/ui_harness.h"

namespace gm::test {
namespace {

constexpr int kOkCancelDialog = 101;

std::vector<UiEvent> Events(const UiLog* log) { return {log->events, log->events + log->count}; }

bool HasCommand(const std::vector<UiEvent>& events, uint32_t itemId) {
  return std::any_of(events.begin(), events.end(),
                     [&](const UiEvent& e) { return e.hook == kHookCommand && e.message == itemId; });
}

bool HasOther(const std::vector<UiEvent>& events, uint32_t message) {
  return std::any_of(events.begin(), events.end(),
                     [&](const UiEvent& e) { return e.hook == kHookOther && e.message == message; });
}

using DialogProcedure = UiTest;

// Called directly on a plain window: without a handler, other messages go to
// DefWindowProcA (visible here because it stores WM_SETTEXT's text); with one,
// to the handler's hook instead.
TEST_F(DialogProcedure, RoutesOtherMessagesToDefWindowProcOnlyWithoutAHandler) {
  HWND window = CreateWindowExA(0, "STATIC", "start", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  DialogHandler* recorder = ui.Recorder(0);

  ASSERT_EQ(ui.ActiveHandler(), nullptr);
  EXPECT_EQ(ui.GenericProc(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("default")), FALSE);
  EXPECT_EQ(WindowText(window), "default");

  ui.SetActiveHandler(recorder);
  EXPECT_EQ(ui.GenericProc(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("hooked")), FALSE);
  EXPECT_EQ(WindowText(window), "default") << "the handler's hook took it, not DefWindowProcA";
  std::vector<UiEvent> events = Events(ui.RecorderLog(0));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].hook, kHookOther);
  EXPECT_EQ(events[0].message, static_cast<uint32_t>(WM_SETTEXT));
  EXPECT_EQ(events[0].lParam, reinterpret_cast<intptr_t>("hooked"));

  // Commands reach the hook with the item id alone and report handled.
  EXPECT_EQ(ui.GenericProc(window, WM_COMMAND, MAKEWPARAM(7, 3), 0), TRUE);
  events = Events(ui.RecorderLog(0));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].hook, kHookCommand);
  EXPECT_EQ(events[1].message, 7u);

  // WM_DESTROY forgets the handler without calling it.
  EXPECT_EQ(ui.GenericProc(window, WM_DESTROY, 0, 0), FALSE);
  EXPECT_EQ(ui.ActiveHandler(), nullptr);
  EXPECT_EQ(ui.RecorderLog(0)->count, 2);
  DestroyWindow(window);
}

// What the watcher saw while a recorded dialog ran.
struct SeenRun {
  HWND window = nullptr;
  DialogHandler* activeWhileOpen = nullptr;
  HWND itemFromHandler = nullptr;
  HWND cancelItem = nullptr;
  bool openAfterCodedOk = false;
};

TEST_F(DialogProcedure, ModalRunRegistersTheHandlerAndPassesCommandsOn) {
  SeenRun seen;
  const int32_t result = Watched([&] { return ui.RunModal(0, kOkCancelDialog); },
                                 [&](DWORD thread) {
                                   seen.window = WaitForDialog(thread, [](HWND w) { return GetDlgItem(w, IDOK); });
                                   if (!seen.window) return;
                                   seen.activeWhileOpen = ui.ActiveHandler();
                                   seen.itemFromHandler = ui.HandlerItemWindow(0, IDCANCEL);
                                   seen.cancelItem = GetDlgItem(seen.window, IDCANCEL);
                                   SendMessageA(seen.window, WM_COMMAND, MAKEWPARAM(42, 0), 0);
                                   SendMessageA(seen.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_DOUBLECLICKED), 0);
                                   Sleep(200);
                                   seen.openAfterCodedOk = IsWindowVisible(seen.window);
                                   SendMessageA(seen.window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
                                 });
  ASSERT_NE(seen.window, nullptr);
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(seen.activeWhileOpen, ui.Recorder(0));
  EXPECT_EQ(ui.RecorderWindow(0), seen.window);
  ASSERT_NE(seen.cancelItem, nullptr);
  EXPECT_EQ(seen.itemFromHandler, seen.cancelItem);
  EXPECT_TRUE(seen.openAfterCodedOk) << "a command with a notification code does not end the dialog";
  EXPECT_EQ(ui.ActiveHandler(), nullptr) << "WM_DESTROY clears the handler";

  const std::vector<UiEvent> events = Events(ui.RecorderLog(0));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].hook, kHookInit) << "no hook runs before WM_INITDIALOG";
  EXPECT_FALSE(HasOther(events, WM_SETFONT)) << "WM_SETFONT comes before WM_INITDIALOG";
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const UiEvent& e) { return e.hook == kHookInit; }), 1);
  EXPECT_TRUE(HasCommand(events, 42));
  EXPECT_TRUE(HasCommand(events, IDOK));
  EXPECT_TRUE(HasCommand(events, IDCANCEL));
}

TEST_F(DialogProcedure, TemplateIdKeepsOnlyItsLow16Bits) {
  std::string caption;
  const int32_t result = Watched([&] { return ui.RunModal(0, 0x10000 + kOkCancelDialog); },
                                 [&](DWORD thread) {
                                   HWND window = WaitForDialog(thread, [](HWND w) { return GetDlgItem(w, IDOK); });
                                   if (!window) return;
                                   caption = WindowText(window);
                                   SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
                                 });
  EXPECT_EQ(caption, "Dialog") << "template 101's own caption, not RunModal's title";
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(ui.RunModal(0, 4242), -1);
}

// A WM_INITDIALOG without a handler: default handling, and OK still ends it.
TEST_F(DialogProcedure, DialogWithoutAHandlerStillEndsOnOk) {
  HWND window = nullptr;
  DialogHandler* activeWhileOpen = reinterpret_cast<DialogHandler*>(1);
  const INT_PTR result = Watched(
      [&] { return DialogBoxParamA(ui.handle, MAKEINTRESOURCEA(kOkCancelDialog), nullptr, ui.GenericProc, 0); },
      [&](DWORD thread) {
        window = WaitForDialog(thread, [](HWND w) { return GetDlgItem(w, IDOK); });
        if (!window) return;
        activeWhileOpen = ui.ActiveHandler();
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
      });
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(activeWhileOpen, nullptr);
  EXPECT_EQ(result, IDOK);
}

// Dialogs run inside the activation context of the module whose template they
// show: a module without a manifest gets the process default, and a module
// whose manifest cannot be made into a context gets -1 and no window. This
// test program carries both template 101 and such a manifest.
TEST_F(DialogProcedure, ModalRunNeedsAnActivationContextForTheTemplatesModule) {
  struct Case {
    const char* name;
    HINSTANCE instance;
    INT_PTR expected;
    bool shows;
  };
  for (const Case& c : {Case{"module without a manifest", ui.handle, IDOK, true},
                        Case{"program with a broken manifest", GetModuleHandleA(nullptr), -1, false}}) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(FindResourceA(c.instance, MAKEINTRESOURCEA(kOkCancelDialog), MAKEINTRESOURCEA(5)), nullptr);
    bool shown = false;
    const INT_PTR result = Watched([&] { return ui.ModuleDialogBoxParam(c.instance, kOkCancelDialog); },
                                   [&](DWORD thread) {
                                     HWND window = nullptr;
                                     WaitUntil(
                                         [&] {
                                           const auto open = ThreadDialogs(thread);
                                           if (!open.empty()) window = open.front();
                                           return window != nullptr;
                                         },
                                         c.shows ? kWaitMs : 500);
                                     shown = window != nullptr;
                                     if (window) SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
                                   });
    EXPECT_EQ(shown, c.shows);
    EXPECT_EQ(result, c.expected);
  }
}

// A dialog opened from a handler's hook takes the layer over; once it is
// gone the first dialog's hooks hear nothing more, but OK and Cancel still work.
TEST_F(DialogProcedure, NestedDialogTakesTheHandlerPointerOver) {
  constexpr int kOpenNested = 50;
  ui.RecorderNest(0, kOpenNested, 1, kOkCancelDialog);
  struct {
    HWND outer = nullptr, inner = nullptr;
    DialogHandler* activeInOuter = nullptr;
    DialogHandler* activeInInner = nullptr;
    DialogHandler* activeAfterInner = reinterpret_cast<DialogHandler*>(1);
  } seen;
  const int32_t result = Watched(
      [&] { return ui.RunModal(0, kOkCancelDialog); },
      [&](DWORD) {
        WaitUntil([&] { return ui.RecorderWindow(0) != nullptr; });
        seen.outer = ui.RecorderWindow(0);
        if (!seen.outer) return;
        seen.activeInOuter = ui.ActiveHandler();
        // Posted: the nested modal loop runs inside the handling of this command.
        PostMessageA(seen.outer, WM_COMMAND, MAKEWPARAM(kOpenNested, 0), 0);
        WaitUntil([&] { return ui.RecorderWindow(1) != nullptr && IsWindowVisible(ui.RecorderWindow(1)); });
        seen.inner = ui.RecorderWindow(1);
        if (!seen.inner) return;
        seen.activeInInner = ui.ActiveHandler();
        SendMessageA(seen.inner, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
        WaitUntil([&] { return !IsWindow(seen.inner); });
        seen.activeAfterInner = ui.ActiveHandler();
        SendMessageA(seen.outer, WM_COMMAND, MAKEWPARAM(77, 0), 0);
        SendMessageA(seen.outer, WM_CHAR, 'x', 0);
        SendMessageA(seen.outer, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
      });
  ASSERT_NE(seen.outer, nullptr);
  ASSERT_NE(seen.inner, nullptr);
  EXPECT_NE(seen.inner, seen.outer);
  EXPECT_EQ(seen.activeInOuter, ui.Recorder(0));
  EXPECT_EQ(seen.activeInInner, ui.Recorder(1));
  EXPECT_EQ(seen.activeAfterInner, nullptr);
  EXPECT_EQ(ui.RecorderNestResult(0), IDOK);
  EXPECT_EQ(result, IDCANCEL) << "the outer dialog's Cancel still ends it";

  const std::vector<UiEvent> outer = Events(ui.RecorderLog(0));
  EXPECT_TRUE(HasCommand(outer, kOpenNested));
  EXPECT_FALSE(HasCommand(outer, 77)) << "the outer hooks hear nothing after the nested dialog";
  EXPECT_FALSE(HasCommand(outer, IDCANCEL));
  EXPECT_FALSE(HasOther(outer, WM_CHAR));
  const std::vector<UiEvent> inner = Events(ui.RecorderLog(1));
  ASSERT_FALSE(inner.empty());
  EXPECT_EQ(inner[0].hook, kHookInit);
  EXPECT_TRUE(HasCommand(inner, IDOK));
}

struct Placement {
  const char* name;
  RECT owner;  // outer bounds of the owner window, in screen pixels
  bool systemMenu;
};

// Where the dialog must land for a given owner client area: a little left of
// centre (t), a third of the way down, kept inside the right and bottom edges.
POINT Expected(const RECT& client, int w, int h, bool systemMenu) {
  const int cx = GetSystemMetrics(SM_CXSIZE);
  const int t = systemMenu ? cx : cx - cx / 3;
  int x = client.left + std::max<int>(client.right - client.left - w, 0) / 2 - t;
  int y = client.top + std::max<int>(client.bottom - client.top - h, 0) / 3;
  const int screenW = GetSystemMetrics(SM_CXSCREEN);
  const int screenH = GetSystemMetrics(SM_CYSCREEN);
  if (x + w > screenW) x = std::max(screenW - w, 0);
  if (y + h > screenH) y = std::max(screenH - h, 0);
  return {x, y};
}

using Centring = UiTest;

TEST_F(Centring, PlacesTheDialogOverItsOwnersClientArea) {
  const int screenW = GetSystemMetrics(SM_CXSCREEN);
  const int screenH = GetSystemMetrics(SM_CYSCREEN);
  const std::vector<Placement> cases = {
      {"roomy owner, no system menu", {100, 80, 800, 600}, false},
      {"roomy owner, system menu", {100, 80, 800, 600}, true},
      {"owner narrower than the dialog", {300, 100, 400, 700}, false},
      {"owner partly off the left edge", {-500, 50, 200, 500}, true},
      {"owner past the right edge", {screenW - 200, 100, screenW + 600, 500}, false},
      {"owner past the bottom edge", {100, screenH - 120, 700, screenH + 500}, true},
  };
  for (const Placement& c : cases) {
    SCOPED_TRACE(c.name);
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE | WS_CAPTION, c.owner.left,
                                 c.owner.top, c.owner.right - c.owner.left, c.owner.bottom - c.owner.top, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    const DWORD style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | (c.systemMenu ? WS_SYSMENU : 0);
    HWND dialog = DialogTemplate(style, 189, 120).Create(owner);
    ASSERT_NE(dialog, nullptr);

    RECT client{};
    GetClientRect(owner, &client);
    MapWindowPoints(owner, nullptr, reinterpret_cast<POINT*>(&client), 2);
    RECT before{};
    GetWindowRect(dialog, &before);
    ui.CentreDialog(dialog);
    RECT after{};
    GetWindowRect(dialog, &after);

    const int w = before.right - before.left;
    const int h = before.bottom - before.top;
    EXPECT_EQ(after.right - after.left, w) << "the size stays";
    EXPECT_EQ(after.bottom - after.top, h);
    const POINT at = Expected(client, w, h, c.systemMenu);
    EXPECT_EQ(after.left, at.x);
    EXPECT_EQ(after.top, at.y);
    DestroyWindow(dialog);
    DestroyWindow(owner);
  }
}

TEST_F(Centring, DialogsWithoutASystemMenuSitAThirdOfAButtonFurtherRight) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 50, 50, 900, 600, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  int left[2] = {};
  for (int withMenu = 0; withMenu < 2; ++withMenu) {
    HWND dialog = DialogTemplate(WS_POPUP | WS_CAPTION | (withMenu ? WS_SYSMENU : 0), 189, 120).Create(owner);
    ASSERT_NE(dialog, nullptr);
    ui.CentreDialog(dialog);
    RECT r{};
    GetWindowRect(dialog, &r);
    left[withMenu] = r.left;
    DestroyWindow(dialog);
  }
  DestroyWindow(owner);
  EXPECT_EQ(left[0] - left[1], GetSystemMetrics(SM_CXSIZE) / 3);
}

}  // namespace
}  // namespace gm::test
