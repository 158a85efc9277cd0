// The Win64 module as a host application meets it: loaded with LoadLibrary,
// its entry point found by name, its resources read through the Windows API,
// and whole filter runs through the built-in host compared with the native
// build's results.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "host/FilterHost.h"
#include "product/Product.h"
#include "tests/PropertyListReference.h"
#include "tests/wine/RunCases.h"
#include "tests/wine/WinePath.h"

namespace {

using gm::test::WinePath;

class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path) : path_(WinePath(path)), handle_(LoadLibraryA(path_.c_str())) {}
  ~LoadedModule() {
    if (handle_) FreeLibrary(handle_);
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  HMODULE get() const { return handle_; }
  const std::string& path() const { return path_; }
  template <typename F>
  F Function(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
  }

 private:
  std::string path_;
  HMODULE handle_;
};

const LoadedModule& Shipped() {
  static LoadedModule module(GM_MODULE_GLYPHMOSAIC);
  return module;
}

class ShippedModule : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Shipped().get(), nullptr) << "LoadLibrary failed on " << Shipped().path() << ": error "
                                        << GetLastError();
  }
  HMODULE module() const { return Shipped().get(); }
};

std::vector<std::string> ExportedNames(HMODULE module) {
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  std::vector<std::string> names;
  if (dir.VirtualAddress == 0) return names;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  const auto* rvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.emplace_back(reinterpret_cast<const char*>(base + rvas[i]));
  return names;
}

TEST_F(ShippedModule, ExportsPluginMainAndGenericProcAndNothingElse) {
  EXPECT_NE(GetProcAddress(module(), "PluginMain"), nullptr);
  EXPECT_NE(GetProcAddress(module(), "GenericProc"), nullptr);
  EXPECT_EQ(ExportedNames(module()), (std::vector<std::string>{"GenericProc", "PluginMain"}));
}

TEST_F(ShippedModule, PropertyListIsTheTenRecordWin64List) {
  const auto expected = gm::test::ReferencePropertyList(true);
  // Both ways a host may ask: by type and id, and with the language given.
  HRSRC byName = FindResourceA(module(), MAKEINTRESOURCEA(16000), "PIPL");
  HRSRC byLanguage = FindResourceExA(module(), "PIPL", MAKEINTRESOURCEA(16000), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_NE(byName, nullptr);
  ASSERT_NE(byLanguage, nullptr);
  ASSERT_EQ(SizeofResource(module(), byName), expected.size());
  HGLOBAL loaded = LoadResource(module(), byName);
  ASSERT_NE(loaded, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + expected.size()), expected);
  EXPECT_EQ(FindResourceA(module(), MAKEINTRESOURCEA(16001), "PIPL"), nullptr);
}

std::wstring LoadText(HMODULE module, UINT id) {
  const wchar_t* text = nullptr;
  // A zero buffer size returns the resource's own counted string.
  const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST_F(ShippedModule, FixedStringsReadBackExactly) {
  struct Case {
    UINT id;
    std::wstring text;
  };
  const Case cases[] = {
      {16990, L"An integer is required between ^1 and ^2."},
      {16991, L"A decimal number is required between ^1 and ^2."},
      {16992, L"This plug-in requires Adobe Photoshop\u00AE ^1 or later functionality."},
      {16993, L"This plug-in is incompatible with this version of the host program."},
      {16994, L"the required suite \\'^0\\' is unavailable"},
  };
  const size_t lengths[] = {41, 47, 65, 67, 40};
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].id);
    const std::wstring text = LoadText(module(), cases[i].id);
    EXPECT_EQ(text, cases[i].text);
    EXPECT_EQ(text.size(), lengths[i]);
  }
}

TEST_F(ShippedModule, AboutTextsHaveTheirLengthsAndAgree) {
  const std::wstring about = LoadText(module(), 16000);
  const std::wstring oneLine = LoadText(module(), 16002);
  EXPECT_EQ(about.size(), 166u);
  EXPECT_EQ(oneLine.size(), 178u);
  EXPECT_EQ(about.find(L'\r'), std::wstring::npos);

  std::vector<std::wstring> lines;
  for (size_t start = 0;;) {
    const size_t end = about.find(L'\n', start);
    lines.push_back(about.substr(start, end - start));
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(about, Widen(GM_ABOUT_TEXT));
  EXPECT_EQ(lines[0], L"GlyphMosaic");
  EXPECT_TRUE(lines[1].empty());
  EXPECT_TRUE(lines[5].empty());
  EXPECT_NE(lines[6].find(L"Photoshop"), std::wstring::npos);

  // The one-line form: breaks written as backslash-n, the copyright line run
  // into the rights line, and four more at the end.
  const std::wstring joined = lines[0] + L"\\n\\n" + lines[2] + L"\\n" + lines[3] + lines[4] + L"\\n\\n" + lines[6] +
                              L"\\n\\n\\n\\n";
  EXPECT_EQ(oneLine, joined);
  EXPECT_EQ(lines[3].back(), L' ');
}

TEST_F(ShippedModule, EveryOtherSlotOfTheThreeBlocksIsEmpty) {
  const UINT used[] = {16000, 16002, 16990, 16991, 16992, 16993, 16994};
  for (UINT block : {1001u, 1062u, 1063u}) {
    for (UINT id = (block - 1) * 16; id < block * 16; ++id) {
      if (std::find(std::begin(used), std::end(used), id) != std::end(used)) continue;
      wchar_t buffer[8] = {L'x'};
      EXPECT_EQ(LoadStringW(module(), id, buffer, 8), 0) << id;
      EXPECT_EQ(buffer[0], L'\0') << id;
    }
  }
}

std::wstring VersionString(const std::vector<uint8_t>& block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
  return std::wstring(static_cast<const wchar_t*>(value), wcsnlen(static_cast<const wchar_t*>(value), length));
}

TEST_F(ShippedModule, VersionBlockReadsBackThroughTheVersionApi) {
  HRSRC resource = FindResourceW(module(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  ASSERT_NE(resource, nullptr);
  EXPECT_EQ(SizeofResource(module(), resource), 1012u);

  const std::wstring path = Widen(Shipped().path());
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
  ASSERT_EQ(fixedLength, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwStrucVersion, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00090000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00090000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, 0x00040004u);
  EXPECT_EQ(fixed->dwFileType, 2u);
  EXPECT_EQ(fixed->dwFileSubtype, 0u);
  EXPECT_EQ(fixed->dwFileDateMS, 0u);
  EXPECT_EQ(fixed->dwFileDateLS, 0u);

  WORD* translation = nullptr;
  UINT translationLength = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &translationLength));
  ASSERT_EQ(translationLength, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04B0);

  for (const wchar_t* empty : {L"Comments", L"LegalTrademarks", L"PrivateBuild", L"SpecialBuild"}) {
    EXPECT_EQ(VersionString(block, empty), L"") << "value " << std::string(empty, empty + wcslen(empty));
  }
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"9.0");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), L"9.0");
  const struct {
    const wchar_t* name;
    const char* text;
  } ours[] = {
      {L"CompanyName", GM_COMPANY_NAME},     {L"FileDescription", GM_FILE_DESCRIPTION},
      {L"InternalName", GM_MODULE_FILE},     {L"LegalCopyright", GM_COPYRIGHT},
      {L"OriginalFilename", GM_MODULE_FILE}, {L"ProductName", GM_PRODUCT_NAME},
  };
  for (const auto& value : ours) {
    EXPECT_EQ(VersionString(block, value.name), Widen(value.text)) << std::string(value.text);
  }
}

// The test build of the same sources exports access to moduleInstance.
using GetInstanceFn = HINSTANCE (*)();
using SetInstanceFn = void (*)(HINSTANCE);

struct ThreadProbe {
  GetInstanceFn get;
  SetInstanceFn set;
  HINSTANCE seenAtStart;
};

DWORD WINAPI ProbeThread(LPVOID arg) {
  auto* probe = static_cast<ThreadProbe*>(arg);
  probe->seenAtStart = probe->get();  // after the thread-attach notification
  probe->set(nullptr);                // the thread-detach notification must restore it
  return 0;
}

TEST(TestModule, DllMainStoresTheHandleAtEveryNotification) {
  LoadedModule test(GM_MODULE_GLYPHMOSAICTEST);
  ASSERT_NE(test.get(), nullptr) << "LoadLibrary failed on " << test.path();
  auto get = test.Function<GetInstanceFn>("TestGetModuleInstance");
  auto set = test.Function<SetInstanceFn>("TestSetModuleInstance");
  ASSERT_TRUE(get && set);
  EXPECT_EQ(get(), test.get());  // process attach

  set(nullptr);
  ThreadProbe probe{get, set, nullptr};
  HANDLE thread = CreateThread(nullptr, 0, ProbeThread, &probe, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(probe.seenAtStart, test.get());  // thread attach
  EXPECT_EQ(get(), test.get());              // thread detach
}

TEST(TestModule, ShippedModuleKeepsTheTestExportsOut) {
  ASSERT_NE(Shipped().get(), nullptr);
  EXPECT_EQ(GetProcAddress(Shipped().get(), "TestGetModuleInstance"), nullptr);
  EXPECT_EQ(GetProcAddress(Shipped().get(), "TestSetModuleInstance"), nullptr);
}

class FilterRun : public ::testing::TestWithParam<gm::test::RunCase> {};

TEST_P(FilterRun, OutputEqualsTheNativeBuildByteForByte) {
  const auto& c = GetParam();
  ASSERT_NE(Shipped().get(), nullptr);
  auto entry = Shipped().Function<gm::host::PluginEntry>("PluginMain");
  ASSERT_NE(entry, nullptr);

  const std::string dir = WinePath(GM_REFERENCE_DIR);
  gm::Image image;
  gm::Image expected;
  int16_t expectedCodes[2] = {};
  ASSERT_TRUE(gm::test::ReadRaw(dir + "\\" + c.sample + ".in", image, nullptr))
      << "no native input in " << dir << ": build the release preset first";
  ASSERT_TRUE(gm::test::ReadRaw(dir + "\\" + c.name + ".out", expected, expectedCodes))
      << "no native result in " << dir << ": build the release preset first";
  const gm::Image original = image;

  gm::host::FilterHost host(entry);
  const auto report = host.Run(image, c.Options());

  EXPECT_EQ(report.result, expectedCodes[0]);
  EXPECT_EQ(report.hostError, expectedCodes[1]);
  EXPECT_EQ(report.paddingBytesTouched, 0);
  ASSERT_EQ(image.width, expected.width);
  ASSERT_EQ(image.height, expected.height);
  size_t differing = 0;
  size_t first = 0;
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    if (image.pixels[i] != expected.pixels[i] && differing++ == 0) first = i;
  }
  EXPECT_EQ(differing, 0u) << "first differing byte " << first;
  // A run that succeeded must have changed the picture.
  if (expectedCodes[0] == 0) {
    EXPECT_NE(image.pixels, original.pixels);
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, FilterRun, ::testing::ValuesIn(gm::test::RunCases()), [](const auto& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
});

}  // namespace
