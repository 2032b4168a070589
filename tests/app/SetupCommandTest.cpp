#include "app/SetupCommand.h"

#include <gtest/gtest.h>

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

TEST(SetupCommand, EmptyExtraArgumentsStillLeaveTheSeparator) {
  const std::string command = buildSetupCommand(defaultInput());
  EXPECT_EQ(command.substr(command.size() - 19), "-startGame \"false\" ");
}

TEST(SetupCommand, CallerOptionsAreKeptInKeyOrder) {
  SetupCommandInput input = defaultInput();
  input.silent = true;
  input.options = {{"-installPath", "E:\\My Games"},
                   {"-notify_wnd", "Parent"},
                   {"-zeta", "\"already quoted\""},
                   {"-alpha", "1"},
                   {"/verysilent", ""},
                   {"/path", ""},
                   {"F:\\g", ""}};
  EXPECT_EQ(buildSetupCommand(input),
            "\"C:\\Temp\\Qx_Temp\\2026127103055123\\setup.exe\" /verysilent"
            " -alpha \"1\""
            " -installPath \"E:\\My Games\""
            " -notify_wnd \"星海奇遇记安装程序\""
            " -silentInstall \"true\""
            " -startGame \"false\""
            " -zeta \"already quoted\""
            " /path F:\\g ");
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
