// The client socket's framing: the stream arrives in pieces of any size, and the packets
// handed out are exactly those of the stream read whole, in order, until a packet
// longer than the framing carries fills the buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "script/PacketSplitter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  // The first byte chooses the piece sizes; the rest is the stream.
  const unsigned seed = data[0];
  const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::string> expected;
  size_t at = 0;
  bool stuck = false;
  while (stream.size() - at >= 2) {
    const size_t len = size_t(uint8_t(stream[at])) << 8 | uint8_t(stream[at + 1]);
    stuck = len > size_t(qx::PacketSplitter::kMaxPayload);
    if (stuck || stream.size() - at < len + 2)
      break;
    expected.push_back(stream.substr(at + 2, len));
    at += len + 2;
  }

  qx::PacketSplitter splitter;
  std::vector<std::string> got;
  size_t fed = 0;
  unsigned piece = seed % 7 + 1;
  while (fed < stream.size() && splitter.room() > 0) {
    piece = piece * 5 + 3;
    size_t n = piece % 300 + 1;
    if (seed & 0x80)
      n = piece % 70000 + 1;
    n = std::min({n, stream.size() - fed, size_t(splitter.room())});
    std::copy(stream.data() + fed, stream.data() + fed + n, splitter.space());
    splitter.received(int(n), [&](const char* payload, int len) { got.emplace_back(payload, size_t(len)); });
    fed += n;
  }
  // Only a packet that can never complete leaves the splitter without room.
  if (got != expected || (!stuck && (splitter.room() == 0 || splitter.buffered() != int(fed - at))))
    std::abort();
  return 0;
}
