#include "ui/Dialogs.h"

#include <algorithm>
#include <memory>
#include <string>

#include "abi/Suites.h"
#include "product/Product.h"
#include "support/ModuleInstance.h"
#include "support/SuiteHolder.h"

DialogHandler* activeDialogHandler = nullptr;

const char kNoBrowserText[] = "This host cannot open web addresses.";

DialogHandler::~DialogHandler() = default;
void DialogHandler::OnInit() {}
void DialogHandler::OnItemCommand(int) {}
void DialogHandler::OnOtherMessage(UINT, WPARAM, LPARAM) {}

HWND DialogHandler::GetItemWindow(int itemId) const { return GetDlgItem(dialogWindow, itemId); }

int32_t DialogHandler::RunModal(void* plugin, const char* /*title*/, int32_t templateId) {
  dialogId = templateId;
  pluginRef = plugin;
  const INT_PTR result =
      ModuleDialogBoxParam(GetModuleInstance(nullptr), MAKEINTRESOURCEA(templateId & 0xFFFF), GetActiveWindow(),
                           GenericProc, reinterpret_cast<LPARAM>(this));
  return static_cast<int32_t>(result);
}

// The module has no manifest of its own, so its context is the one a manifest
// resource (id 2) would give it, or else the process default context (the null
// handle). Controls then come from the host's comctl32 choice, not from
// whatever context happens to be active in the host's call stack.
INT_PTR ModuleDialogBoxParam(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                             LPARAM parameter) {
  ACTCTXA request{};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.hModule = instance;
  request.lpResourceName = MAKEINTRESOURCEA(2);
  HANDLE context = CreateActCtxA(&request);
  if (context == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_RESOURCE_TYPE_NOT_FOUND && error != ERROR_RESOURCE_NAME_NOT_FOUND &&
        error != ERROR_RESOURCE_DATA_NOT_FOUND) {
      return -1;  // a manifest that does not load, or no module at all
    }
    context = nullptr;
  }
  ULONG_PTR cookie = 0;
  if (!ActivateActCtx(context, &cookie)) {
    if (context) ReleaseActCtx(context);
    return -1;
  }
  const INT_PTR result = DialogBoxParamA(instance, templateName, owner, procedure, parameter);
  DeactivateActCtx(0, cookie);
  if (context) ReleaseActCtx(context);
  return result;
}

namespace {
// No C++ exception may unwind through the window system's frames: a handler
// that raises anyway loses that one event instead of taking the host down.
template <typename Hook>
void CallHook(Hook hook) {
  try {
    hook();
  } catch (...) {
  }
}
}  // namespace

extern "C" INT_PTR CALLBACK GenericProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      activeDialogHandler = nullptr;
      return FALSE;
    case WM_INITDIALOG: {
      CentreDialog(dialog);
      activeDialogHandler = reinterpret_cast<DialogHandler*>(lParam);
      if (!activeDialogHandler) return FALSE;
      activeDialogHandler->SetDialogWindow(dialog);
      CallHook([] { activeDialogHandler->OnInit(); });
      return TRUE;
    }
    case WM_COMMAND: {
      const int itemId = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (activeDialogHandler) CallHook([itemId] { activeDialogHandler->OnItemCommand(itemId); });
      if ((itemId == IDOK || itemId == IDCANCEL) && code == 0) EndDialog(dialog, itemId);
      return TRUE;
    }
    default:
      if (activeDialogHandler) {
        CallHook([&] { activeDialogHandler->OnOtherMessage(message, wParam, lParam); });
      } else {
        DefWindowProcA(dialog, message, wParam, lParam);
      }
      return FALSE;
  }
}

void CentreDialog(HWND dialog) {
  HWND parent = GetParent(dialog);
  if (!parent) parent = GetDesktopWindow();

  RECT client{};
  GetClientRect(parent, &client);
  POINT topLeft{client.left, client.top};
  POINT bottomRight{client.right, client.bottom};
  ClientToScreen(parent, &topLeft);
  ClientToScreen(parent, &bottomRight);

  // Dialogs without a system menu have a narrower title bar to allow for.
  int32_t t = GetSystemMetrics(SM_CXSIZE);
  if (!(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU)) t -= t / 3;

  RECT bounds{};
  GetWindowRect(dialog, &bounds);
  const int32_t w = bounds.right - bounds.left;
  const int32_t h = bounds.bottom - bounds.top;

  int32_t x = topLeft.x + std::max<int32_t>(bottomRight.x - topLeft.x - w, 0) / 2 - t;
  const int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
  if (x + w > screenWidth) x = std::max<int32_t>(screenWidth - w, 0);
  int32_t y = topLeft.y + std::max<int32_t>(bottomRight.y - topLeft.y - h, 0) / 3;
  const int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (y + h > screenHeight) y = std::max<int32_t>(screenHeight - h, 0);

  SetWindowPos(dialog, nullptr, x, y, w, h, SWP_NOZORDER);
}

AboutBoxHandler::~AboutBoxHandler() = default;

void AboutBoxHandler::OnInit() {
  char text[256] = {};
  LoadStringA(GetModuleInstance(nullptr), static_cast<UINT>(dialogId), text, 255);
  SetDlgItemTextA(dialogWindow, 3, text);
}

void AboutBoxHandler::OnItemCommand(int itemId) {
  if (itemId != 4 && itemId != 5) return;
  // A host without the file-list suite (or without any basic suite) makes the
  // buffer or the suite raise here, inside the window system's callback: the
  // box stays open and says plainly that the address cannot be opened.
  // A host that answers with an empty table is told the same way.
  bool asked = false;
  try {
    const std::unique_ptr<char[]> caption(new char[256]);
    caption[0] = '\0';
    GetDlgItemTextA(dialogWindow, itemId, caption.get(), 256);
    const std::string address = std::string("http://") + caption.get();
    const auto* fileList = static_cast<const GetFileListSuite*>(getFileListSuite.Get());
    if (fileList && fileList->BrowseUrl) {
      fileList->BrowseUrl(address.c_str());
      asked = true;
    }
  } catch (...) {
  }
  if (!asked) {
    MessageBeep(MB_ICONWARNING);
    MessageBoxA(dialogWindow, kNoBrowserText, GM_PRODUCT_NAME, MB_OK | MB_ICONWARNING);
  }
}

void AboutBoxHandler::OnOtherMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_CHAR) {
    const unsigned character = wParam & 0xFF;
    if (character == 27 || character == 13) EndDialog(dialogWindow, 0);
  } else if (message == WM_LBUTTONDOWN) {
    EndDialog(dialogWindow, 0);
  }
}

int32_t ShowAboutBox(void* /*context*/, int32_t templateId) {
  AboutBoxHandler handler;
  return handler.RunModal(nullptr, "Generic About Box", templateId);
}
