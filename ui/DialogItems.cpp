#include "ui/DialogItems.h"

#include <vector>

namespace {
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendMessageA(window, message, wParam, lParam);
}
LPARAM TextArgument(const std::string& text) { return reinterpret_cast<LPARAM>(text.c_str()); }
WPARAM SignedArgument(int value) { return static_cast<WPARAM>(static_cast<INT_PTR>(value)); }
}  // namespace

HWND GetItemWindowById(HWND dialog, int itemId) { return GetDlgItem(dialog, static_cast<int16_t>(itemId)); }

LRESULT TextItem::SetText(const std::string& text) const { return Send(window, WM_SETTEXT, 0, TextArgument(text)); }

void TextItem::GetText(std::string& out) const {
  const LRESULT length = Send(window, WM_GETTEXTLENGTH);
  if (length <= 0) return;
  std::vector<char> buffer(static_cast<size_t>(length) + 2, '\0');
  Send(window, WM_GETTEXT, static_cast<WPARAM>(length) + 1, reinterpret_cast<LPARAM>(buffer.data()));
  out.assign(buffer.data(), static_cast<size_t>(length));
}

LRESULT ComboBoxItem::Clear() const { return Send(window, CB_RESETCONTENT); }

LRESULT ComboBoxItem::Select(int index) const {
  return Send(window, CB_SETCURSEL, SignedArgument(static_cast<int16_t>(index)));
}

LRESULT ComboBoxItem::Append(const std::string& text) const {
  return Send(window, CB_ADDSTRING, 0, TextArgument(text));
}

void ComboBoxItem::GetSelectedText(std::string& out) const {
  const LRESULT selection = Send(window, CB_GETCURSEL);
  if (selection == CB_ERR) return;
  const LRESULT length = Send(window, CB_GETLBTEXTLEN, static_cast<WPARAM>(selection));
  if (length < 0) return;
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  Send(window, CB_GETLBTEXT, static_cast<WPARAM>(selection), reinterpret_cast<LPARAM>(buffer.data()));
  out.assign(buffer.data(), static_cast<size_t>(length));
}

LRESULT ListBoxItem::Clear() const { return Send(window, LB_RESETCONTENT); }

int32_t ListBoxItem::GetSelection() const { return static_cast<int32_t>(Send(window, LB_GETCURSEL)); }

int32_t ListBoxItem::GetItemData(int index) const {
  return static_cast<int32_t>(Send(window, LB_GETITEMDATA, SignedArgument(index)));
}

LRESULT ListBoxItem::SetItemData(int index, int32_t value) const {
  return Send(window, LB_SETITEMDATA, SignedArgument(index), static_cast<LPARAM>(value));
}

LRESULT ListBoxItem::Select(int index) const { return Send(window, LB_SETCURSEL, SignedArgument(index)); }

LRESULT ListBoxItem::Append(const std::string& text) const {
  return Send(window, LB_ADDSTRING, 0, TextArgument(text));
}

void ListBoxItem::GetSelectedText(std::string& out) const {
  const int32_t selection = GetSelection();
  // Asked even without a selection: the control answers that with an error.
  const LRESULT length = Send(window, LB_GETTEXTLEN, SignedArgument(selection));
  if (length <= 0) return;
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  Send(window, LB_GETTEXT, SignedArgument(selection), reinterpret_cast<LPARAM>(buffer.data()));
  out.assign(buffer.data(), static_cast<size_t>(length));
}

LRESULT CheckBoxItem::SetChecked(bool checked) const { return Send(window, BM_SETCHECK, checked ? 1 : 0); }

bool CheckBoxItem::IsChecked() const { return Send(window, BM_GETCHECK) == BST_CHECKED; }

void RadioButtonGroup::Check(int32_t itemId) const {
  if (IsUnset() || itemId < first || itemId > last) return;
  CheckRadioButton(window, first, last, itemId);
}

int32_t RadioButtonGroup::GetChecked() const {
  if (IsUnset() || first > last) return -1;
  for (int32_t id = first;; ++id) {
    if (IsDlgButtonChecked(window, id) == BST_CHECKED) return id;
    if (id == last) return -1;  // stops before the id could wrap past the largest int
  }
}
