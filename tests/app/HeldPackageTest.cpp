#include "app/HeldPackage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

namespace {

// From the check to the start, nobody may write, rename or delete the package; reading
// it, and starting it, stay possible. The digests are those of its bytes.
TEST(HeldPackage, NobodyChangesTheFileWhileItIsHeld) {
  const std::string path = qxtest::scratchFolder("held") + "\\setup.exe";
  ASSERT_TRUE(qxtest::writeFile(path, "abc"));
  const std::unique_ptr<HeldPackage> held = HeldPackage::open(std::wstring(path.begin(), path.end()));
  ASSERT_TRUE(held);
  EXPECT_EQ(held->md5(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(held->sha256(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_FALSE(MoveFileA(path.c_str(), (path + ".old").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(qxtest::readFile(path), "abc");
}

} // namespace
