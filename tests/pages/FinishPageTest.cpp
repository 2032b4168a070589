// The finish page in a real frame window: its button starts the game at the install path
// (a path with a space, with a decoy where an unquoted command would lead) and ends the
// installer with code 0.
#include <windows.h>

#include "pages/FinishPage.h"
#include "tests/pages/PageTestSupport.h"

using namespace pages_test;

namespace {

class FinishPageTest : public PageTest {
protected:
  void SetUp() override {
    useConfig(configDocument(""));
    folder = windowsPath(qxtest::scratchFolder("pages-finish"));
    game = folder + "\\Vantor Game";
    ASSERT_TRUE(CreateDirectoryA(game.c_str(), nullptr));
    const std::string fake = windowsPath(QX_FAKE_GAME);
    ASSERT_TRUE(CopyFileA(fake.c_str(), (game + "\\Vantor.exe").c_str(), FALSE));
    // Where the system would look first for an unquoted "...\Vantor Game\Vantor.exe".
    ASSERT_TRUE(CopyFileA(fake.c_str(), (folder + "\\Vantor.exe").c_str(), FALSE));
    InstallManager::instance().setInstallPath(game);
    page = new FinishPage(660, 480);
    host(page);
    pump.quit = false;
  }
  void pressFinish() { click(241 + 88, 406 + 21); }

  std::string folder, game;
  FinishPage* page = nullptr;
};

TEST_F(FinishPageTest, StartsTheGameInItsFolderAndQuitsWithZero) {
  pressFinish();
  ASSERT_TRUE(pump.until([&] { return pump.quit; }, 5000));
  EXPECT_EQ(pump.quitCode, 0);
  const std::string record = waitForFile(game + "\\started.txt", 15000);
  ASSERT_FALSE(record.empty()) << "the game did not start";
  // The program, then the folder it was started in.
  EXPECT_EQ(record.substr(0, record.find('\n', record.find('\n') + 1)), game + "\\Vantor.exe\n" + game);
  EXPECT_FALSE(qxtest::fileExists(folder + "\\started.txt")) << "the decoy ran";
}

} // namespace
