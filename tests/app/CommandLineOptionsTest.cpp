#include "app/CommandLineOptions.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLineOptions, DashOptionsTakeTheNextArgumentAndEverythingElseIsAKey) {
  const struct {
    std::vector<std::string> args;
    CommandLineMap map;
  } cases[] = {
      {{"-installPath", "D:\\Games\\x", "/verysilent"}, {{"-installPath", "D:\\Games\\x"}, {"/verysilent", ""}}},
      {{"/a", "-last"}, {{"/a", ""}, {"-last", ""}}},
      {{"-notify_wnd", "-x"}, {{"-notify_wnd", "-x"}}},
      // "/path" keeps no value of its own: its folder becomes a key too.
      {{"/path", "E:\\g"}, {{"/path", ""}, {"E:\\g", ""}}},
      {{"/path"}, {{"/path", ""}}},
      {{"-b", "1", "-a", "2", "-b", "3", "/z"}, {{"-a", "2"}, {"-b", "3"}, {"/z", ""}}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "installer.exe");
    EXPECT_EQ(CommandLineOptions::build(args), c.map) << ::testing::PrintToString(c.args);
  }
  EXPECT_TRUE(CommandLineOptions::build({}).empty());
}

} // namespace
