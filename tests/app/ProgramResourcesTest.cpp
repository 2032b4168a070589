// What Windows and Explorer read from an installer's file before it runs, read back
// through the system's own calls: the version information made from the branding's
// CONFIG.JSON, its icon group, and the application manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kInstallerPath = std::string(QX_BINARY_DIR) + "/installer.exe";
const std::wstring kInstaller(kInstallerPath.begin(), kInstallerPath.end());

// The default branding's version, as an array; the other forms of "version" and a document
// without one are read by the branding tool's code, tested natively (BrandVersion).
TEST(ProgramResources, VersionInformationAsExplorerReadsIt) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(kInstaller.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(kInstaller.c_str(), 0, size, info.data()));

  // A value of the block by its path; null when it has none.
  auto value = [&](const std::wstring& path) -> const void* {
    void* found = nullptr;
    UINT length = 0;
    return VerQueryValueW(info.data(), path.c_str(), &found, &length) && length ? found : nullptr;
  };
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value(L"\\"));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ((std::vector<DWORD>{fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                                fixed->dwProductVersionLS, fixed->dwFileType}),
            (std::vector<DWORD>{MAKELONG(2, 1), MAKELONG(4, 3), MAKELONG(2, 1), MAKELONG(4, 3), VFT_APP}));

  // Explorer takes the string table that the first translation names.
  const auto* translation = static_cast<const WORD*>(value(L"\\VarFileInfo\\Translation"));
  ASSERT_NE(translation, nullptr);
  EXPECT_EQ(std::make_pair(translation[0], translation[1]), std::make_pair(WORD(0x0804), WORD(1200)));
  const std::pair<const wchar_t*, const wchar_t*> texts[] = {{L"ProductName", L"星海奇遇记"},
                                                             {L"FileDescription", L"星海奇遇记安装"},
                                                             {L"FileVersion", L"1.2.3.4"},
                                                             {L"ProductVersion", L"1.2.3.4"}};
  for (const auto& [key, expected] : texts) {
    const auto* text = static_cast<const wchar_t*>(value(std::wstring(L"\\StringFileInfo\\080404b0\\") + key));
    EXPECT_EQ(std::wstring(text ? text : L"(missing)"), expected) << key;
  }
}

// Explorer shows the first icon group and the window class loads this one by number: the
// two agree when it is the only one. That its images are the branding's, byte for byte, is
// brand_matches_the_build's (the branding tool's against the resource compiler's).
TEST(ProgramResources, OneIconGroupTheWindowClassLoads) {
  HMODULE module = LoadLibraryExW(kInstaller.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  int groups = 0;
  EnumResourceNamesW(module, MAKEINTRESOURCEW(14),
                     [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) -> BOOL {
                       ++*reinterpret_cast<int*>(count);
                       return TRUE;
                     },
                     reinterpret_cast<LONG_PTR>(&groups));
  EXPECT_EQ(groups, 1);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(32512), MAKEINTRESOURCEW(14)), nullptr);
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
  const std::wstring folder = CharLowerW(loaded);
  EXPECT_NE(folder.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
      << folder;
  FreeLibrary(controls);
  DeactivateActCtx(0, cookie);
  ReleaseActCtx(context);
}

} // namespace
