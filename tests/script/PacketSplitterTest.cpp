// The client socket's receive framing, natively: pieces, several packets per receive,
// empty packets, and the packet too long for the buffer.
#include "script/PacketSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

std::string frame(const std::string& payload) {
  return std::string{char(payload.size() >> 8), char(payload.size() & 0xFF)} + payload;
}

class PacketSplitterTest : public ::testing::Test {
protected:
  // Feeds `bytes` in pieces of at most `piece` bytes, as recv would hand them over.
  void feed(const std::string& bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece) {
      const std::string part = bytes.substr(at, piece);
      ASSERT_LE(part.size(), size_t(splitter.room()));
      std::copy(part.begin(), part.end(), splitter.space());
      splitter.received(int(part.size()), [&](const char* p, int n) { packets.emplace_back(p, size_t(n)); });
    }
  }

  qx::PacketSplitter splitter;
  std::vector<std::string> packets;
};

TEST_F(PacketSplitterTest, APacketInPiecesComesOnceWhole) {
  const std::string payload(300, 'x');
  feed(frame(payload), 7);
  ASSERT_EQ(1u, packets.size());
  EXPECT_EQ(payload, packets[0]);
  EXPECT_EQ(0, splitter.buffered());
}

TEST_F(PacketSplitterTest, SeveralPacketsInOneReceiveKeepTheirOrder) {
  feed(frame("one") + frame("") + frame("three") + std::string("\x00", 1), 1000);
  EXPECT_EQ((std::vector<std::string>{"one", "", "three"}), packets);
  // Half a length stays for the next receive.
  EXPECT_EQ(1, splitter.buffered());
  feed(std::string("\x02", 1) + "ab", 1000);
  EXPECT_EQ("ab", packets.back());
}

TEST_F(PacketSplitterTest, TheLongestPacketFitsAndLeavesRoomAgain) {
  const std::string payload(qx::PacketSplitter::kMaxPayload, 'y');
  feed(frame(payload), 4096);
  ASSERT_EQ(1u, packets.size());
  EXPECT_EQ(payload.size(), packets[0].size());
  EXPECT_EQ(qx::PacketSplitter::kCapacity, splitter.room());
}

TEST_F(PacketSplitterTest, APacketLongerThanTheBufferLeavesNoRoom) {
  feed(std::string("\xFF\xFF", 2) + std::string(qx::PacketSplitter::kCapacity - 2, 'z'), 8192);
  EXPECT_TRUE(packets.empty());
  EXPECT_EQ(0, splitter.room());
}

} // namespace
