// Zero unpacking of a received message, and the packing that the client applies to what
// it sends: unpacking stays within the room it is given, and pack then unpack gives the
// input back, padded with zeros to whole groups of 8.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "script/SprotoCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20)
    return 0;
  const int n = static_cast<int>(size);

  // A short buffer first: the reported size is what a second, exact call needs.
  std::vector<uint8_t> small(16);
  const int need = sproto::unpack(data, n, small.data(), static_cast<int>(small.size()));
  if (need >= 0) {
    if (need % 8 != 0)
      std::abort();
    std::vector<uint8_t> out(size_t(need) + 1, 0xA5);
    if (sproto::unpack(data, n, out.data(), need) != need || out[size_t(need)] != 0xA5)
      std::abort();
  }

  std::vector<uint8_t> packed(size_t(sproto::packBound(n)) + 1);
  const int packedSize = sproto::pack(data, n, packed.data(), static_cast<int>(packed.size()) - 1);
  if (packedSize < 0 || packedSize > sproto::packBound(n))
    std::abort();
  const int padded = (n + 7) / 8 * 8;
  std::vector<uint8_t> back(size_t(padded) + 8);
  const int got = sproto::unpack(packed.data(), packedSize, back.data(), static_cast<int>(back.size()));
  if (got != padded || (size > 0 && std::memcmp(back.data(), data, size) != 0))
    std::abort();
  for (int i = n; i < padded; ++i)
    if (back[size_t(i)] != 0)
      std::abort();
  return 0;
}
