// What the branding tool decides from bytes alone: versions Windows can hold, icon files,
// whole programs, and the update server's host.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/TestFiles.h"
#include "tools/brand/HostName.h"
#include "tools/brand/IconFile.h"
#include "tools/brand/VersionResource.h"
#include "tools/brand/WindowsProgram.h"

namespace {

TEST(BrandVersion, ReadAsGivenPaddedOrRefused) {
  struct Case {
    const char* version;  // the JSON value, or null for no key
    bool ok;
    std::uint16_t parts[4];
  };
  const Case cases[] = {
      {nullptr, true, {1, 0, 0, 0}},
      {R"("1.2.3.4")", true, {1, 2, 3, 4}},
      {R"([2, 0, 1, 7])", true, {2, 0, 1, 7}},
      {R"("3.1")", true, {3, 1, 0, 0}},
      {R"([65535])", true, {65535, 0, 0, 0}},
      {R"([1, 2, 3, 70000])", false, {}},
      {R"("1.2.x")", false, {}},
      {R"("1..2")", false, {}},
      {R"([1, 2, 3, 4, 5])", false, {}},
      {R"([true])", false, {}},
      {R"([-1])", false, {}},
      {R"(7)", false, {}},
  };
  for (const Case& c : cases) {
    const std::string document = std::string(R"({"installName": "游戏")") +
                                 (c.version ? std::string(", \"version\": ") + c.version : "") + "} // 注释";
    SCOPED_TRACE(document);
    ProductVersion version;
    ConfigProblem problem;
    ASSERT_EQ(readProductVersion(document, version, problem), c.ok);
    if (c.ok) {
      EXPECT_EQ(version.name, "游戏");
      EXPECT_EQ(std::memcmp(version.parts, c.parts, sizeof c.parts), 0);
    } else {
      EXPECT_EQ(problem.key, "version");
      EXPECT_NE(problem.expected.find("0 to 65535"), std::string::npos);
    }
  }
  // Without "installName", the name the installer itself would show.
  ProductVersion unnamed;
  ConfigProblem problem;
  ASSERT_TRUE(readProductVersion("{}", unnamed, problem));
  EXPECT_EQ(unnamed.name, "QxGames");
}

// The images and group the file makes are brand_matches_the_build's, held byte for byte
// against the resource compiler's; here the files it must refuse.
TEST(BrandIcon, BrokenIconFilesAreRefused) {
  const std::string ico = qxtest::readFile(std::string(QX_SOURCE_DIR) + "/resources/ICON.ICO");
  IconResources made;
  std::string wrong;
  ASSERT_TRUE(splitIconFile(ico, made, wrong)) << wrong;
  std::string truncated = ico.substr(0, ico.size() - 10);
  std::string noImages = ico.substr(0, 6);
  noImages[4] = 0;
  for (const std::string& broken : {std::string("not an icon"), ico.substr(0, 40), truncated, noImages,
                                    std::string("\0\0\2\0\1\0", 6) + ico.substr(6)}) {
    EXPECT_FALSE(splitIconFile(broken, made, wrong));
    EXPECT_FALSE(wrong.empty());
  }
}

// A minimal program: DOS header, PE signature, file header, 32-bit optional header and
// one section whose data ends the file.
std::string program(std::uint16_t flags = 0x0102) {
  std::string bytes(0x200, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3C] = 0x40;
  std::memcpy(&bytes[0x40], "PE\0\0", 4);
  bytes[0x46] = 1;     // one section
  bytes[0x54] = 0xE0;  // optional header size
  std::memcpy(&bytes[0x56], &flags, 2);
  bytes[0x58] = 0x0B;  // 0x10B: 32-bit
  bytes[0x59] = 0x01;
  const std::uint32_t size = 0x100, offset = 0x100;
  std::memcpy(&bytes[0x58 + 0xE0 + 16], &size, 4);
  std::memcpy(&bytes[0x58 + 0xE0 + 20], &offset, 4);
  return bytes;
}

TEST(BrandProgram, OnlyAWholeWindowsProgramPasses) {
  std::string wrong;
  EXPECT_TRUE(isWindowsProgram(program(), wrong)) << wrong;
  std::string dos = program();
  dos[0x40] = 'X';
  const std::string broken[] = {"PK\3\4 an archive", program().substr(0, 0x1FF), dos, program(0x2102),
                                program(0x0100)};
  for (const std::string& bytes : broken) {
    EXPECT_FALSE(isWindowsProgram(bytes, wrong));
    EXPECT_FALSE(wrong.empty());
  }
}

TEST(BrandHost, NamesAndAddressesTheQueryCanReach) {
  for (const char* good : {"update.example.com", "127.0.0.1", "localhost", "a-b.c9", "255.255.255.255"})
    EXPECT_TRUE(isHostNameOrAddress(good)) << good;
  for (const char* bad : {"", "http://update.example.com", "update.example.com:8901", "update example.com",
                          "-a.com", "a..com", "a.com.", "256.1.1.1", "10.1", "under_score.com", "主机.com"})
    EXPECT_FALSE(isHostNameOrAddress(bad)) << bad;
}

} // namespace
