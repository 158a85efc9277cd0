// Thin wrappers over the controls of an open dialog: each operation is one
// message to the control's window, apart from the text read-outs and the
// radio group.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The item's window; the id is taken as a signed 16-bit value, so 65535 finds item -1.
HWND GetItemWindowById(HWND dialog, int itemId);

class DialogItem {
 public:
  DialogItem() = default;
  explicit DialogItem(HWND itemWindow) : window(itemWindow) {}
  HWND GetWindow() const { return window; }

 protected:
  HWND window = nullptr;
};

class TextItem : public DialogItem {
 public:
  using DialogItem::DialogItem;
  LRESULT SetText(const std::string& text) const;
  // Leaves out unchanged when the control is empty.
  void GetText(std::string& out) const;
};

class ComboBoxItem : public DialogItem {
 public:
  using DialogItem::DialogItem;
  LRESULT Clear() const;
  // Only the low 16 bits of index count, sign included: -1 clears the selection.
  LRESULT Select(int index) const;
  LRESULT Append(const std::string& text) const;
  // Leaves out unchanged when nothing is selected; an empty entry empties it.
  void GetSelectedText(std::string& out) const;
};

class ListBoxItem : public DialogItem {
 public:
  using DialogItem::DialogItem;
  LRESULT Clear() const;
  int32_t GetSelection() const;  // -1 when nothing is selected
  int32_t GetItemData(int index) const;
  LRESULT SetItemData(int index, int32_t value) const;
  LRESULT Select(int index) const;
  LRESULT Append(const std::string& text) const;
  // Leaves out unchanged without a selection or for an empty entry.
  void GetSelectedText(std::string& out) const;
};

class CheckBoxItem : public DialogItem {
 public:
  using DialogItem::DialogItem;
  LRESULT SetChecked(bool checked) const;
  // An indeterminate box does not count as checked.
  bool IsChecked() const;
};

// Buttons first..last of one dialog, both ends included. An id of -1 or a null
// window leaves the group unset: it then checks nothing and answers -1.
class RadioButtonGroup {
 public:
  RadioButtonGroup() = default;
  RadioButtonGroup(int32_t firstId, int32_t lastId, HWND dialog) : first(firstId), last(lastId), window(dialog) {}

  void Check(int32_t itemId) const;
  // The first button of the group that is checked, or -1.
  int32_t GetChecked() const;

  int32_t first = -1;
  int32_t last = -1;
  HWND window = nullptr;

 private:
  bool IsUnset() const { return first == -1 || last == -1 || !window; }
};
