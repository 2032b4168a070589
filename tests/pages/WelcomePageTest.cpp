// The welcome page in a real frame window: the licence line governing both install
// buttons (it starts checked), the commands reaching the controller and the licence link.
#include <windows.h>

#include <regex>

#include "gui/QxCheckBox.h"
#include "gui/QxHyperlink.h"
#include "pages/WelcomePage.h"
#include "pages/WelcomePageTestApi.h"
#include "tests/pages/PageTestSupport.h"

using namespace pages_test;

namespace {

using Api = WelcomePageTestApi;

class WelcomePageTest : public PageTest {
protected:
  void SetUp() override { useConfig(configDocument("")); }

  void open() {
    page = new WelcomePage(&controller, 660, 480);
    host(page);
  }

  Recorder controller;
  WelcomePage* page = nullptr;
};

TEST_F(WelcomePageTest, UncheckingTheLicenceDisablesBothInstallButtons) {
  open();
  QxCheckBox* box = Api::licenceBox(*page);
  EXPECT_EQ(Api::status(*page), "licence 1 | one-key 0 | custom 0 | headline");
  click(box->x() + 5, box->y() + 5);
  EXPECT_EQ(Api::status(*page), "licence 0 | one-key 3 | custom 3 | headline");
  click(box->x() + 5, box->y() + 5);
  EXPECT_EQ(Api::status(*page), "licence 1 | one-key 0 | custom 0 | headline");
  click(291 + 88, 259 + 21);
  click(543 + 40, 408 + 7);
  EXPECT_EQ(controller.commands, (std::vector<std::string>{"btnOneKeyInstall", "btnCustomInstall"}));
}

TEST_F(WelcomePageTest, LicenceLinkOpensTheConfiguredAddressAndNoTextNoHeadline) {
  const std::string folder = windowsPath(qxtest::scratchFolder("pages-licence"));
  const std::string program = folder + "\\licence.exe";
  ASSERT_TRUE(CopyFileA(windowsPath(QX_FAKE_GAME).c_str(), program.c_str(), FALSE));
  const std::string url = std::regex_replace(program, std::regex(R"(\\)"), R"(\\)");
  useConfig(R"({ "options": [], "neededSpace": 10, "welcomeText": "",
                  "userLicense": { "url": ")" + url + R"(", "desc": "许可协议" } })");
  open();
  // An empty welcome text makes no headline.
  EXPECT_EQ(Api::status(*page), "licence 1 | one-key 0 | custom 0 | no headline");
  QxHyperlink* link = Api::licenceLink(*page);
  click(link->x() + 3, link->y() + 3);
  const std::string record = waitForFile(folder + "\\started.txt", 15000);
  ASSERT_FALSE(record.empty()) << "the shell did not open " << program;
  EXPECT_EQ(record.substr(0, record.find('\n')), program);
  EXPECT_TRUE(controller.commands.empty());
}

} // namespace
