// Start-up as a user meets it: real installer processes under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/Elevation.h"
#include "app/SelfRestart.h"
#include "app/SingleInstance.h"
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
  EXPECT_EQ(dialogs.boxes(), (qxtest::Boxes{{"提示", "游戏已经启动了！"}}));

  // The silent one is not refused: it goes on to its update query, which has no server
  // here, and ends with that failure instead.
  EXPECT_EQ(qxtest::runProcess(qxtest::quoted(kLoopbackInstaller) + " /verysilent", 60000), 1);
  EXPECT_EQ(dialogs.boxes(), (qxtest::Boxes{{"提示", "游戏已经启动了！"}, {"提示", "服务器出错了！请稍后再试。"}}));
  CloseHandle(first);
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
    EXPECT_EQ(dialogs.boxes(), (qxtest::Boxes{{"错误", c.text}}));
  }
}

struct ShellCall {
  std::string verb, file, parameters;
  int show = -1;
  int count = 0;
} g_shell;

bool notElevated() { return false; }

// Records the re-launch, then starts a real program in its place that ends with 7.
BOOL runInsteadAndEndWith7(SHELLEXECUTEINFOA* info) {
  g_shell = {info->lpVerb, info->lpFile, info->lpParameters, info->nShow, g_shell.count + 1};
  info->lpVerb = "open";
  info->lpFile = "cmd.exe";
  info->lpParameters = "/c exit 7";
  info->nShow = SW_HIDE;
  return ShellExecuteExA(info);
}

BOOL refuse(SHELLEXECUTEINFOA*) {
  SetLastError(ERROR_CANCELLED);
  return FALSE;
}

TEST(Startup, WithoutAdministratorRightsTheElevatedCopysCodeIsTheExitCode) {
  setElevationSeams(notElevated, runInsteadAndEndWith7);
  const int code = runInstaller({"installer.exe", "-installPath", "D:\\", "/verysilent", "-channel", "a \"b\""});
  setElevationSeams(nullptr, nullptr);
  EXPECT_EQ(code, 7);
  ASSERT_EQ(g_shell.count, 1);
  EXPECT_EQ(g_shell.verb, "runas");
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  EXPECT_EQ(g_shell.file, self);
  // The same arguments, then the pipe on which the elevated copy asks for the game.
  const std::string same = "-installPath D:\\ /verysilent -channel \"a \\\"b\\\"\" -playerChannel \\\\.\\pipe\\qx-player-";
  EXPECT_EQ(g_shell.parameters.substr(0, same.size()), same);
  EXPECT_EQ(g_shell.show, SW_SHOW);

  // The player says no: nothing was installed, and the exit code says so.
  setElevationSeams(notElevated, refuse);
  EXPECT_EQ(runInstaller({"installer.exe", "/verysilent"}), 1);
  setElevationSeams(nullptr, nullptr);
}

std::wstring g_started;
bool g_lockFreeAtStart = false;
bool recordStart(const std::wstring& commandLine) {
  g_started = commandLine;
  HANDLE lock = OpenMutexW(SYNCHRONIZE, FALSE, L"星海奇遇记");
  g_lockFreeAtStart = lock == nullptr;
  if (lock)
    CloseHandle(lock);
  return true;
}

TEST(Startup, ARestartFreesTheInstanceLockAndKeepsTheArguments) {
  ASSERT_TRUE(acquireSingleInstance());
  setProcessStarter(recordStart);
  EXPECT_TRUE(startNewCopy({L"/path", L"C:\\My Games\\", L"-notify_wnd", L"\u7236 Parent", L"-x", L""}));
  setProcessStarter(nullptr);
  EXPECT_TRUE(g_lockFreeAtStart) << "the new copy would meet the old copy's lock";
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(g_started, L"\"" + std::wstring(self) +
                           L"\" /path \"C:\\My Games\\\\\" -notify_wnd \"\u7236 Parent\" -x \"\"");
  // And the next copy may take it.
  EXPECT_TRUE(acquireSingleInstance());
  releaseSingleInstance();
}

TEST(Startup, WineCountsAsElevated) {
  // The whole suite relies on it: otherwise every start would re-launch itself.
  EXPECT_TRUE(isProcessElevated());
}

} // namespace
