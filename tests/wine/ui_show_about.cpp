// Opens the about box of the dialog layer's test module and keeps it open for
// a screenshot (scripts/screenshot-about):
//   ui_show_about MODULE READY_FILE DONE_FILE
// writes "x y width height" of the box to READY_FILE once it shows, then
// closes it when DONE_FILE appears, or after 60 seconds.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <thread>

namespace {

HWND FindAboutBox(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM out) -> BOOL {
        if (IsWindowVisible(window) && GetDlgItem(window, 3) && GetDlgItem(window, 4)) {
          *reinterpret_cast<HWND*>(out) = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: ui_show_about MODULE READY_FILE DONE_FILE\n");
    return 2;
  }
  // Unmanaged, wine draws the frame and title bar itself, as Windows would;
  // Xvfb has no window manager to draw them.
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\ui_show_about.exe\\X11 Driver", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
  }

  HMODULE module = LoadLibraryA(argv[1]);
  if (!module) {
    std::fprintf(stderr, "ui_show_about: %s: cannot load the module (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  using ShowAboutBox = int32_t (*)(void*, int32_t);
  auto show = reinterpret_cast<ShowAboutBox>(reinterpret_cast<void*>(GetProcAddress(module, "UiShowAboutBox")));
  if (!show) {
    std::fprintf(stderr, "ui_show_about: %s: no UiShowAboutBox export\n", argv[1]);
    return 1;
  }

  const DWORD thread = GetCurrentThreadId();
  std::thread watcher([&] {
    HWND box = nullptr;
    for (int i = 0; i < 1000 && !box; ++i, Sleep(10)) box = FindAboutBox(thread);
    if (!box) return;
    Sleep(500);  // let it paint
    RECT r{};
    GetWindowRect(box, &r);
    if (std::FILE* ready = std::fopen(argv[2], "wb")) {
      std::fprintf(ready, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      std::fclose(ready);
    }
    for (int i = 0; i < 6000 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
    SendMessageA(box, WM_CHAR, 27, 0);
  });
  const int32_t result = show(nullptr, 16000);
  watcher.join();
  FreeLibrary(module);
  return result == 0 ? 0 : 1;
}
