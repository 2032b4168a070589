#include "script/PacketSplitter.h"

#include <cassert>
#include <cstdint>
#include <cstring>

namespace qx {

PacketSplitter::PacketSplitter() : buffer_(new char[kCapacity]) {}

void PacketSplitter::received(int count, const std::function<void(const char*, int)>& onPacket) {
  assert(count >= 0 && count <= room() && "more bytes received than the buffer had room for");
  if (count <= 0 || count > room())
    return;
  filled_ += count;
  const char* data = buffer_.get();
  int at = 0;
  while (filled_ - at >= 2) {
    const int len = (uint8_t(data[at]) << 8) | uint8_t(data[at + 1]);
    if (filled_ - at < len + 2)
      break;
    onPacket(data + at + 2, len);
    at += len + 2;
  }
  if (at > 0) {
    std::memmove(buffer_.get(), buffer_.get() + at, size_t(filled_ - at));
    filled_ -= at;
  }
}

} // namespace qx
