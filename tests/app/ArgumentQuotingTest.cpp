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

#ifdef _WIN32
// The system's own parser reads back exactly what was joined (bare where no quotes are
// needed, quoted otherwise).
TEST(ArgumentQuoting, TheSystemParserReadsBackEveryArgument) {
  const std::vector<std::wstring> arguments{
      L"D:\\", L"D:\\Games\\", L"C:\\My Games\\Vantor", L"\u6e38\u620f \u76ee\u5f55\\",
      L"say \"hi\"", L"\\\\server\\share\\", L"", L"a\\\\\"b\\", L"\t"};
  const std::wstring line = L"program.exe " + joinArguments(arguments);
  EXPECT_EQ(line.find(L"program.exe D:\\ D:\\Games\\ \"C:\\My Games\\Vantor\" "), 0u);
  int count = 0;
  LPWSTR* parsed = CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(parsed, nullptr);
  std::vector<std::wstring> back(parsed + 1, parsed + count);
  LocalFree(parsed);
  EXPECT_EQ(back, arguments);
}
#endif

} // namespace
