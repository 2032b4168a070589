#include "app/CacheFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/TestFiles.h"

namespace {

std::wstring scratch(const std::string& tag) {
  std::string folder = qxtest::scratchFolder(tag);
  std::replace(folder.begin(), folder.end(), '/', '\\');
  return std::wstring(folder.begin(), folder.end()) + L"\\";
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

} // namespace
