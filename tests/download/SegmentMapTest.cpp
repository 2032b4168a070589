// Which bytes of a package are on disk when several connections write it: ranges merge
// as they meet, work is handed out in order around what others fetch, and the ".parts"
// text is read back only when it is whole and names this package.
#include "download/SegmentMap.h"

#include <gtest/gtest.h>

namespace {

using Range = SegmentMap::Range;
const std::string kMd5 = "0123456789ABCDEF0123456789ABCDEF";

TEST(SegmentMap, RangesMergeAndThePrefixGrowsOnlyWhenTheGapBeforeIsFilled) {
  SegmentMap map(100);
  map.add(40, 60);
  map.add(10, 20);
  EXPECT_EQ(map.prefixEnd(), 0);
  map.add(55, 70);   // overlaps
  map.add(20, 30);   // touches
  map.add(90, 150);  // clipped to the file
  EXPECT_EQ(map.ranges(), (std::vector<Range>{{10, 30}, {40, 70}, {90, 100}}));
  EXPECT_EQ(map.onDisk(), 20 + 30 + 10);
  map.add(0, 10);
  EXPECT_EQ(map.prefixEnd(), 30);
  map.add(30, 90);
  EXPECT_TRUE(map.complete());
  EXPECT_EQ(map.ranges(), (std::vector<Range>{{0, 100}}));
}

TEST(SegmentMap, ClaimsAreTheLowestBytesNeitherOnDiskNorBusy) {
  SegmentMap map(100);
  map.add(0, 10);
  map.add(50, 60);
  EXPECT_EQ(map.nextClaim({}, 100), (Range{10, 50}));  // up to the next range on disk
  EXPECT_EQ(map.nextClaim({}, 15), (Range{10, 25}));
  // Around what running connections still fetch.
  EXPECT_EQ(map.nextClaim({{10, 30}}, 100), (Range{30, 50}));
  EXPECT_EQ(map.nextClaim({{10, 50}, {70, 80}}, 100), (Range{60, 70}));
  EXPECT_EQ(map.nextClaim({{10, 50}, {60, 100}}, 100), std::nullopt);
  // A file of unknown size is claimed to its end, without overflow.
  SegmentMap unknown;
  unknown.add(0, 5);
  EXPECT_EQ(unknown.nextClaim({}, SegmentMap::kUnknownSize), (Range{5, SegmentMap::kUnknownSize}));
  EXPECT_EQ(unknown.resized(8).nextClaim({}, 100), (Range{5, 8}));
}

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

  const char* const damaged[] = {
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-1048575\n",                 // cut before "end"
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-1048575\nend",              // no last feed
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-10485x5\nend\n",            // not a number
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n100-50\nend\n",               // backwards
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n50-100\n0-10\nend\n",         // out of order
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-10\n11-20\nend\n",          // touching: not ours
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n0-5368709120\nend\n",         // past the end
      "5368709120\n0123456789ABCDEF0123456789ABCDEF\n-5-10\nend\n",
      "",
  };
  for (const char* text : damaged)
    EXPECT_FALSE(SegmentMap::parse(text, 5368709120, kMd5)) << text;
  // Another package's.
  EXPECT_FALSE(SegmentMap::parse(text, 5368709121, kMd5));
  EXPECT_FALSE(SegmentMap::parse(text, 5368709120, "FEDCBA9876543210FEDCBA9876543210"));
}

} // namespace
