// The client socket's receive framing, natively: pieces, several packets per receive,
// empty packets, and the packet too long for the buffer.
#include "script/PacketSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using qx::PacketSplitter;

std::string frame(const std::string& payload) {
  return std::string{char(payload.size() >> 8), char(payload.size() & 0xFF)} + payload;
}

TEST(PacketSplitterTest, HandsOutWholePacketsInOrder) {
  const std::string longest(PacketSplitter::kMaxPayload, 'y');
  const struct {
    const char* name;
    std::string stream;
    size_t piece;  // the most one receive hands over
    std::vector<std::string> packets;
    int buffered;  // the rest of the buffer is room for the next receive
  } cases[] = {
      // Half a length stays for the next receive.
      {"several in one receive", frame("one") + frame("") + frame("three") + std::string(1, '\0'), 1000,
       {"one", "", "three"}, 1},
      // Lengths and payloads across receives; the stream ends with an empty packet.
      {"pieces", frame("one") + frame(std::string(300, 'x')) + frame(""), 6, {"one", std::string(300, 'x'), ""}, 0},
      {"the longest packet", frame(longest), 4096, {longest}, 0},
      // A packet longer than the buffer never completes and leaves no room.
      {"too long", std::string("\xFF\xFF", 2) + std::string(PacketSplitter::kCapacity - 2, 'z'), 8192, {},
       PacketSplitter::kCapacity},
  };
  for (const auto& c : cases) {
    PacketSplitter splitter;
    std::vector<std::string> packets;
    for (size_t at = 0; at < c.stream.size(); at += c.piece) {
      const std::string part = c.stream.substr(at, c.piece);
      ASSERT_LE(part.size(), size_t(splitter.room())) << c.name;
      std::copy(part.begin(), part.end(), splitter.space());
      splitter.received(int(part.size()), [&](const char* p, int n) { packets.emplace_back(p, size_t(n)); });
    }
    EXPECT_EQ(c.packets, packets) << c.name;
    EXPECT_EQ(c.buffered, splitter.buffered()) << c.name;
    EXPECT_EQ(PacketSplitter::kCapacity - c.buffered, splitter.room()) << c.name;
  }
}

} // namespace
