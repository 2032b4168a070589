#pragma once
// The client socket's receive framing: a 2-byte big-endian length before every packet.
// Portable (no system headers), so the splitting is fuzzed natively; the receive thread
// of the socket node owns one splitter.
#include <functional>
#include <memory>

namespace qx {

class PacketSplitter {
public:
  // The length and the payload of one packet must fit the buffer together.
  static constexpr int kCapacity = 65536;
  static constexpr int kMaxPayload = kCapacity - 2;

  PacketSplitter();
  PacketSplitter(const PacketSplitter&) = delete;
  PacketSplitter& operator=(const PacketSplitter&) = delete;

  // Where the next receive writes, and how much it may write there. No room is left
  // only when a packet announcing more than kMaxPayload bytes has filled the buffer:
  // that packet can never complete and the stream cannot go on.
  char* space() { return buffer_.get() + filled_; }
  int room() const { return kCapacity - filled_; }
  int buffered() const { return filled_; }

  // Takes `count` bytes just written at space() (0 <= count <= room()) and hands every
  // complete packet's payload to `onPacket`, in order; an incomplete tail stays buffered.
  void received(int count, const std::function<void(const char* payload, int size)>& onPacket);

private:
  std::unique_ptr<char[]> buffer_;
  int filled_ = 0;
};

} // namespace qx
