// The dialog item wrappers against a real dialog holding one control of each
// kind, built in memory so that the shipped module carries no test template.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/wine/ui_harness.h"

namespace gm::test {
namespace {

enum : WORD { kFirstRadio = 10, kMiddleRadio = 11, kLastRadio = 12, kCombo = 20, kList = 21, kEdit = 22, kCheck = 23 };

class DialogItems : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    if (HasFatalFailure()) return;
    DialogTemplate t(WS_POPUP | WS_CAPTION, 240, 200);
    t.Add(DialogTemplate::kButton, kFirstRadio, BS_AUTORADIOBUTTON | WS_GROUP, 5, 5, 60, 12, L"first")
        .Add(DialogTemplate::kButton, kMiddleRadio, BS_AUTORADIOBUTTON, 5, 20, 60, 12, L"middle")
        .Add(DialogTemplate::kButton, kLastRadio, BS_AUTORADIOBUTTON, 5, 35, 60, 12, L"last")
        .Add(DialogTemplate::kComboBox, kCombo, CBS_DROPDOWNLIST | WS_VSCROLL | WS_GROUP, 80, 5, 100, 80)
        .Add(DialogTemplate::kListBox, kList, LBS_NOTIFY | WS_VSCROLL | WS_BORDER, 80, 30, 100, 60)
        .Add(DialogTemplate::kEdit, kEdit, ES_AUTOHSCROLL | WS_BORDER, 80, 100, 100, 14)
        .Add(DialogTemplate::kButton, kCheck, BS_AUTO3STATE, 5, 60, 60, 12, L"check");
    dialog = t.Create();
    ASSERT_NE(dialog, nullptr) << "test dialog not created: error " << GetLastError();
    // Id -1 with all 32 bits set, as the window system keeps it (a template holds only 16).
    ASSERT_NE(CreateWindowExA(0, "STATIC", "label", WS_CHILD | WS_VISIBLE, 5, 200, 60, 12, dialog,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1)), nullptr, nullptr),
              nullptr);
  }
  void TearDown() override {
    if (dialog) DestroyWindow(dialog);
    UiTest::TearDown();
  }
  HWND Item(int id) const { return GetDlgItem(dialog, id); }

  // A read-out into a string that held `before`.
  using Reader = ui_exports::ReadText;
  std::string Read(Reader read, int id, const char* before) const {
    char after[2048] = {};
    read(Item(id), before, after, sizeof after);
    return after;
  }

  HWND dialog = nullptr;
};

TEST_F(DialogItems, LookupsTakeTheIdAsASigned16BitValue) {
  struct Case {
    int id;
    int expected;
  };
  for (const Case& c : {Case{kCombo, kCombo}, Case{65535, -1}, Case{-1, -1}, Case{0x10000 + kEdit, kEdit},
                        Case{0x7FFF, 0x7FFF}}) {
    SCOPED_TRACE(c.id);
    HWND expected = c.expected == 0x7FFF ? nullptr : GetDlgItem(dialog, c.expected);
    if (c.expected != 0x7FFF) {
      ASSERT_NE(expected, nullptr);
    }
    EXPECT_EQ(ui.ItemWindowById(dialog, c.id), expected);
  }
  EXPECT_EQ(WindowText(ui.ItemWindowById(dialog, 65535)), "label");
}

TEST_F(DialogItems, ComboBoxSelectsByTheLow16BitsOfTheIndex) {
  HWND combo = Item(kCombo);
  for (int i = 0; i < 4470; ++i) ASSERT_EQ(ui.ComboAppend(combo, ("entry " + std::to_string(i)).c_str()), i);
  struct Case {
    int index;
    intptr_t selected;  // what the control reports afterwards
  };
  for (const Case& c : {Case{3, 3}, Case{70000, 4464}, Case{-1, CB_ERR}, Case{65536 + 7, 7}, Case{65535, CB_ERR}}) {
    SCOPED_TRACE(c.index);
    ui.ComboSelect(combo, c.index);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), c.selected);
  }
  ui.ComboClear(combo);
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 0);
}

TEST_F(DialogItems, ComboBoxSelectedTextFillsTheStringOnlyWithASelection) {
  HWND combo = Item(kCombo);
  ui.ComboAppend(combo, "alpha");
  ui.ComboAppend(combo, "");
  ui.ComboAppend(combo, std::string(300, 'z').c_str());
  struct Case {
    const char* name;
    int select;
    std::string expected;
  };
  for (const Case& c : {Case{"no selection", -1, "kept"}, Case{"an entry", 0, "alpha"},
                        Case{"an empty entry", 1, ""}, Case{"a long entry", 2, std::string(300, 'z')}}) {
    SCOPED_TRACE(c.name);
    ui.ComboSelect(combo, c.select);
    EXPECT_EQ(Read(ui.ComboGetSelectedText, kCombo, "kept"), c.expected);
  }
}

TEST_F(DialogItems, ListBoxPassesTheIndexWholeAndKeepsItemData) {
  HWND list = Item(kList);
  EXPECT_EQ(ui.ListGetSelection(list), -1);
  for (const char* text : {"one", "", "three"}) ui.ListAppend(list, text);
  EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 3);

  EXPECT_EQ(ui.ListSelect(list, 2), 2);
  EXPECT_EQ(ui.ListGetSelection(list), 2);
  EXPECT_EQ(ui.ListSelect(list, 65536 + 1), LB_ERR) << "no 16-bit truncation for list boxes";
  EXPECT_NE(ui.ListGetSelection(list), 1);

  struct Case {
    int index;
    int32_t value;
  };
  for (const Case& c : {Case{0, 0x12345678}, Case{1, -5}, Case{2, INT32_MIN}}) {
    SCOPED_TRACE(c.index);
    EXPECT_NE(ui.ListSetItemData(list, c.index, c.value), LB_ERR);
    EXPECT_EQ(ui.ListGetItemData(list, c.index), c.value);
  }
  EXPECT_EQ(ui.ListGetItemData(list, 99), LB_ERR);
  ui.ListClear(list);
  EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(DialogItems, ListBoxSelectedTextLeavesTheStringForNoSelectionOrAnEmptyEntry) {
  HWND list = Item(kList);
  for (const char* text : {"first entry", ""}) ui.ListAppend(list, text);
  struct Case {
    const char* name;
    int select;
    std::string expected;
  };
  for (const Case& c : {Case{"no selection", -1, "kept"}, Case{"an entry", 0, "first entry"},
                        Case{"an empty entry", 1, "kept"}}) {
    SCOPED_TRACE(c.name);
    ui.ListSelect(list, c.select);
    EXPECT_EQ(Read(ui.ListGetSelectedText, kList, "kept"), c.expected);
  }
}

TEST_F(DialogItems, TextFieldReadsWholeTextAndLeavesTheStringWhenEmpty) {
  HWND edit = Item(kEdit);
  EXPECT_EQ(Read(ui.TextGet, kEdit, "kept"), "kept") << "empty field";
  for (const std::string& text : {std::string("x"), std::string("hello world"), std::string(1500, 'q')}) {
    SCOPED_TRACE(text.size());
    EXPECT_EQ(ui.TextSet(edit, text.c_str()), TRUE);
    EXPECT_EQ(Read(ui.TextGet, kEdit, "kept"), text);
  }
  ui.TextSet(edit, "");
  EXPECT_EQ(Read(ui.TextGet, kEdit, "kept"), "kept");
}

TEST_F(DialogItems, CheckBoxCountsOnlyAPlainCheck) {
  HWND check = Item(kCheck);
  struct Case {
    WPARAM state;
    int expected;
  };
  for (const Case& c : {Case{BST_CHECKED, 1}, Case{BST_UNCHECKED, 0}, Case{BST_INDETERMINATE, 0}}) {
    SCOPED_TRACE(c.state);
    SendMessageA(check, BM_SETCHECK, c.state, 0);
    EXPECT_EQ(ui.CheckIsChecked(check), c.expected);
  }
  ui.CheckSet(check, 1);
  EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_CHECKED);
  ui.CheckSet(check, 0);
  EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(DialogItems, RadioGroupChecksOnlyInsideItsRange) {
  auto checked = [&] {
    std::string marks;
    for (int id = kFirstRadio; id <= kLastRadio; ++id) marks += IsDlgButtonChecked(dialog, id) ? '1' : '0';
    return marks;
  };
  struct Case {
    int32_t id;
    std::string marks;  // first, middle, last afterwards
  };
  for (const Case& c : {Case{kMiddleRadio, "010"}, Case{kFirstRadio - 1, "010"}, Case{kLastRadio + 1, "010"},
                        Case{kLastRadio, "001"}, Case{kFirstRadio, "100"}}) {
    SCOPED_TRACE(c.id);
    ui.RadioCheck(kFirstRadio, kLastRadio, dialog, c.id);
    EXPECT_EQ(checked(), c.marks);
  }
  EXPECT_EQ(ui.RadioGetChecked(kFirstRadio, kLastRadio, dialog), kFirstRadio);

  // Two checked at once (set behind the group's back): the first one counts.
  CheckDlgButton(dialog, kFirstRadio, BST_UNCHECKED);
  CheckDlgButton(dialog, kMiddleRadio, BST_CHECKED);
  CheckDlgButton(dialog, kLastRadio, BST_CHECKED);
  EXPECT_EQ(ui.RadioGetChecked(kFirstRadio, kLastRadio, dialog), kMiddleRadio);
  CheckDlgButton(dialog, kMiddleRadio, BST_UNCHECKED);
  CheckDlgButton(dialog, kLastRadio, BST_UNCHECKED);
  EXPECT_EQ(ui.RadioGetChecked(kFirstRadio, kLastRadio, dialog), -1) << "none checked";
}

TEST_F(DialogItems, UnsetRadioGroupChecksNothingAndAnswersMinusOne) {
  CheckDlgButton(dialog, kMiddleRadio, BST_CHECKED);
  struct Case {
    const char* name;
    int32_t first, last;
    bool window;
  };
  for (const Case& c : {Case{"first -1", -1, kLastRadio, true}, Case{"last -1", kFirstRadio, -1, true},
                        Case{"no window", kFirstRadio, kLastRadio, false},
                        Case{"first after last", kLastRadio, kFirstRadio, true}}) {
    SCOPED_TRACE(c.name);
    HWND window = c.window ? dialog : nullptr;
    ui.RadioCheck(c.first, c.last, window, kLastRadio);
    EXPECT_EQ(IsDlgButtonChecked(dialog, kLastRadio), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dialog, kMiddleRadio), BST_CHECKED);
    EXPECT_EQ(ui.RadioGetChecked(c.first, c.last, window), -1);
  }
}

}  // namespace
}  // namespace gm::test
