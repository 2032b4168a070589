// The welcome page in a real frame window: the licence line governing both install
// buttons (it starts checked), the commands reaching the controller and the licence link.
#include <windows.h>

#include <filesystem>

#include "gui/QxButton.h"
#include "gui/QxCheckBox.h"
#include "gui/QxHyperlink.h"
#include "gui/QxTextButton.h"
#include "pages/WelcomePage.h"
#include "pages/WelcomePageTestApi.h"
#include "tests/pages/PageTestSupport.h"
#include "tests/support/TestFiles.h"

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
  QxTextButton* oneKey = Api::oneKeyButton(*page);
  QxButton* custom = Api::customButton(*page);
  ASSERT_TRUE(box->isChecked());
  int w = 0, h = 0;
  EXPECT_TRUE(Api::headlineSize(*page, w, h) && w > 0) << "the welcome text makes a headline";
  click(box->x() + 5, box->y() + 5);
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(oneKey->state(), QxButton::Disabled);
  EXPECT_EQ(custom->state(), QxButton::Disabled);

  click(box->x() + 5, box->y() + 5);
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(oneKey->state(), QxButton::Normal);
  EXPECT_EQ(custom->state(), QxButton::Normal);
  click(291 + 88, 259 + 21);
  click(543 + 40, 408 + 7);
  EXPECT_EQ(controller.commands, (std::vector<std::string>{"btnOneKeyInstall", "btnCustomInstall"}));
}

TEST_F(WelcomePageTest, EmptyWelcomeTextMakesNoHeadline) {
  useConfig(R"({ "options": [], "neededSpace": 10, "welcomeText": "" })");
  open();
  int w = 0, h = 0;
  EXPECT_FALSE(Api::headlineSize(*page, w, h)) << "an empty text makes no headline";
}

TEST_F(WelcomePageTest, LicenceLinkOpensTheConfiguredAddress) {
  const std::string folder = windowsPath(qxtest::scratchFolder("pages-licence"));
  const std::string program = folder + "\\licence.exe";
  ASSERT_TRUE(CopyFileA(windowsPath(QX_FAKE_GAME).c_str(), program.c_str(), FALSE));
  useConfig(R"({ "options": [], "neededSpace": 10,
                 "userLicense": { "url": ")" + [&] {
    std::string escaped;
    for (char c : program) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return escaped;
  }() + R"(", "desc": "许可协议" } })");
  open();
  QxHyperlink* link = Api::licenceLink(*page);
  click(link->x() + 3, link->y() + 3);
  const std::string record = waitForFile(folder + "\\started.txt", 15000);
  ASSERT_FALSE(record.empty()) << "the shell did not open " << program;
  EXPECT_EQ(record.substr(0, record.find('\n')), program);
  EXPECT_TRUE(controller.commands.empty());
}

} // namespace
