#include "app/ConfigDocument.h"

#include <gtest/gtest.h>

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

// Every optional key at once: kept as written (GBK text through comments, mirrors in their
// order), signers in either case kept lowercase, null lists empty, a later picture entry
// replacing an earlier one whole; pictures given as an object are ignored.
TEST(ConfigDocument, WhatADocumentGivesIsKept) {
  const std::string upper = "0EE56AA616BEEC4AB3DD46DCC050445B4BBA8A2B4CE6F761A30057D71CA22E30";
  const std::string mixed = "5e1f86dd99c69eb30da1db87ddcfee14bfc76466ffaa71269d5d8e9548E2D177";
  const Outcome o = read("// 注释\n{\"installName\": \"游戏\", // 名字\n" R"("updateServer": "127.0.0.1",
      "downloadConnections": 1, "reportUrl": "https://r.example.com/in",
      "packageMirrors": ["HTTPS://cdn2.example.com/pkg/", "http://10.0.0.2:81/"],
      "packageSigners": [")" + upper + R"(", ")" + mixed + R"("],
      "pics": [{"name": "logo", "x": 1, "y": 2}, {"name": "logo", "y": 7}],
      "neededSpace": 2.5, "options": null, "carouselPics": null})");
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_EQ(o.config.installName, "游戏");
  EXPECT_EQ(o.config.updateServer, "127.0.0.1");
  EXPECT_EQ(o.config.downloadConnections, 1);
  EXPECT_EQ(o.config.reportUrl, "https://r.example.com/in");
  EXPECT_EQ(o.config.packageMirrors,
            (std::vector<std::string>{"HTTPS://cdn2.example.com/pkg/", "http://10.0.0.2:81/"}));
  EXPECT_EQ(o.config.packageSigners,
            (std::vector<std::string>{"0ee56aa616beec4ab3dd46dcc050445b4bba8a2b4ce6f761a30057d71ca22e30",
                                      "5e1f86dd99c69eb30da1db87ddcfee14bfc76466ffaa71269d5d8e9548e2d177"}));
  EXPECT_TRUE(o.config.options.empty());
  EXPECT_EQ(o.config.carouselCount, 0);
  EXPECT_DOUBLE_EQ(o.config.neededSpace, 2.5);
  ASSERT_EQ(o.config.pictures.size(), 1u);
  EXPECT_EQ(std::make_pair(o.config.pictures.at("logo").x, o.config.pictures.at("logo").y), std::make_pair(0, 7));
  const Outcome asObject = read(R"({"pics": {"logo": {"x": 1}}, )" + kValidTail + "}");
  EXPECT_TRUE(asObject.ok && asObject.config.pictures.empty()) << asObject.error;
  EXPECT_EQ(read(R"({"downloadConnections": 8, )" + kValidTail + "}").config.downloadConnections, 8);
  EXPECT_TRUE(read("{" + kValidTail + "}").config.packageSigners.empty()) << "absent means unchecked";
}

// Each broken document fails with the installer's label, and the branding tool's list
// names the same failure once, with where it is.
TEST(ConfigDocument, EveryErrorLabelAndWhereItIs) {
  struct Case {
    std::string document;
    std::string label;
    std::string key;
    std::string wrong;
  };
  const std::string hex64(64, 'a');
  const std::vector<Case> cases = {
      {R"({"options": [], "carouselPics": []})", "neededSpace", "neededSpace", "missing"},
      {R"({"neededSpace": "lots", "options": []})", "neededSpace", "neededSpace", "the text \"lots\""},
      {R"({"neededSpace": 1})", "options", "options", "missing"},
      {R"({"neededSpace": 1, "options": {}})", "options", "options", "an object"},
      {R"({"neededSpace": 1, "options": [{"desc": "d", "checked": true, "type": "t"}]})", "IMOptions.name", "options[0].name", "missing"},
      {R"({"neededSpace": 1, "options": [{"name": "n", "checked": true, "type": "t"}]})", "IMOptions.desc", "options[0].desc", "missing"},
      {R"({"neededSpace": 1, "options": [{"name": "n", "desc": "d", "type": "t"}]})", "IMOptions.checked", "options[0].checked", "missing"},
      {R"({"neededSpace": 1, "options": [{"name": "n", "desc": "d", "checked": 1}]})", "IMOptions.checked", "options[0].checked", "the number 1"},
      {R"({"neededSpace": 1, "options": [{"name": "n", "desc": "d", "checked": true}]})", "IMOptions.type", "options[0].type", "missing"},
      {R"({"neededSpace": 1, "options": [], "carouselPics": "a.jpg"})", "carcouselPics", "carouselPics", "the text \"a.jpg\""},
      {R"({"neededSpace": 1, "options": [], "userLicense": {"desc": "d"}})", "userLicense.url", "userLicense.url", "missing"},
      {R"({"neededSpace": 1, "options": [], "userLicense": {"url": "u"}})", "userLicense.desc", "userLicense.desc", "missing"},
      {R"({"neededSpace": 1, "options": [], "userLicense": ["u"]})", "配置文件", "userLicense", "a list"},
      {R"({"installName": 5, "neededSpace": 1, "options": []})", "配置文件", "installName", "the number 5"},
      {R"({"neededSpace": 1, "options": [], "silentInstall": "yes"})", "配置文件", "silentInstall", "the text \"yes\""},
      {R"({"neededSpace": 1, "options": [], "carouselTime": "slow"})", "配置文件", "carouselTime", "the text \"slow\""},
      {R"({"neededSpace": 1, "options": [], "pics": [{"name": "a", "x": "left"}]})", "配置文件", "pics[0].x", "the text \"left\""},
      {R"({"neededSpace": 1, "options": [], "pics": [{"name": 7}]})", "配置文件", "pics[0].name", "the number 7"},
      {R"({"neededSpace": 1, "options": [], "pics": [3]})", "配置文件", "pics[0]", "the number 3"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": ")" + hex64 + R"("})", "packageSigners", "packageSigners", "the text \"" + hex64 + "\""},
      {R"({"neededSpace": 1, "options": [], "packageSigners": null})", "packageSigners", "packageSigners", "null"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": []})", "packageSigners", "packageSigners", "a list"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [7]})", "packageSigners", "packageSigners[0]", "the number 7"},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [")" + std::string(63, 'a') + R"("]})", "packageSigners", "packageSigners[0]", ""},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [")" + std::string(65, 'a') + R"("]})", "packageSigners", "packageSigners[0]", ""},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [")" + std::string(63, 'a') + R"(g"]})", "packageSigners", "packageSigners[0]", ""},
      {R"({"neededSpace": 1, "options": [], "packageSigners": [")" + hex64 + R"(", "AB:CD"]})", "packageSigners", "packageSigners[1]", "the text \"AB:CD\""},
      {R"({"neededSpace": 1, "options": [], "downloadConnections": 0})", "downloadConnections", "downloadConnections", "the number 0"},
      {R"({"neededSpace": 1, "options": [], "downloadConnections": 9})", "downloadConnections", "downloadConnections", "the number 9"},
      {R"({"neededSpace": 1, "options": [], "downloadConnections": 2.5})", "downloadConnections", "downloadConnections", "the number 2.5"},
      {R"({"neededSpace": 1, "options": [], "downloadConnections": null})", "downloadConnections", "downloadConnections", "null"},
      {R"({"neededSpace": 1, "options": [], "downloadConnections": 4294967297})", "downloadConnections", "downloadConnections", ""},
      {R"({"neededSpace": 1, "options": [], "reportUrl": "http://example.com/r"})", "reportUrl", "reportUrl", "the text \"http://example.com/r\""},
      {R"({"neededSpace": 1, "options": [], "reportUrl": 1})", "reportUrl", "reportUrl", "the number 1"},
      {R"({"neededSpace": 1, "options": [], "packageMirrors": "https://a.example.com/"})", "packageMirrors", "packageMirrors", ""},
      {R"({"neededSpace": 1, "options": [], "packageMirrors": [1,2,3,4,5,6,7,8,9]})", "packageMirrors", "packageMirrors", "a list"},
      {R"({"neededSpace": 1, "options": [], "packageMirrors": ["https://a.example.com/", "https://b.example.com/pkg"]})", "packageMirrors", "packageMirrors[1]", ""},
      {R"({"neededSpace": 1, "options": [], "packageMirrors": ["ftp://a.example.com/"]})", "packageMirrors", "packageMirrors[0]", ""},
      {R"({"neededSpace": 1, "options": [], "packageMirrors": ["https:///pkg/"]})", "packageMirrors", "packageMirrors[0]", ""},
      {R"({"neededSpace": 1, "options": [], "packageMirrors": ["https://a.example.com/p q/"]})", "packageMirrors", "packageMirrors[0]", ""},
      {R"({"neededSpace": 1, "options": [], "packageMirrors": [null]})", "packageMirrors", "packageMirrors[0]", "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    const Outcome o = read(c.document);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, c.label);
    const std::vector<ConfigProblem> problems = listConfigProblems(c.document);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].label, c.label);
    EXPECT_EQ(problems[0].key, c.key);
    if (!c.wrong.empty()) {
      EXPECT_EQ(problems[0].wrong, c.wrong);
    }
    EXPECT_FALSE(problems[0].expected.empty());
  }
}

// A document the reader gives up on, or one cut short: the installer fails at the first
// required key it lacks, and the list also says where the text went wrong.
TEST(ConfigDocument, BrokenTextFailsAtTheFirstMissingKeyAndNamesItsSyntaxError) {
  const std::string cut = R"({"neededSpace": 1, "opt)";
  EXPECT_EQ(read(cut).error, "options");
  const std::vector<ConfigProblem> problems = listConfigProblems(cut);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].label, "");
  EXPECT_NE(problems[0].wrong.find("Line 1"), std::string::npos) << problems[0].wrong;
  EXPECT_EQ(problems[1].key, "options");
  EXPECT_EQ(read(R"({"neededSpace": 1e999, "options": []})").error, "neededSpace");
  // A branding folder is outside the installer's control: nesting deep enough to exhaust
  // the reader's recursion must fail like any other broken document.
  EXPECT_EQ(read(R"({"neededSpace": 1, "options": [], "pics": )" + std::string(100000, '[')).error, "配置文件");
}

// The installer stops at the first failure; the list goes on past each one.
TEST(ConfigDocument, ListGoesOnPastEveryFailure) {
  const std::vector<ConfigProblem> problems = listConfigProblems(R"({
      "installName": 5, "carouselTime": "slow",
      "options": [{"name": "a"}, {"name": "b", "desc": "B", "checked": true, "type": "task"}, {}],
      "pics": [{"name": "logo", "x": "left", "y": 2}], "carouselPics": 3,
      "userLicense": {}})");
  std::vector<std::string> keys;
  for (const ConfigProblem& p : problems)
    keys.push_back(p.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"installName", "neededSpace", "options[0].desc", "options[2].name",
                                            "pics[0].x", "carouselPics", "carouselTime", "userLicense.url",
                                            "userLicense.desc"}));
}

} // namespace
