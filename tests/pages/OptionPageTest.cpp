// The option page in a real frame window: the path check with both warnings governing
// "下一步", the task list and the reset. The folder browser and typed keys are the
// whole program's (its custom-path scenarios).
#include <windows.h>

#include <map>

#include "gui/QxCheckBox.h"
#include "gui/QxTextBox.h"
#include "gui/QxTextButton.h"
#include "gui/QxTextField.h"
#include "pages/OptionPage.h"
#include "pages/OptionPageTestApi.h"
#include "tests/pages/PageTestSupport.h"

using namespace pages_test;

namespace {

using Api = OptionPageTestApi;
constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

// Free bytes by volume root; a root missing from the table fails like the system call.
std::map<std::string, std::uint64_t> g_free;
bool tableFreeBytes(const std::string& root, std::uint64_t& bytes) {
  auto found = g_free.find(root);
  if (found == g_free.end())
    return false;
  bytes = found->second;
  return true;
}

const char* const kFiveOptions = R"(
    { "name": "quicklaunchicon", "type": "task", "checked": true, "desc": "快速启动栏" },
    { "name": "desktopicon", "type": "task", "checked": false, "desc": "桌面图标" },
    { "name": "autoupdate", "type": "option", "checked": true, "desc": "自动更新" },
    { "name": "beta", "type": "option", "checked": false, "desc": "测试版" },
    { "name": "readme", "type": "Task", "checked": true, "desc": "说明" })";

const char* const kOneTask =
    R"({ "name": "quicklaunchicon", "type": "task", "checked": true, "desc": "快速启动栏" })";

class OptionPageTest : public PageTest {
protected:
  void SetUp() override {
    g_free = {{"C:", 50 * kGiB}, {"C:\\", 50 * kGiB}};
    Api::setFreeBytesQuery(tableFreeBytes);
    InstallManager::instance().setExtraArguments("");
  }
  void TearDown() override {
    PageTest::TearDown();
    Api::setFreeBytesQuery(nullptr);
    InstallManager::instance().setExtraArguments("");
  }

  void open(const char* options, const std::string& extra = "", bool shown = false) {
    useConfig(configDocument(options, extra));
    InstallManager::instance().setInstallPath("C:\\Program Files\\vantorworlds");
    page = new OptionPage(&controller, 660, 480);
    host(page, shown);
    frame->optionPage = page;
  }

  // Replaces the path box's text as a paste would; the edit control reports the change.
  void type(const std::string& text) {
    SetWindowTextA(Api::pathBox(*page)->editWindow(), text.c_str());
    pump.runFor(5);
  }

  std::string installPath() const { return InstallManager::instance().getInstallPath(); }
  int nextState() const { return Api::nextButton(*page)->state(); }
  bool warningShown() const { return Api::warningLabel(*page)->isVisible(); }
  std::string warning() const { return Api::warningLabel(*page)->text(); }

  Recorder controller;
  OptionPage* page = nullptr;
};

// The first drive letter from Q on that this machine does not have.
std::string missingDrive() {
  const DWORD drives = GetLogicalDrives();
  for (char letter = 'Q'; letter <= 'Y'; ++letter)
    if (!(drives & (1u << (letter - 'A'))))
      return std::string(1, letter);
  return "Y";
}

TEST_F(OptionPageTest, FreeSpaceIsRoundedToHundredthsOfAGigabyte) {
  const struct {
    std::uint64_t bytes;
    const char* label;
  } cases[] = {{kGiB * 123451 / 10000, "可用磁盘空间：12.35 GB"},
               {kGiB * 123449 / 10000, "可用磁盘空间：12.34 GB"},
               {2 * kGiB, "可用磁盘空间：2 GB"},
               {kGiB / 1000, "可用磁盘空间：0 GB"},
               {kGiB * 4096, "可用磁盘空间：4096 GB"}};
  useConfig(configDocument(kOneTask));
  InstallManager::instance().setInstallPath("C:\\Games");
  for (const auto& c : cases) {
    g_free["C:"] = c.bytes;
    // The label is made with the page; no window is needed for it.
    OptionPage lone(&controller, 660, 480);
    EXPECT_EQ(Api::availableLabel(lone)->text(), c.label) << c.bytes;
    EXPECT_EQ(Api::neededLabel(lone)->text(), "所需磁盘空间：1000 MB");
  }
}

TEST_F(OptionPageTest, PathCheckWarnsAndGovernsTheNextButton) {
  open(kOneTask);
  EXPECT_EQ(Api::pathBox(*page)->getText(), "C:\\Program Files\\vantorworlds");
  const std::string absent = missingDrive();
  g_free["D:\\"] = kGiB / 2;  // 512 MB: less than the 1000 MB needed
  const struct {
    std::string text;
    const char* warning;  // null: no warning shown
    std::string path;     // install path afterwards
  } cases[] = {
      {"C:", nullptr, "C:\\vantorworlds"},
      {"C:\\Games", nullptr, "C:\\Games"},
      {"C:/Games", "该目录为无效路径，请重新选择其他路径", "C:\\Games"},
      {"C:\\Ga*mes", "该目录为无效路径，请重新选择其他路径", "C:\\Games"},
      {"C:\\Ga|mes", "该目录为无效路径，请重新选择其他路径", "C:\\Games"},
      {"Games", "该目录为无效路径，请重新选择其他路径", "C:\\Games"},
      {absent + ":\\Games", "该目录为无效路径，请重新选择其他路径", "C:\\Games"},
      {"C:\\游戏\\星海", nullptr, "C:\\游戏\\星海"},
      {"C:\\Ga\"mes", "该目录为无效路径，请重新选择其他路径", "C:\\游戏\\星海"},
      {"C:\\Games\\", nullptr, "C:\\Games"},
      {"C:\\", nullptr, "C:\\"},
  };
  for (const auto& c : cases) {
    type(c.text);
    EXPECT_EQ(installPath(), c.path) << c.text;
    EXPECT_EQ(warningShown(), c.warning != nullptr) << c.text;
    if (c.warning) {
      EXPECT_EQ(warning(), c.warning) << c.text;
    }
    EXPECT_EQ(nextState(), c.warning ? 3 : 0) << c.text;
    EXPECT_EQ(Api::availableLabel(*page)->text(), "可用磁盘空间：50GB") << c.text;
  }
}

// On a shown page (each costs seconds): too little space warns but takes the path, and the
// path box's edit control hides with the page.
TEST_F(OptionPageTest, TooLittleSpaceWarnsButTakesThePathAndTheEditHidesWithThePage) {
  open(kOneTask, "", true);
  g_free["C:\\"] = kGiB / 2;
  type("C:\\Small");
  EXPECT_EQ(installPath(), "C:\\Small");
  EXPECT_TRUE(warningShown());
  EXPECT_EQ(warning(), "可用磁盘空间不足，请重新选择其他路径");
  EXPECT_EQ(nextState(), 3);
  EXPECT_EQ(Api::availableLabel(*page)->text(), "可用磁盘空间：0.5GB");

  // A failed query counts as nothing free.
  g_free.erase("C:\\");
  type("C:\\Other");
  EXPECT_EQ(warning(), "可用磁盘空间不足，请重新选择其他路径");
  EXPECT_EQ(Api::availableLabel(*page)->text(), "可用磁盘空间：0GB");

  // Room again: the warning goes and "下一步" works.
  g_free["C:\\"] = 2 * kGiB;
  type("C:\\Roomy");
  EXPECT_FALSE(warningShown());
  EXPECT_EQ(nextState(), 0);
  click(563 + 40, 420 + 15);
  EXPECT_EQ(controller.commands, std::vector<std::string>{"btnNext"});

  HWND edit = Api::pathBox(*page)->editWindow();
  EXPECT_TRUE(IsWindowVisible(edit));
  page->setVisible(false);
  EXPECT_FALSE(IsWindowVisible(edit));
  page->setVisible(true);
  EXPECT_TRUE(IsWindowVisible(edit));
}

TEST_F(OptionPageTest, DisabledNextSendsNothingAndAnEmptyBoxChangesNothing) {
  open(kOneTask);
  type("C:/bad");
  ASSERT_EQ(nextState(), 3);
  click(563 + 40, 420 + 15);
  click(473 + 40, 420 + 15);
  EXPECT_EQ(controller.commands, std::vector<std::string>{"btnPrevious"});
  type("");
  EXPECT_EQ(nextState(), 3);
  EXPECT_EQ(installPath(), "C:\\Program Files\\vantorworlds");
}

TEST_F(OptionPageTest, TaskListOptionArgumentsAndTheReset) {
  open(kFiveOptions);
  InstallManager& manager = InstallManager::instance();
  manager.setExtraArguments("-channel 7 ");
  page->applyOptions();
  EXPECT_EQ(manager.getExtraArguments(), "-channel 7 -autoupdate true -beta false ");
  page->applyTasks();
  // "Task" is not "task": only exact types count.
  EXPECT_EQ(manager.getExtraArguments(),
            "-channel 7 -autoupdate true -beta false "
            " /MERGETASKS=\"quicklaunchicon,!desktopicon,runafterinstall\"");

  // The user's clicks decide, not the configuration.
  const std::vector<QxCheckBox*> boxes = Api::optionBoxes(*page);
  click(boxes[0]->x() + 5, boxes[0]->y() + 5);
  click(boxes[1]->x() + 5, boxes[1]->y() + 5);
  click(boxes[3]->x() + 5, boxes[3]->y() + 5);
  manager.setExtraArguments("");
  page->applyOptions();
  page->applyTasks();
  EXPECT_EQ(manager.getExtraArguments(),
            "-autoupdate true -beta true  /MERGETASKS=\"!quicklaunchicon,desktopicon,runafterinstall\"");
  EXPECT_TRUE(controller.commands.empty()) << "option boxes talk to the page only";

  // The reset puts back what the configuration says, whatever was clicked.
  page->resetOptions();
  manager.setExtraArguments("");
  page->applyOptions();
  page->applyTasks();
  EXPECT_EQ(manager.getExtraArguments(),
            "-autoupdate true -beta false  /MERGETASKS=\"quicklaunchicon,!desktopicon,runafterinstall\"");
}

TEST_F(OptionPageTest, NoRunAfterInstallWhenConfiguredOff) {
  open(kOneTask, R"("runAfterInstall": false,)");
  Api::optionBoxes(*page)[0]->setChecked(false);
  page->applyTasks();
  EXPECT_EQ(InstallManager::instance().getExtraArguments(), " /MERGETASKS=\"!quicklaunchicon,!runafterinstall\"");
}

} // namespace
