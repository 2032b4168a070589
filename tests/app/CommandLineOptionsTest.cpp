#include "app/CommandLineOptions.h"

#include <gtest/gtest.h>

namespace {

CommandLineMap parse(std::vector<std::string> args) {
  args.insert(args.begin(), "installer.exe");
  return CommandLineOptions::build(args);
}

TEST(CommandLineOptions, DashOptionTakesTheNextArgumentOtherArgumentsHaveNoValue) {
  const CommandLineMap map = parse({"-installPath", "D:\\Games\\x", "/verysilent"});
  EXPECT_EQ(map, (CommandLineMap{{"-installPath", "D:\\Games\\x"}, {"/verysilent", ""}}));
}

TEST(CommandLineOptions, DashOptionGivenLastHasAnEmptyValue) {
  EXPECT_EQ(parse({"/a", "-last"}), (CommandLineMap{{"/a", ""}, {"-last", ""}}));
}

TEST(CommandLineOptions, ADashValueIsTakenAsTheValue) {
  EXPECT_EQ(parse({"-notify_wnd", "-x"}), (CommandLineMap{{"-notify_wnd", "-x"}}));
}

TEST(CommandLineOptions, PathSwitchIsNotADashOption) {
  // "/path" keeps no value of its own: its folder becomes a key too.
  EXPECT_EQ(parse({"/path", "E:\\g"}), (CommandLineMap{{"/path", ""}, {"E:\\g", ""}}));
  EXPECT_EQ(parse({"/path"}), (CommandLineMap{{"/path", ""}}));
}

TEST(CommandLineOptions, LaterKeyReplacesEarlierAndKeysAreOrderedBytewise) {
  const CommandLineMap map = parse({"-b", "1", "-a", "2", "-b", "3", "/z"});
  std::vector<std::string> keys;
  for (const auto& entry : map)
    keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"-a", "-b", "/z"}));
  EXPECT_EQ(map.at("-b"), "3");
}

TEST(CommandLineOptions, ProgramNameAloneGivesAnEmptyMap) {
  EXPECT_TRUE(CommandLineOptions::build({"installer.exe"}).empty());
  EXPECT_TRUE(CommandLineOptions::build({}).empty());
}

} // namespace
