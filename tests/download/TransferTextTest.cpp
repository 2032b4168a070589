// Sizes, ranges and side-file text past 2^31 and 2^32 bytes.
#include "download/TransferText.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

TEST(TransferText, ByteCountsAreDecimalAndSixtyFourBit) {
  for (const std::int64_t n : {0LL, 2147483648LL, 4294967296LL, 5368709120LL, 9223372036854775807LL}) {
    std::int64_t value = -7;
    EXPECT_TRUE(parseByteCount(std::to_string(n), value)) << n;
    EXPECT_EQ(value, n);
  }
  for (const char* bad : {"9223372036854775808", "99999999999999999999", "", "-1", "+1", " 1", "1 ", "12a", "0x10"}) {
    std::int64_t value = -7;
    EXPECT_FALSE(parseByteCount(bad, value)) << '"' << bad << '"';
    EXPECT_EQ(value, -7) << "a refused text leaves the count alone: " << bad;
  }
}

TEST(TransferText, ContentRange) {
  const auto parsed = [](const char* text) {
    ContentRange range{1, 2, 3};
    return std::make_tuple(parseContentRange(text, range), range.first, range.last, range.total);
  };
  EXPECT_EQ(parsed("bytes 2147483649-5368709119/5368709120"),
            std::make_tuple(true, 2147483649LL, 5368709119LL, 5368709120LL));
  EXPECT_EQ(parsed("bytes 4294967296-4294967299/*"), std::make_tuple(true, 4294967296LL, 4294967299LL, -1LL));
  for (const char* bad : {"bytes 5-4/10", "bytes 0-10/10", "items 0-1/2", "bytes 0-1/2 ", "bytes -1/2",
                          "bytes 0-1", "bytes 0-1/", "", "bytes */10"})
    EXPECT_EQ(parsed(bad), std::make_tuple(false, 1LL, 2LL, 3LL)) << bad;
}

TEST(TransferText, RangeHeaderAndSideFileCarryTheWholeNumber) {
  EXPECT_EQ(rangeHeader(1234567), "Range: bytes=1234567-\r\n");
  EXPECT_EQ(rangeHeader(4294967296LL + 5), "Range: bytes=4294967301-\r\n");
  EXPECT_EQ(rangeHeader(3221225472LL, 4294967295LL), "Range: bytes=3221225472-4294967295\r\n");
  // The form earlier builds wrote: decimal size, then the digest text, nothing else.
  EXPECT_EQ(sideFileText(1048576, "0cc175b9c0f1b6a831c399e269772661"), "10485760cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(sideFileText(5368709120LL, "abc"), "5368709120abc");
}

} // namespace

TEST(TransferText, MirrorAddressTakesTheAnnouncedFileName) {
  const struct {
    const char* announced;
    const char* expected;
  } cases[] = {
      {"https://cdn.example.com/game/1.0.3/setup_v103.exe", "https://cdn2.example.com/pkg/setup_v103.exe"},
      {"http://cdn.example.com/setup.exe?token=a/b#c", "https://cdn2.example.com/pkg/setup.exe"},
      {"http://cdn.example.com/game/", ""},
      {"http://cdn.example.com", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(mirrorAddress("https://cdn2.example.com/pkg/", c.announced), c.expected) << c.announced;
}
