// The ".parts" text is read back only when it is whole and names this package, with the
// server's validator when it gave one. How ranges merge and are handed out is proven by
// the transfer engine's simulation.
#include "download/SegmentMap.h"

#include <gtest/gtest.h>

namespace {

const std::string kMd5 = "0123456789ABCDEF0123456789ABCDEF";

TEST(SegmentMap, PartsTextIsReadBackOnlyWhenWholeAndOfThisPackage) {
  SegmentMap map(5368709120);
  map.add(0, 1048576);
  map.add(4294967296, 4294967396);
  const std::string text = map.text(kMd5);
  EXPECT_EQ(text, "5368709120\n" + kMd5 + "\n0-1048575\n4294967296-4294967395\nend\n");
  const std::optional<SegmentMap> back = SegmentMap::parse(text, 5368709120, kMd5);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->ranges(), map.ranges());
  EXPECT_EQ(back->onDisk(), map.onDisk());
  EXPECT_TRUE(SegmentMap::parse(SegmentMap(10).text(kMd5), 10, kMd5));  // nothing yet
  // The version the bytes belong to, sent back as If-Range.
  const std::string withValidator = map.text(kMd5, "\"v1\"");
  EXPECT_EQ(withValidator, "5368709120\n" + kMd5 + "\nIf-Range: \"v1\"\n0-1048575\n4294967296-4294967395\nend\n");
  std::string validator;
  ASSERT_TRUE(SegmentMap::parse(withValidator, 5368709120, kMd5, &validator));
  EXPECT_EQ(validator, "\"v1\"");

  const char* const damaged[] = {
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-1048575\n",                 // cut before "end"
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-1048575\nend",              // no last feed
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-10485x5\nend\n",            // not a number
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n100-50\nend\n",               // backwards
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n50-100\n0-10\nend\n",         // out of order
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-10\n11-20\nend\n",          // touching: not ours
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-5368709120\nend\n",         // past the end
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n-5-10\nend\n",
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-10\nIf-Range: \"v1\"\nend\n",  // not where it goes
      "",
  };
  for (const char* text : damaged)
    EXPECT_FALSE(SegmentMap::parse(text, 5368709120, kMd5)) << text;
  // Another package's.
  EXPECT_FALSE(SegmentMap::parse(text, 5368709121, kMd5));
  EXPECT_FALSE(SegmentMap::parse(text, 5368709120, "FEDCBA9876543210FEDCBA9876543210"));
}

} // namespace
