#include "app/CacheFolder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/TestFiles.h"

namespace {

std::wstring scratch(const std::string& tag) {
  std::string folder = qxtest::scratchFolder(tag);
  std::replace(folder.begin(), folder.end(), '/', '\\');
  return std::wstring(folder.begin(), folder.end()) + L"\\";
}

// A folder as a standard user leaves one at a drive's root: everybody may modify it.
bool makeWorldWritable(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!CreateDirectoryW(path.c_str(), nullptr) ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;0x1301ff;;;WD)(A;OICI;FA;;;SY)",
                                                            SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
  const bool set = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
  LocalFree(descriptor);
  return set;
}

TEST(CacheFolder, MadeProtectedThenReusedAsTheInstallersOwn) {
  const std::wstring base = scratch("cache") + L"vantorsetup";
  std::wstring folder;
  bool reused = true;
  ASSERT_TRUE(CacheFolder::prepare(base, folder, reused));
  EXPECT_EQ(folder, base + L"\\");
  EXPECT_FALSE(reused);
  EXPECT_TRUE(CacheFolder::isTrusted(folder));
  ASSERT_TRUE(CacheFolder::prepare(base, folder, reused));
  EXPECT_EQ(folder, base + L"\\");
  EXPECT_TRUE(reused) << "a partial download in the installer's own folder is continued";
}

TEST(CacheFolder, AFolderOthersMayWriteIsLeftAloneAndAFreshOneMadeBeside) {
  const std::wstring parent = scratch("planted cache");
  const std::wstring base = parent + L"vantorsetup";
  ASSERT_TRUE(makeWorldWritable(base));
  const std::string planted = std::string(base.begin(), base.end()) + "\\version.dll";
  ASSERT_TRUE(qxtest::writeFile(planted, "planted"));
  ASSERT_FALSE(CacheFolder::isTrusted(base));
  std::wstring folder;
  bool reused = true;
  ASSERT_TRUE(CacheFolder::prepare(base, folder, reused));
  EXPECT_FALSE(reused);
  EXPECT_EQ(folder.compare(0, base.size() + 1, base + L"-"), 0);
  EXPECT_TRUE(CacheFolder::isTrusted(folder));
  EXPECT_EQ(qxtest::readFile(planted), "planted") << "the other folder is neither used nor emptied";
  // A fresh folder has a name nobody could have made beforehand.
  std::wstring second;
  ASSERT_TRUE(CacheFolder::prepare(base, second, reused));
  EXPECT_NE(second, folder);
}
} // namespace
