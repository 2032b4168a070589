// Start-up: the elevated re-launch and what it relies on under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/Elevation.h"
#include "app/Startup.h"

namespace {

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

} // namespace
