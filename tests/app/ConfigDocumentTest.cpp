#include "app/ConfigDocument.h"

#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

namespace {

// Documents are written here in the installer's narrow encoding (GBK literals).
const std::string kValidTail = R"("neededSpace": 10, "options": [], "carouselPics": [])";

struct Outcome {
  bool ok;
  std::string error;
  InstallConfig config;
};

Outcome read(const std::string& document) {
  Outcome outcome;
  outcome.ok = readConfigDocument(document, outcome.config, outcome.error);
  return outcome;
}

TEST(ConfigDocument, ShippedDocumentValues) {
  for (const char* file : {"/resources/CONFIG.JSON", "/resources/CONFIG.2052.JSON"}) {
    SCOPED_TRACE(file);
    const Outcome o = read(qxtest::readFile(std::string(QX_SOURCE_DIR) + file));
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.config.installName, "星海奇遇记");
    EXPECT_EQ(o.config.welcomeText, "欢迎安装星海奇遇记");
    EXPECT_EQ(o.config.installFolder, "vantorworlds");
    EXPECT_EQ(o.config.licenseDesc, "《星河游戏许可协议》");
    EXPECT_FALSE(o.config.licenseUrl.empty());
    EXPECT_FALSE(o.config.silentInstall);
    EXPECT_TRUE(o.config.runAfterInstall);
    EXPECT_FALSE(o.config.installerInRes);
    EXPECT_EQ(o.config.carouselCount, 2);
    EXPECT_EQ(o.config.carouselTime, 6000);
    EXPECT_DOUBLE_EQ(o.config.neededSpace, 1000.0);
    ASSERT_EQ(o.config.options.size(), 1u);
    EXPECT_EQ(o.config.options[0].name, "quicklaunchicon");
    EXPECT_EQ(o.config.options[0].type, "task");
    EXPECT_EQ(o.config.options[0].desc, "快速启动栏");
    EXPECT_TRUE(o.config.options[0].checked);
    ASSERT_EQ(o.config.pictures.size(), 4u);
    EXPECT_EQ(o.config.pictures.at("icon").x, 0);
    EXPECT_EQ(o.config.pictures.at("icon").y, 0);
    EXPECT_EQ(o.config.pictures.at("logo").x, 13);
    EXPECT_EQ(o.config.pictures.at("logo").y, 16);
    EXPECT_EQ(o.config.pictures.at("QxCharacter").x, 95);
    EXPECT_EQ(o.config.pictures.at("QxCharacter").y, 134);
    EXPECT_EQ(o.config.pictures.at("logoText").x, 288);
    EXPECT_EQ(o.config.pictures.at("logoText").y, 188);
  }
  EXPECT_EQ(read(qxtest::readFile(std::string(QX_SOURCE_DIR) + "/resources/CONFIG.JSON")).config.promoteChannel, "1007");
  EXPECT_EQ(read(qxtest::readFile(std::string(QX_SOURCE_DIR) + "/resources/CONFIG.2052.JSON")).config.promoteChannel, "");
}

TEST(ConfigDocument, DefaultsWhenOnlyTheRequiredKeysArePresent) {
  const Outcome o = read("{" + kValidTail + "}");
  ASSERT_TRUE(o.ok) << o.error;
  const InstallConfig defaults;
  EXPECT_EQ(o.config.installName, "QxGames");
  EXPECT_EQ(o.config.welcomeText, "Welcome to QxGames!");
  EXPECT_EQ(o.config.installFolder, "vantorworlds");
  EXPECT_EQ(o.config.carouselTime, 3000);
  EXPECT_EQ(o.config.carouselCount, 0);
  EXPECT_EQ(o.config.updateServer, defaults.updateServer);
  EXPECT_TRUE(o.config.runAfterInstall);
  EXPECT_TRUE(o.config.licenseUrl.empty());
}

TEST(ConfigDocument, UpdateServerIsReadWhenGiven) {
  const Outcome o = read(R"({"updateServer": "127.0.0.1", )" + kValidTail + "}");
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.config.updateServer, "127.0.0.1");
}

TEST(ConfigDocument, EveryErrorLabel) {
  struct Case {
    std::string document;
    std::string label;
  };
  const std::vector<Case> cases = {
      {R"({"options": [], "carouselPics": []})", "neededSpace"},
      {R"({"neededSpace": "lots", "options": []})", "neededSpace"},
      {R"({"neededSpace": 1e999, "options": []})", "neededSpace"},
      {R"({"neededSpace": 1})", "options"},
      {R"({"neededSpace": 1, "options": {}})", "options"},
      {R"({"neededSpace": 1, "options": [{"desc": "d", "checked": true, "type": "t"}]})", "IMOptions.name"},
      {R"({"neededSpace": 1, "options": [{"name": "n", "checked": true, "type": "t"}]})", "IMOptions.desc"},
      {R"({"neededSpace": 1, "options": [{"name": "n", "desc": "d", "type": "t"}]})", "IMOptions.checked"},
      {R"({"neededSpace": 1, "options": [{"name": "n", "desc": "d", "checked": true}]})", "IMOptions.type"},
      {R"({"neededSpace": 1, "options": [], "carouselPics": "a.jpg"})", "carcouselPics"},
      {R"({"neededSpace": 1, "options": [], "userLicense": {"desc": "d"}})", "userLicense.url"},
      {R"({"neededSpace": 1, "options": [], "userLicense": {"url": "u"}})", "userLicense.desc"},
      {R"({"installName": 5, "neededSpace": 1, "options": []})", "配置文件"},
      {R"({"neededSpace": 1, "options": [], "carouselTime": "slow"})", "配置文件"},
      {R"({"neededSpace": 1, "options": [], "pics": [{"name": "a", "x": "left"}]})", "配置文件"},
      {R"({"neededSpace": 1, "opt)", "options"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": ")" + std::string(64, 'a') + R"("})", "packageSigners"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": null})", "packageSigners"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": []})", "packageSigners"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [7]})", "packageSigners"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [")" + std::string(63, 'a') + R"("]})", "packageSigners"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [")" + std::string(65, 'a') + R"("]})", "packageSigners"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [")" + std::string(63, 'a') + R"(g"]})", "packageSigners"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [")" + std::string(64, 'a') + R"(", "AB:CD"]})", "packageSigners"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    const Outcome o = read(c.document);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, c.label);
  }
}

TEST(ConfigDocument, PackageSignersInEitherCaseAreKeptLowercaseAndAbsentMeansUnchecked) {
  const std::string upper = "0EE56AA616BEEC4AB3DD46DCC050445B4BBA8A2B4CE6F761A30057D71CA22E30";
  const std::string mixed = "5e1f86dd99c69eb30da1db87ddcfee14bfc76466ffaa71269d5d8e9548E2D177";
  const Outcome o = read(R"({"packageSigners": [")" + upper + R"(", ")" + mixed + R"("], )" + kValidTail + "}");
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_EQ(o.config.packageSigners,
            (std::vector<std::string>{"0ee56aa616beec4ab3dd46dcc050445b4bba8a2b4ce6f761a30057d71ca22e30",
                                      "5e1f86dd99c69eb30da1db87ddcfee14bfc76466ffaa71269d5d8e9548e2d177"}));
  EXPECT_TRUE(read("{" + kValidTail + "}").config.packageSigners.empty());
}

TEST(ConfigDocument, EarlierOptionsStayWhenALaterOneFails) {
  const Outcome o = read(R"({"neededSpace": 1, "options": [
      {"name": "a", "desc": "A", "checked": false, "type": "task"},
      {"name": "b", "desc": "B", "checked": true}]})");
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, "IMOptions.type");
  ASSERT_EQ(o.config.options.size(), 1u);
  EXPECT_EQ(o.config.options[0].name, "a");
  EXPECT_FALSE(o.config.options[0].checked);
}

TEST(ConfigDocument, PicturesAsAnObjectAreIgnoredAndLaterEntriesReplaceEarlier) {
  Outcome o = read(R"({"pics": {"logo": {"x": 1}}, )" + kValidTail + "}");
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_TRUE(o.config.pictures.empty());
  o = read(R"({"pics": [{"name": "logo", "x": 1, "y": 2}, {"name": "logo", "y": 7}], )" + kValidTail + "}");
  ASSERT_TRUE(o.ok) << o.error;
  ASSERT_EQ(o.config.pictures.size(), 1u);
  EXPECT_EQ(o.config.pictures["logo"].x, 0);
  EXPECT_EQ(o.config.pictures["logo"].y, 7);
}

TEST(ConfigDocument, NullOptionsAndCarouselCountAsEmpty) {
  const Outcome o = read(R"({"neededSpace": 2.5, "options": null, "carouselPics": null})");
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_TRUE(o.config.options.empty());
  EXPECT_EQ(o.config.carouselCount, 0);
  EXPECT_DOUBLE_EQ(o.config.neededSpace, 2.5);
}

TEST(ConfigDocument, GbkTextAndCommentsPassThroughUnchanged) {
  const Outcome o = read("// 注释\n{\"installName\": \"游戏\", // 名字\n" + kValidTail + "}");
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_EQ(o.config.installName, "游戏");
}

} // namespace

// A branding folder is outside the installer's control: nesting deep enough to exhaust
// the reader's recursion must fail like any other broken document.
namespace {
TEST(ConfigDocument, DeeplyNestedDocumentFails) {
  const std::string deep = R"({"neededSpace": 1, "options": [], "pics": )" + std::string(100000, '[');
  const Outcome o = read(deep);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ("配置文件", o.error);
}
} // namespace
