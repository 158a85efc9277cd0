// Modal dialogs beside the filter: one exported dialog procedure that hands a
// dialog's events to a handler object, centring over the owner window, and the
// about box. The filter path never enters this layer.
#pragma once

#include <windows.h>

#include <cstdint>

class DialogHandler {
 public:
  DialogHandler() = default;
  virtual ~DialogHandler();
  DialogHandler(const DialogHandler&) = delete;
  DialogHandler& operator=(const DialogHandler&) = delete;

  // Hooks the dialog procedure calls while this handler's dialog is served.
  virtual void OnInit();
  virtual void OnItemCommand(int itemId);
  virtual void OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam);

  // Runs template dialogId (its low 16 bits) of the module as a modal dialog
  // owned by the active window. Returns the value the dialog ended with, or -1
  // when it could not be run. The title is not used: the template's caption shows.
  virtual int32_t RunModal(void* plugin, const char* title, int32_t templateId);

  HWND GetDialogWindow() const { return dialogWindow; }
  void SetDialogWindow(HWND window) { dialogWindow = window; }
  int32_t GetDialogId() const { return dialogId; }
  HWND GetItemWindow(int itemId) const;

 protected:
  int32_t dialogId = 0;
  HWND dialogWindow = nullptr;
  void* pluginRef = nullptr;
};

// Shows dialog templateId with string templateId in item 3; items 4 and 5 ask
// the host to open "http://" plus their caption; a click, Esc or Enter closes it.
class AboutBoxHandler : public DialogHandler {
 public:
  ~AboutBoxHandler() override;
  void OnInit() override;
  void OnItemCommand(int itemId) override;
  void OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// The handler whose dialog is being served; null when none. Not owned.
extern DialogHandler* activeDialogHandler;

extern "C" INT_PTR CALLBACK GenericProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Places the dialog over its parent's client area: a little left of centre, a
// third of the way down, kept inside the screen's right and bottom edges.
void CentreDialog(HWND dialog);

// Runs the about dialog; context is not read.
int32_t ShowAboutBox(void* context, int32_t templateId);

// DialogBoxParamA inside the module's activation context; -1, and nothing
// shown, when that context cannot be activated.
INT_PTR ModuleDialogBoxParam(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                             LPARAM parameter);

// Told to the user when the host cannot open an about-box address.
extern const char kNoBrowserText[];

