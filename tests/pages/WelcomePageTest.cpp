// The welcome page in a real frame window: the licence line governing both install
// buttons, the commands reaching the controller, the headline and the licence link.
#include <windows.h>

#include <filesystem>

#include "gui/GdiPlus.h"
#include "gui/ImageCache.h"
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
  void SetUp() override { useConfig(configDocument(kOneTask)); }

  void open() {
    page = new WelcomePage(&controller, 660, 480);
    host(page);
  }

  static constexpr const char* kOneTask =
      R"({ "name": "quicklaunchicon", "type": "task", "checked": true, "desc": "快速启动栏" })";
  Recorder controller;
  WelcomePage* page = nullptr;
};

TEST_F(WelcomePageTest, LicenceStartsCheckedWithBothInstallButtonsEnabled) {
  open();
  EXPECT_TRUE(Api::licenceBox(*page)->isChecked());
  EXPECT_EQ(Api::oneKeyButton(*page)->state(), QxButton::Normal);
  EXPECT_EQ(Api::customButton(*page)->state(), QxButton::Normal);
  EXPECT_EQ(page->child(page->childCount() - 1), static_cast<QxWidget*>(Api::licenceBox(*page)))
      << "the licence box lies above the rest";
}

TEST_F(WelcomePageTest, UncheckingTheLicenceDisablesBothInstallButtons) {
  open();
  QxCheckBox* box = Api::licenceBox(*page);
  QxTextButton* oneKey = Api::oneKeyButton(*page);
  QxButton* custom = Api::customButton(*page);

  click(box->x() + 5, box->y() + 5);
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(oneKey->state(), QxButton::Disabled);
  EXPECT_EQ(custom->state(), QxButton::Disabled);
  click(291 + 88, 259 + 21);
  click(543 + 40, 408 + 7);
  moveTo(291 + 88, 259 + 21);
  EXPECT_EQ(oneKey->state(), QxButton::Disabled) << "no mouse rule leaves the disabled state";
  EXPECT_TRUE(controller.commands.empty());

  click(box->x() + 5, box->y() + 5);
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(oneKey->state(), QxButton::Normal);
  EXPECT_EQ(custom->state(), QxButton::Normal);
  click(291 + 88, 259 + 21);
  click(543 + 40, 408 + 7);
  EXPECT_EQ(controller.commands, (std::vector<std::string>{"btnOneKeyInstall", "btnCustomInstall"}));
}

TEST_F(WelcomePageTest, HeadlineIs34PixelsPerCharacterAndDrawnInBlue) {
  ImageCache::instance();  // GDI+ runs while the cache lives
  {
    Gdiplus::FontFamily family(L"\u5FAE\u8F6F\u96C5\u9ED1");  // 微软雅黑
    ASSERT_EQ(family.GetLastStatus(), Gdiplus::Ok) << "the prefix maps no CJK font to the face";
  }
  open();
  int w = 0, h = 0;
  ASSERT_TRUE(Api::headlineSize(*page, w, h));
  EXPECT_EQ(w, 340);  // ten characters
  EXPECT_EQ(h, 32);
  // The headline's colour (R 0x00, G 0x5C, B 0xB2) covers part of its rectangle.
  int ink = 0;
  for (int y = 188; y < 220; ++y)
    for (int x = 291; x < 291 + 340; ++x)
      if (channelDistance(pixel(x, y), 0x005CB2) < 40)
        ++ink;
  EXPECT_GT(ink, 300);
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
