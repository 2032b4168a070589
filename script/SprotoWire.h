#pragma once
// Little-endian words of the sproto encoding, shared by the bundle reader and the codec.
#include <cstddef>
#include <cstdint>

namespace sproto {
namespace wire {

constexpr size_t kHeaderSize = 2;
constexpr size_t kEntrySize = 2;
constexpr size_t kLengthSize = 4;

inline unsigned word(const uint8_t* p) { return p[0] | (p[1] << 8); }

inline uint32_t dword(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void putWord(uint8_t* p, unsigned v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

inline void putDword(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// Checks that a structure's header and every data item it announces lie within `size`.
// Returns the entry count, or -1 when the structure does not fit.
inline int structEntries(const uint8_t* p, size_t size) {
  if (size < kHeaderSize)
    return -1;
  const unsigned n = word(p);
  size_t at = kHeaderSize + size_t(n) * kEntrySize;
  if (at > size)
    return -1;
  for (unsigned i = 0; i < n; ++i) {
    if (word(p + kHeaderSize + i * kEntrySize) != 0)
      continue;
    if (size - at < kLengthSize)
      return -1;
    const uint32_t len = dword(p + at);
    at += kLengthSize;
    if (len > size - at)
      return -1;
    at += len;
  }
  return int(n);
}

} // namespace wire
} // namespace sproto
