#include "app/SetupCommand.h"

#include <gtest/gtest.h>

#include "app/InstallPath.h"

namespace {

SetupCommandInput defaultInput() {
  SetupCommandInput input;
  input.setupDir = "C:\\Temp\\Qx_Temp\\2026127103055123\\";
  input.windowTitle = "星海奇遇记安装程序";
  input.installPath = "C:\\Program Files\\vantorworlds";
  return input;
}

TEST(SetupCommand, DefaultCommandLine) {
  SetupCommandInput input = defaultInput();
  input.extraArguments = "/MERGETASKS=\"quicklaunchicon,runafterinstall\"";
  EXPECT_EQ(buildSetupCommand(input),
            "\"C:\\Temp\\Qx_Temp\\2026127103055123\\setup.exe\" /verysilent"
            " -installPath \"C:\\Program Files\\vantorworlds\""
            " -notify_wnd \"星海奇遇记安装程序\""
            " -silentInstall \"false\""
            " -startGame \"false\""
            " /MERGETASKS=\"quicklaunchicon,runafterinstall\"");
}

// Empty extra arguments still leave their separator.
TEST(SetupCommand, CallerOptionsReachThePayloadAsTheyWereGiven) {
  SetupCommandInput input = defaultInput();
  input.silent = true;
  input.options = {{"-installPath", "E:\\My Games\\"},
                   {"-notify_wnd", "Parent"},
                   {"-zeta", "say \"hi\""},
                   {"-alpha", "1"},
                   {"/verysilent", ""},
                   {"/path", ""},
                   {"F:\\My Games", ""}};
  input.installPath = installPathForRun(input.options, "C:\\chosen");
  EXPECT_EQ(buildSetupCommand(input),
            "\"C:\\Temp\\Qx_Temp\\2026127103055123\\setup.exe\" /verysilent"
            " -alpha \"1\""
            " -installPath \"E:\\My Games\""
            " -notify_wnd \"星海奇遇记安装程序\""
            " -silentInstall \"true\""
            " -startGame \"false\""
            " -zeta \"say \\\"hi\\\"\""
            " /path \"F:\\My Games\" ");
}

// The folder the payload is told, from what the player typed, the registry held or a
// caller supplied, and how it stands on the payload's command line.
TEST(SetupCommand, InstallPathsSurviveTheCommandLine) {
  struct Case {
    const char* supplied;  // a caller's "-installPath", or null
    const char* chosen;
    const char* path;
    const char* onCommandLine;
  };
  const Case cases[] = {
      {nullptr, "D:\\", "D:\\", "-installPath \"D:\\\\\" -notify_wnd"},
      {nullptr, "D:", "D:\\", "-installPath \"D:\\\\\" -notify_wnd"},
      {nullptr, "D:\\Games\\\\/", "D:\\Games", "-installPath \"D:\\Games\" -notify_wnd"},
      // The second byte of this character is 0x5C, a backslash on its own.
      {nullptr, "D:\\游戏\\俓", "D:\\游戏\\俓", "-installPath \"D:\\游戏\\俓\" -notify_wnd"},
      {"\"E:\\Quoted\\\"", "C:\\chosen", "E:\\Quoted", "-installPath \"E:\\Quoted\" -notify_wnd"},
      {"", "C:\\chosen", "C:\\chosen", "-installPath \"C:\\chosen\" -notify_wnd"},
  };
  for (const Case& c : cases) {
    SetupCommandInput input = defaultInput();
    if (c.supplied)
      input.options["-installPath"] = c.supplied;
    input.installPath = installPathForRun(input.options, c.chosen);
    EXPECT_EQ(input.installPath, c.path) << c.chosen;
    EXPECT_NE(buildSetupCommand(input).find(c.onCommandLine), std::string::npos) << buildSetupCommand(input);
  }
  EXPECT_EQ(pathInFolder("D:\\", "Vantor.exe"), "D:\\Vantor.exe");
  EXPECT_EQ(pathInFolder("D:\\Games", "Vantor.exe"), "D:\\Games\\Vantor.exe");
  EXPECT_EQ(pathInFolder("D:\\俓", "Vantor.exe"), "D:\\俓\\Vantor.exe");
}

TEST(SetupCommand, SpreaderCode) {
  EXPECT_EQ(spreaderCodeOf("C:\\Users\\x\\Downloads\\name.12345.dl.exe"), "12345");
  EXPECT_EQ(spreaderCodeOf("name.12345.dlx.exe"), "12345");
  EXPECT_EQ(spreaderCodeOf("a/b/name..dl.exe"), "");
  EXPECT_EQ(spreaderCodeOf("name.exe"), "");
  EXPECT_EQ(spreaderCodeOf("name.12345.d.exe"), "");
  EXPECT_EQ(spreaderCodeOf("12345.dl.exe"), "");
  EXPECT_EQ(spreaderCodeOf("x.y.777.dl.exe"), "777");
}

} // namespace
