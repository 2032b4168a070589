// What Windows and Explorer read from an installer's file before it runs, read back
// through the system's own calls: the version information made from the branding's
// CONFIG.JSON, the icon from its ICON.ICO, and the application manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

namespace {

std::wstring builtFile(const char* relative) {
  const std::string path = std::string(QX_BINARY_DIR) + relative;
  return std::wstring(path.begin(), path.end());
}

const std::wstring kInstaller = builtFile("/installer.exe");

struct Branded {
  const char* file;
  const wchar_t* productName;
  WORD version[4];
  const wchar_t* dotted;
};

// The default branding gives "version" as an array, the second folder as text, the
// third has neither "version" nor "installName".
const Branded kBranded[] = {
    {"/installer.exe", L"星海奇遇记", {1, 2, 3, 4}, L"1.2.3.4"},
    {"/tests/app/installer_e2e_no_package.exe", L"星海奇遇记", {2, 0, 1, 7}, L"2.0.1.7"},
    {"/tests/app/installer_broken_config.exe", L"QxGames", {1, 0, 0, 0}, L"1.0.0.0"},
};

TEST(ProgramResources, VersionInformationAsExplorerReadsIt) {
  for (const Branded& b : kBranded) {
    SCOPED_TRACE(b.file);
    const std::wstring path = builtFile(b.file);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = MAKELONG(b.version[1], b.version[0]);
    const DWORD low = MAKELONG(b.version[3], b.version[2]);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

    // Explorer takes the string table that the first translation names.
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);
    auto text = [&](const wchar_t* key) {
      wchar_t query[64];
      swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], key);
      wchar_t* value = nullptr;
      UINT units = 0;
      if (!VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&value), &units))
        return std::wstring(L"(missing)");
      return std::wstring(value);
    };
    EXPECT_EQ(text(L"ProductName"), b.productName);
    EXPECT_EQ(text(L"FileDescription"), std::wstring(b.productName) + L"安装");
    EXPECT_EQ(text(L"FileVersion"), b.dotted);
    EXPECT_EQ(text(L"ProductVersion"), b.dotted);
  }
}

// The bytes of one resource of the module.
std::string resourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
  HRSRC found = FindResourceW(module, name, type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  if (!loaded)
    return std::string();
  return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
}

TEST(ProgramResources, IconIsTheBrandingsInEverySize) {
  HMODULE module = LoadLibraryExW(kInstaller.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  // Explorer shows the first icon group and the window class loads this one by number:
  // the two agree when it is the only one.
  int groups = 0;
  EnumResourceNamesW(module, MAKEINTRESOURCEW(14),
                     [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) -> BOOL {
                       ++*reinterpret_cast<int*>(count);
                       return TRUE;
                     },
                     reinterpret_cast<LONG_PTR>(&groups));
  EXPECT_EQ(groups, 1);
  std::string group = resourceBytes(module, MAKEINTRESOURCEW(32512), MAKEINTRESOURCEW(14));
  ASSERT_FALSE(group.empty());

  // Every image of the branding's file is in the group, byte for byte.
  const std::string ico = qxtest::readFile(std::string(QX_SOURCE_DIR) + "/resources/ICON.ICO");
  ASSERT_GE(ico.size(), 6u);
  std::uint16_t count = 0;
  std::memcpy(&count, ico.data() + 4, 2);
  for (int i = 0; i < count; ++i) {
    const char* entry = ico.data() + 6 + 16 * i;
    const int side = static_cast<unsigned char>(entry[0]) ? static_cast<unsigned char>(entry[0]) : 256;
    std::uint32_t bytes = 0, offset = 0;
    std::memcpy(&bytes, entry + 8, 4);
    std::memcpy(&offset, entry + 12, 4);
    SCOPED_TRACE(side);
    const int id = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(&group[0]), TRUE, side, side,
                                               LR_DEFAULTCOLOR);
    ASSERT_NE(id, 0);
    EXPECT_EQ(resourceBytes(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3)),
              ico.substr(offset, bytes));
  }
  FreeLibrary(module);
}

TEST(ProgramResources, ManifestAsInvokerWithCommonControls6) {
  ACTCTXW request = {};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = kInstaller.c_str();
  request.lpResourceName = MAKEINTRESOURCEW(1);
  // The loader refuses to start a program whose manifest it cannot read.
  HANDLE context = CreateActCtxW(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE) << GetLastError();

  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel = {};
  ASSERT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                           sizeof runLevel, nullptr));
  EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
  EXPECT_EQ(runLevel.UiAccess, 0u);

  // The window draws itself at each monitor's DPI: per-monitor awareness, v2 where known.
  wchar_t setting[64] = {};
  EXPECT_TRUE(QueryActCtxSettingsW(0, context, nullptr, L"dpiAware", setting, 64, nullptr));
  EXPECT_STREQ(setting, L"true/pm");
  EXPECT_TRUE(QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                   L"dpiAwareness", setting, 64, nullptr));
  EXPECT_STREQ(setting, L"PerMonitorV2, PerMonitor");

  // With the program's context active, the common controls come from the side-by-side
  // assembly of version 6.
  ULONG_PTR cookie = 0;
  ASSERT_TRUE(ActivateActCtx(context, &cookie));
  HMODULE controls = LoadLibraryW(L"comctl32.dll");
  ASSERT_NE(controls, nullptr);
  wchar_t loaded[MAX_PATH] = {};
  GetModuleFileNameW(controls, loaded, MAX_PATH);
  std::wstring folder = loaded;
  for (wchar_t& c : folder)
    c = towlower(c);
  EXPECT_NE(folder.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
      << folder;
  FreeLibrary(controls);
  DeactivateActCtx(0, cookie);
  ReleaseActCtx(context);
}

} // namespace
