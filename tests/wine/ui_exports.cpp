// Test-only exports of the dialog layer's test module: the module's own code
// reached from a test program through plain C functions, and a handler that
// records the hooks the dialog procedure calls.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "entry/Entry.h"
#include "support/SuiteHolder.h"
#include "tests/wine/ui_exports.h"
#include "ui/DialogItems.h"
#include "ui/Dialogs.h"

namespace {

class RecordingHandler : public DialogHandler {
 public:
  void OnInit() override { Add(kHookInit, 0, 0, 0); }
  void OnItemCommand(int itemId) override {
    Add(kHookCommand, static_cast<uint32_t>(itemId), 0, 0);
    if (itemId == nestOn && nested) nestResult = nested->RunModal(nullptr, "Nested", nestTemplate);
  }
  void OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    Add(kHookOther, message, wParam, lParam);
  }

  UiLog log{};
  int32_t nestOn = -1;
  int32_t nestTemplate = 0;
  int32_t nestResult = 0;
  RecordingHandler* nested = nullptr;

 private:
  void Add(int32_t hook, uint32_t message, WPARAM wParam, LPARAM lParam) {
    if (log.count >= kUiLogCapacity) return;
    log.events[log.count++] = UiEvent{hook, message, static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam)};
  }
};

RecordingHandler recorders[2];

RecordingHandler* Recorder(int32_t which) { return which == 0 || which == 1 ? &recorders[which] : nullptr; }

// A std::string in and out of a read-out, so that "left unchanged" is visible.
template <typename Item>
int32_t ReadInto(const Item& item, void (Item::*read)(std::string&) const, const char* before, char* after,
                 int32_t capacity) {
  std::string out = before;
  (item.*read)(out);
  if (capacity > 0) {
    const size_t n = std::min<size_t>(out.size(), static_cast<size_t>(capacity) - 1);
    std::memcpy(after, out.data(), n);
    after[n] = '\0';
  }
  return static_cast<int32_t>(out.size());
}

}  // namespace

extern "C" {

SPBasicSuite* UiHostBasicSuite() { return hostBasicSuite; }
void UiReleaseAllSuites() { ReleaseAllSuites(); }

int32_t UiShowAboutBox(void* context, int32_t templateId) { return ShowAboutBox(context, templateId); }
void UiCentreDialog(HWND dialog) { CentreDialog(dialog); }
DialogHandler* UiActiveHandler() { return activeDialogHandler; }
void UiSetActiveHandler(DialogHandler* handler) { activeDialogHandler = handler; }

DialogHandler* UiRecorder(int32_t which) { return Recorder(which); }
const UiLog* UiRecorderLog(int32_t which) { return Recorder(which) ? &Recorder(which)->log : nullptr; }
HWND UiRecorderWindow(int32_t which) { return Recorder(which) ? Recorder(which)->GetDialogWindow() : nullptr; }
void UiRecorderReset(int32_t which) {
  if (RecordingHandler* r = Recorder(which)) {
    r->log = UiLog{};
    r->nestOn = -1;
    r->nested = nullptr;
    r->nestResult = 0;
    r->SetDialogWindow(nullptr);
  }
}
// Item command itemId sent to recorder outer opens template templateId for recorder inner.
void UiRecorderNest(int32_t outer, int32_t itemId, int32_t inner, int32_t templateId) {
  if (RecordingHandler* r = Recorder(outer)) {
    r->nestOn = itemId;
    r->nested = Recorder(inner);
    r->nestTemplate = templateId;
  }
}
int32_t UiRecorderNestResult(int32_t outer) { return Recorder(outer) ? Recorder(outer)->nestResult : 0; }
int32_t UiRunModal(int32_t which, int32_t templateId) {
  return Recorder(which) ? Recorder(which)->RunModal(nullptr, "Recorded", templateId) : -2;
}
HWND UiHandlerItemWindow(int32_t which, int32_t itemId) {
  return Recorder(which) ? Recorder(which)->GetItemWindow(itemId) : nullptr;
}

intptr_t UiModuleDialogBoxParam(HINSTANCE instance, int32_t templateId) {
  return ModuleDialogBoxParam(instance, MAKEINTRESOURCEA(templateId), nullptr, GenericProc, 0);
}

HWND UiItemWindowById(HWND dialog, int32_t itemId) { return GetItemWindowById(dialog, itemId); }

intptr_t UiTextSet(HWND item, const char* text) { return TextItem(item).SetText(text); }
int32_t UiTextGet(HWND item, const char* before, char* after, int32_t capacity) {
  return ReadInto(TextItem(item), &TextItem::GetText, before, after, capacity);
}

intptr_t UiComboClear(HWND item) { return ComboBoxItem(item).Clear(); }
intptr_t UiComboSelect(HWND item, int32_t index) { return ComboBoxItem(item).Select(index); }
intptr_t UiComboAppend(HWND item, const char* text) { return ComboBoxItem(item).Append(text); }
int32_t UiComboGetSelectedText(HWND item, const char* before, char* after, int32_t capacity) {
  return ReadInto(ComboBoxItem(item), &ComboBoxItem::GetSelectedText, before, after, capacity);
}

intptr_t UiListClear(HWND item) { return ListBoxItem(item).Clear(); }
int32_t UiListGetSelection(HWND item) { return ListBoxItem(item).GetSelection(); }
int32_t UiListGetItemData(HWND item, int32_t index) { return ListBoxItem(item).GetItemData(index); }
intptr_t UiListSetItemData(HWND item, int32_t index, int32_t value) {
  return ListBoxItem(item).SetItemData(index, value);
}
intptr_t UiListSelect(HWND item, int32_t index) { return ListBoxItem(item).Select(index); }
intptr_t UiListAppend(HWND item, const char* text) { return ListBoxItem(item).Append(text); }
int32_t UiListGetSelectedText(HWND item, const char* before, char* after, int32_t capacity) {
  return ReadInto(ListBoxItem(item), &ListBoxItem::GetSelectedText, before, after, capacity);
}

intptr_t UiCheckSet(HWND item, int32_t checked) { return CheckBoxItem(item).SetChecked(checked != 0); }
int32_t UiCheckIsChecked(HWND item) { return CheckBoxItem(item).IsChecked() ? 1 : 0; }

void UiRadioCheck(int32_t first, int32_t last, HWND dialog, int32_t itemId) {
  RadioButtonGroup(first, last, dialog).Check(itemId);
}
int32_t UiRadioGetChecked(int32_t first, int32_t last, HWND dialog) {
  return RadioButtonGroup(first, last, dialog).GetChecked();
}

}  // extern "C"
