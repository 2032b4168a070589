// The text size cache: exact keys and least-recently-used eviction.
#include <gtest/gtest.h>

#include <vector>

#include "gui/TextSizeCache.h"

namespace {

TextSizeCache::Key key(const std::string& text) {
  return TextSizeCache::Key{false, false, false, 12, 100, 20, "SimSun", text};
}

} // namespace

TEST(TextSizeCacheTest, EveryKeyFieldTellsEntriesApart) {
  TextSizeCache cache;
  cache.insert(key("abc"), 30, 12);
  int w = 0, h = 0;
  ASSERT_TRUE(cache.find(key("abc"), w, h));
  EXPECT_EQ((std::vector<int>{w, h}), (std::vector<int>{30, 12}));
  std::vector<TextSizeCache::Key> others(7, key("abc"));
  others[0].bold = true;
  others[1].centred = true;
  others[2].singleLine = true;
  others[3].size = 13;
  others[4].widthLimit = 101;
  others[5].heightLimit = 21;
  others[6].face = "simsun";  // byte-wise, not case-insensitive
  for (size_t i = 0; i < others.size(); ++i) EXPECT_FALSE(cache.find(others[i], w, h)) << i;
  EXPECT_FALSE(cache.find(key("abd"), w, h));
}

TEST(TextSizeCacheTest, FullCacheDropsTheLeastRecentlyUsedEntry) {
  TextSizeCache cache;
  for (int i = 0; i < 1000; ++i) cache.insert(key(std::to_string(i)), i, 1);
  EXPECT_EQ(cache.size(), 1000u);
  int w = 0, h = 0;
  // Touch the oldest so that the second oldest goes first.
  ASSERT_TRUE(cache.find(key("0"), w, h));
  cache.insert(key("new"), 7, 7);
  EXPECT_EQ(cache.size(), 1000u);
  const auto kept = [&](const char* text) { return cache.find(key(text), w, h); };
  EXPECT_EQ((std::vector<bool>{kept("0"), kept("1"), kept("2"), kept("new")}),
            (std::vector<bool>{true, false, true, true}));
  EXPECT_EQ(w, 7);
  // Storing a known key again replaces its size without growing.
  cache.insert(key("2"), 99, 1);
  EXPECT_EQ(cache.size(), 1000u);
  ASSERT_TRUE(cache.find(key("2"), w, h));
  EXPECT_EQ(w, 99);
}
