#include "tests/wine/ui_harness.h"

#include <vector>

namespace gm::test {

std::vector<std::string> browsedAddresses;
std::atomic<int> browseCalls{0};

namespace {
// Without a window manager (Xvfb alone) wine waits two seconds for one at every
// window that closes, unless its windows are unmanaged. Set for this program
// only, before its first window loads wine's X11 driver.
struct UnmanagedWindows {
  UnmanagedWindows() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\ui_test.exe\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
      RegCloseKey(key);
    }
  }
} unmanagedWindows;

int16_t RecordBrowse(const char* address) {
  browsedAddresses.emplace_back(address ? address : "(null)");
  ++browseCalls;
  return 0;
}

template <typename F>
void Bind(HMODULE module, const char* name, F& function, std::vector<std::string>& missing) {
  function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (!function) missing.emplace_back(name);
}
}  // namespace

const FileListTable kFileListTable{nullptr, nullptr, nullptr, RecordBrowse};
const FileListTable kFileListWithoutBrowse{nullptr, nullptr, nullptr, nullptr};

void UiTest::SetUp() {
  browsedAddresses.clear();
  browseCalls = 0;
  const std::string path = WinePath(GM_MODULE_GLYPHMOSAICUITEST);
  ui.handle = LoadLibraryA(path.c_str());
  ASSERT_NE(ui.handle, nullptr) << "LoadLibrary failed on " << path << ": error " << GetLastError();
  HMODULE m = ui.handle;
  auto& x = ui.missing;
  Bind(m, "PluginMain", ui.PluginMain, x);
  Bind(m, "GenericProc", ui.GenericProc, x);
  Bind(m, "UiHostBasicSuite", ui.HostBasicSuite, x);
  Bind(m, "UiShowAboutBox", ui.ShowAboutBox, x);
  Bind(m, "UiCentreDialog", ui.CentreDialog, x);
  Bind(m, "UiActiveHandler", ui.ActiveHandler, x);
  Bind(m, "UiSetActiveHandler", ui.SetActiveHandler, x);
  Bind(m, "UiRecorder", ui.Recorder, x);
  Bind(m, "UiRecorderLog", ui.RecorderLog, x);
  Bind(m, "UiRecorderWindow", ui.RecorderWindow, x);
  Bind(m, "UiRecorderNest", ui.RecorderNest, x);
  Bind(m, "UiRecorderNestResult", ui.RecorderNestResult, x);
  Bind(m, "UiRunModal", ui.RunModal, x);
  Bind(m, "UiHandlerItemWindow", ui.HandlerItemWindow, x);
  Bind(m, "UiModuleDialogBoxParam", ui.ModuleDialogBoxParam, x);
  Bind(m, "UiItemWindowById", ui.ItemWindowById, x);
  Bind(m, "UiTextSet", ui.TextSet, x);
  Bind(m, "UiTextGet", ui.TextGet, x);
  Bind(m, "UiComboClear", ui.ComboClear, x);
  Bind(m, "UiComboSelect", ui.ComboSelect, x);
  Bind(m, "UiComboAppend", ui.ComboAppend, x);
  Bind(m, "UiComboGetSelectedText", ui.ComboGetSelectedText, x);
  Bind(m, "UiListClear", ui.ListClear, x);
  Bind(m, "UiListGetSelection", ui.ListGetSelection, x);
  Bind(m, "UiListGetItemData", ui.ListGetItemData, x);
  Bind(m, "UiListSetItemData", ui.ListSetItemData, x);
  Bind(m, "UiListSelect", ui.ListSelect, x);
  Bind(m, "UiListAppend", ui.ListAppend, x);
  Bind(m, "UiListGetSelectedText", ui.ListGetSelectedText, x);
  Bind(m, "UiCheckSet", ui.CheckSet, x);
  Bind(m, "UiCheckIsChecked", ui.CheckIsChecked, x);
  Bind(m, "UiRadioCheck", ui.RadioCheck, x);
  Bind(m, "UiRadioGetChecked", ui.RadioGetChecked, x);
  ASSERT_TRUE(ui.missing.empty()) << "missing export " << ui.missing.front();

  host = std::make_unique<gm::test::BasicSuiteHost>();
  CallParameters(host->BasicSuite());
}

void UiTest::TearDown() {
  // Unloading gives held suites back through the host, which must still be there.
  if (ui.handle) FreeLibrary(ui.handle);
  host.reset();
}

void UiTest::CallParameters(SPBasicSuite* basic) {
  struct {
    FilterRecord record;
    uint8_t tail[512];
  } storage{};
  storage.record.sSPBasic = basic;
  intptr_t data = 0;
  int16_t result = 0;
  ui.PluginMain(filterSelectorParameters, &storage.record, &data, &result);
}

void UiTest::OfferFileList(const FileListTable* table) { host->OfferSuite(kFileListSuiteName, 4, table); }

}  // namespace gm::test
