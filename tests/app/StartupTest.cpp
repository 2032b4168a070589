// Start-up as a user meets it: real installer processes under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/Elevation.h"
#include "app/Startup.h"
#include "tests/support/DialogWatcher.h"
#include "tests/support/Process.h"

namespace {

const std::string kInstaller = std::string(QX_BINARY_DIR) + "/installer.exe";
const std::string kBrokenInstaller = std::string(QX_BINARY_DIR) + "/tests/app/installer_broken_config.exe";
// Asks an update server on 127.0.0.1, where none listens during this test: its query
// fails at once instead of waiting for a name lookup.
const std::string kLoopbackInstaller = std::string(QX_BINARY_DIR) + "/tests/app/installer_e2e.exe";

TEST(Startup, SecondInstanceIsRefusedWhileASilentOneStarts) {
  HANDLE first = CreateMutexW(nullptr, TRUE, L"星海奇遇记");
  ASSERT_NE(first, nullptr);
  qxtest::DialogWatcher dialogs(IDOK, "installer");
  EXPECT_EQ(qxtest::runProcess(qxtest::quoted(kInstaller), 60000), 104);
  ASSERT_EQ(dialogs.boxes().size(), 1u);
  EXPECT_EQ(dialogs.boxes()[0].caption, "提示");
  EXPECT_EQ(dialogs.boxes()[0].text, "游戏已经启动了！");

  // The silent one is not refused: it goes on to its update query, which has no server
  // here, and ends with that failure instead.
  EXPECT_EQ(qxtest::runProcess(qxtest::quoted(kLoopbackInstaller) + " /verysilent", 60000), 1);
  ASSERT_EQ(dialogs.boxes().size(), 2u);
  EXPECT_EQ(dialogs.boxes()[1].text, "服务器出错了！请稍后再试。");
  CloseHandle(first);
}

TEST(Startup, FirstInstanceShowsItsWindowWithoutAQuestion) {
  qxtest::DialogWatcher dialogs(IDOK, "installer");
  std::string command = qxtest::quoted(kInstaller);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  HWND window = nullptr;
  for (int i = 0; i < 300 && !window; ++i) {
    window = FindWindowA("SimpleWindow", "星海奇遇记安装");
    if (!window)
      Sleep(100);
  }
  EXPECT_NE(window, nullptr);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "it ended by itself";
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_TRUE(dialogs.boxes().empty());
}

TEST(Startup, BrokenConfigurationShowsItsLabelAndEndsWith100) {
  const struct {
    std::string installer;
    std::string text;
  } cases[] = {
      {kBrokenInstaller, "读取carcouselPics出错。"},
      // A publisher's fingerprint pasted with the colons openssl prints.
      {std::string(QX_BINARY_DIR) + "/tests/app/installer_bad_signers.exe", "读取packageSigners出错。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installer);
    qxtest::DialogWatcher dialogs(IDOK, "installer");
    EXPECT_EQ(qxtest::runProcess(qxtest::quoted(c.installer), 60000), 100);
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_EQ(dialogs.boxes()[0].caption, "错误");
    EXPECT_EQ(dialogs.boxes()[0].text, c.text);
  }
}

struct ShellCall {
  std::string verb, file, parameters;
  int show = -1;
  int count = 0;
} g_shell;

bool notElevated() { return false; }
void recordShell(const std::string& verb, const std::string& file, const std::string& parameters, int show) {
  g_shell = {verb, file, parameters, show, g_shell.count + 1};
}

TEST(Startup, WithoutAdministratorRightsItStartsItselfElevatedAndEnds) {
  setElevationSeams(notElevated, recordShell);
  const int code = runInstaller("-installPath \"D:\\a b\" /verysilent", {"installer.exe", "-installPath", "D:\\a b", "/verysilent"});
  setElevationSeams(nullptr, nullptr);
  EXPECT_EQ(code, 0);
  ASSERT_EQ(g_shell.count, 1);
  EXPECT_EQ(g_shell.verb, "runas");
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  EXPECT_EQ(g_shell.file, self);
  EXPECT_EQ(g_shell.parameters, "-installPath \"D:\\a b\" /verysilent");
  EXPECT_EQ(g_shell.show, SW_SHOW);
}

TEST(Startup, WineCountsAsElevated) {
  // The whole suite relies on it: otherwise every start would re-launch itself.
  EXPECT_TRUE(isProcessElevated());
}

} // namespace
