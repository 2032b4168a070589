// The option page in a real frame window: the path check with both warnings governing
// "下一步", the task list and the reset. The folder browser and typed keys are the
// whole program's (its custom-path scenarios).
#include <windows.h>

#include <map>

#include "gui/QxCheckBox.h"
#include "gui/QxTextBox.h"
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
  std::string status() const { return Api::status(*page); }
  std::string applied(const std::string& before);

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

// Each typed path in turn, with the free bytes on C: then: the install path afterwards and
// what the page shows. A refused path keeps the last good one and the last free space.
// Free space is rounded to hundredths of a gigabyte.
TEST_F(OptionPageTest, PathCheckWarnsAndGovernsTheNextButton) {
  open(kOneTask);
  EXPECT_EQ(Api::pathBox(*page)->getText(), "C:\\Program Files\\vantorworlds");
  // The labels made with the page, before anything was typed.
  EXPECT_EQ(status(), "所需磁盘空间：1000 MB | 可用磁盘空间：50 GB | next 0");
  const std::string invalid = " | 该目录为无效路径，请重新选择其他路径 | next 3";
  const std::string small = " | 可用磁盘空间不足，请重新选择其他路径 | next 3";
  const struct {
    std::string text;
    std::int64_t freeOnC;  // -1: the query fails
    std::string path;
    std::string status;  // after the needed space
  } cases[] = {
      {"C:", 50 * kGiB, "C:\\vantorworlds", "可用磁盘空间：50GB | next 0"},
      {"C:\\Games", 50 * kGiB, "C:\\Games", "可用磁盘空间：50GB | next 0"},
      {"", 50 * kGiB, "C:\\Games", "可用磁盘空间：50GB | next 0"},  // an empty box changes nothing
      {"C:/Games", 50 * kGiB, "C:\\Games", "可用磁盘空间：50GB" + invalid},
      {"C:\\Ga*mes", 50 * kGiB, "C:\\Games", "可用磁盘空间：50GB" + invalid},
      {"C:\\Ga|mes", 50 * kGiB, "C:\\Games", "可用磁盘空间：50GB" + invalid},
      {"Games", 50 * kGiB, "C:\\Games", "可用磁盘空间：50GB" + invalid},
      {missingDrive() + ":\\Games", 50 * kGiB, "C:\\Games", "可用磁盘空间：50GB" + invalid},
      {"C:\\游戏\\星海", 50 * kGiB, "C:\\游戏\\星海", "可用磁盘空间：50GB | next 0"},
      {"C:\\Ga\"mes", 50 * kGiB, "C:\\游戏\\星海", "可用磁盘空间：50GB" + invalid},
      {"C:\\Games\\", 50 * kGiB, "C:\\Games", "可用磁盘空间：50GB | next 0"},
      {"C:\\", 50 * kGiB, "C:\\", "可用磁盘空间：50GB | next 0"},
      // Too little space warns but takes the path; a failed query counts as nothing free.
      {"C:\\Small", kGiB / 2, "C:\\Small", "可用磁盘空间：0.5GB" + small},
      {"C:\\Other", -1, "C:\\Other", "可用磁盘空间：0GB" + small},
      {"C:\\Roomy", 2 * kGiB, "C:\\Roomy", "可用磁盘空间：2GB | next 0"},
      {"C:\\Up", kGiB * 123451 / 10000, "C:\\Up", "可用磁盘空间：12.35GB | next 0"},
      {"C:\\Down", kGiB * 123449 / 10000, "C:\\Down", "可用磁盘空间：12.34GB | next 0"},
      {"C:\\Huge", kGiB * 4096, "C:\\Huge", "可用磁盘空间：4096GB | next 0"},
  };
  for (const auto& c : cases) {
    if (c.freeOnC < 0)
      g_free.erase("C:\\");
    else
      g_free["C:\\"] = c.freeOnC;
    type(c.text);
    EXPECT_EQ(installPath(), c.path) << c.text;
    EXPECT_EQ(status(), "所需磁盘空间：1000 MB | " + c.status) << c.text;
  }
}

// The arguments the options and then the tasks add, after `before`.
std::string OptionPageTest::applied(const std::string& before) {
  InstallManager::instance().setExtraArguments(before);
  page->applyOptions();
  page->applyTasks();
  return InstallManager::instance().getExtraArguments();
}

TEST_F(OptionPageTest, TaskListOptionArgumentsAndTheReset) {
  open(kFiveOptions);
  // "Task" is not "task": only exact types count.
  EXPECT_EQ(applied("-channel 7 "), "-channel 7 -autoupdate true -beta false "
                                    " /MERGETASKS=\"quicklaunchicon,!desktopicon,runafterinstall\"");

  // The user's clicks decide, not the configuration.
  const std::vector<QxCheckBox*> boxes = Api::optionBoxes(*page);
  for (int box : {0, 1, 3})
    click(boxes[box]->x() + 5, boxes[box]->y() + 5);
  EXPECT_EQ(applied(""), "-autoupdate true -beta true  /MERGETASKS=\"!quicklaunchicon,desktopicon,runafterinstall\"");
  EXPECT_TRUE(controller.commands.empty()) << "option boxes talk to the page only";

  // The reset puts back what the configuration says, whatever was clicked.
  page->resetOptions();
  EXPECT_EQ(applied(""), "-autoupdate true -beta false  /MERGETASKS=\"quicklaunchicon,!desktopicon,runafterinstall\"");
}

// On a shown page (it costs seconds): the path box's edit control hides with the page.
// Its document turns "runafterinstall" off.
TEST_F(OptionPageTest, TheEditHidesWithThePageAndNoRunAfterInstallWhenConfiguredOff) {
  open(kOneTask, R"("runAfterInstall": false,)", true);
  HWND edit = Api::pathBox(*page)->editWindow();
  EXPECT_TRUE(IsWindowVisible(edit));
  page->setVisible(false);
  EXPECT_FALSE(IsWindowVisible(edit));
  page->setVisible(true);
  EXPECT_TRUE(IsWindowVisible(edit));
  Api::optionBoxes(*page)[0]->setChecked(false);
  EXPECT_EQ(applied(""), " /MERGETASKS=\"!quicklaunchicon,!runafterinstall\"");
}

} // namespace
