#include "app/ArgumentQuoting.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

TEST(ArgumentQuoting, QuotesByTheWindowsRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"a b", "\"a b\""},
      {"D:\\", "\"D:\\\\\""},
      {"D:\\Games\\\\", "\"D:\\Games\\\\\\\\\""},
      {"C:\\a\\b", "\"C:\\a\\b\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},
      // 0x82 0x5C is one character: its second byte is no backslash to double.
      {"D:\\俓", "\"D:\\俓\""},
  };
  for (const auto& [argument, quoted] : cases)
    EXPECT_EQ(quoteArgument(std::string(argument)), quoted) << argument;
  EXPECT_EQ(quoteArgument(std::wstring(L"D:\\x\\")), L"\"D:\\x\\\\\"");
}

TEST(ArgumentQuoting, JoinsBareWordsBareAndTheRestQuoted) {
  EXPECT_EQ(joinArguments({"/path", "C:\\My Games", "-x", "", "a\tb", "-y", "1"}),
            "/path \"C:\\My Games\" -x \"\" \"a\tb\" -y 1");
  EXPECT_EQ(joinArguments(std::vector<std::wstring>{L"-a", L"b c"}), L"-a \"b c\"");
  EXPECT_EQ(joinArguments(std::vector<std::string>{}), "");
}

#ifdef _WIN32
// The system's own parser reads back exactly what was joined.
TEST(ArgumentQuoting, TheSystemParserReadsBackEveryArgument) {
  const std::vector<std::wstring> arguments{
      L"D:\\", L"D:\\Games\\", L"C:\\My Games\\Vantor", L"\u6e38\u620f \u76ee\u5f55\\",
      L"say \"hi\"", L"\\\\server\\share\\", L"", L"a\\\\\"b\\", L"\t"};
  const std::wstring line = L"program.exe " + joinArguments(arguments);
  int count = 0;
  LPWSTR* parsed = CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(parsed, nullptr);
  std::vector<std::wstring> back(parsed + 1, parsed + count);
  LocalFree(parsed);
  EXPECT_EQ(back, arguments);
}
#endif

} // namespace
