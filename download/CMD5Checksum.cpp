// MD5 as RFC 1321 defines it, and the chunked file loop around it.
//   1. block transform   2. incremental steps   3. whole files
#include "download/CMD5Checksum.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "download/FileReader.h"

namespace {

// ---- 1. block transform ----------------------------------------------------------

inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t load32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

#define QX_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define QX_MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define QX_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define QX_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define QX_MD5_STEP(f, a, b, c, d, x, t, s) \
  (a) += f((b), (c), (d)) + (x) + std::uint32_t(t); \
  (a) = rotl((a), (s)) + (b)

// Absorbs `blocks` consecutive 64-byte blocks into `state`.
void transform(std::uint32_t state[4], const std::uint8_t* data, std::size_t blocks) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, data += 64) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = load32(data + 4 * i);
    const std::uint32_t aa = a, bb = b, cc = c, dd = d;

    QX_MD5_STEP(QX_MD5_F, a, b, c, d, x[0], 0xd76aa478, 7);
    QX_MD5_STEP(QX_MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12);
    QX_MD5_STEP(QX_MD5_F, c, d, a, b, x[2], 0x242070db, 17);
    QX_MD5_STEP(QX_MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22);
    QX_MD5_STEP(QX_MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7);
    QX_MD5_STEP(QX_MD5_F, d, a, b, c, x[5], 0x4787c62a, 12);
    QX_MD5_STEP(QX_MD5_F, c, d, a, b, x[6], 0xa8304613, 17);
    QX_MD5_STEP(QX_MD5_F, b, c, d, a, x[7], 0xfd469501, 22);
    QX_MD5_STEP(QX_MD5_F, a, b, c, d, x[8], 0x698098d8, 7);
    QX_MD5_STEP(QX_MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12);
    QX_MD5_STEP(QX_MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17);
    QX_MD5_STEP(QX_MD5_F, b, c, d, a, x[11], 0x895cd7be, 22);
    QX_MD5_STEP(QX_MD5_F, a, b, c, d, x[12], 0x6b901122, 7);
    QX_MD5_STEP(QX_MD5_F, d, a, b, c, x[13], 0xfd987193, 12);
    QX_MD5_STEP(QX_MD5_F, c, d, a, b, x[14], 0xa679438e, 17);
    QX_MD5_STEP(QX_MD5_F, b, c, d, a, x[15], 0x49b40821, 22);

    QX_MD5_STEP(QX_MD5_G, a, b, c, d, x[1], 0xf61e2562, 5);
    QX_MD5_STEP(QX_MD5_G, d, a, b, c, x[6], 0xc040b340, 9);
    QX_MD5_STEP(QX_MD5_G, c, d, a, b, x[11], 0x265e5a51, 14);
    QX_MD5_STEP(QX_MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    QX_MD5_STEP(QX_MD5_G, a, b, c, d, x[5], 0xd62f105d, 5);
    QX_MD5_STEP(QX_MD5_G, d, a, b, c, x[10], 0x02441453, 9);
    QX_MD5_STEP(QX_MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14);
    QX_MD5_STEP(QX_MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    QX_MD5_STEP(QX_MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5);
    QX_MD5_STEP(QX_MD5_G, d, a, b, c, x[14], 0xc33707d6, 9);
    QX_MD5_STEP(QX_MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14);
    QX_MD5_STEP(QX_MD5_G, b, c, d, a, x[8], 0x455a14ed, 20);
    QX_MD5_STEP(QX_MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5);
    QX_MD5_STEP(QX_MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9);
    QX_MD5_STEP(QX_MD5_G, c, d, a, b, x[7], 0x676f02d9, 14);
    QX_MD5_STEP(QX_MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    QX_MD5_STEP(QX_MD5_H, a, b, c, d, x[5], 0xfffa3942, 4);
    QX_MD5_STEP(QX_MD5_H, d, a, b, c, x[8], 0x8771f681, 11);
    QX_MD5_STEP(QX_MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16);
    QX_MD5_STEP(QX_MD5_H, b, c, d, a, x[14], 0xfde5380c, 23);
    QX_MD5_STEP(QX_MD5_H, a, b, c, d, x[1], 0xa4beea44, 4);
    QX_MD5_STEP(QX_MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11);
    QX_MD5_STEP(QX_MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16);
    QX_MD5_STEP(QX_MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23);
    QX_MD5_STEP(QX_MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4);
    QX_MD5_STEP(QX_MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11);
    QX_MD5_STEP(QX_MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16);
    QX_MD5_STEP(QX_MD5_H, b, c, d, a, x[6], 0x04881d05, 23);
    QX_MD5_STEP(QX_MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4);
    QX_MD5_STEP(QX_MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11);
    QX_MD5_STEP(QX_MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16);
    QX_MD5_STEP(QX_MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23);

    QX_MD5_STEP(QX_MD5_I, a, b, c, d, x[0], 0xf4292244, 6);
    QX_MD5_STEP(QX_MD5_I, d, a, b, c, x[7], 0x432aff97, 10);
    QX_MD5_STEP(QX_MD5_I, c, d, a, b, x[14], 0xab9423a7, 15);
    QX_MD5_STEP(QX_MD5_I, b, c, d, a, x[5], 0xfc93a039, 21);
    QX_MD5_STEP(QX_MD5_I, a, b, c, d, x[12], 0x655b59c3, 6);
    QX_MD5_STEP(QX_MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10);
    QX_MD5_STEP(QX_MD5_I, c, d, a, b, x[10], 0xffeff47d, 15);
    QX_MD5_STEP(QX_MD5_I, b, c, d, a, x[1], 0x85845dd1, 21);
    QX_MD5_STEP(QX_MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6);
    QX_MD5_STEP(QX_MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    QX_MD5_STEP(QX_MD5_I, c, d, a, b, x[6], 0xa3014314, 15);
    QX_MD5_STEP(QX_MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21);
    QX_MD5_STEP(QX_MD5_I, a, b, c, d, x[4], 0xf7537e82, 6);
    QX_MD5_STEP(QX_MD5_I, d, a, b, c, x[11], 0xbd3af235, 10);
    QX_MD5_STEP(QX_MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    QX_MD5_STEP(QX_MD5_I, b, c, d, a, x[9], 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef QX_MD5_STEP
#undef QX_MD5_I
#undef QX_MD5_H
#undef QX_MD5_G
#undef QX_MD5_F

} // namespace

// ---- 2. incremental steps ----------------------------------------------------------

struct CMD5Checksum::Impl {
  std::uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  std::uint32_t countLow = 0;   // bits absorbed so far, low word
  std::uint32_t countHigh = 0;  // and high word
  std::uint8_t block[64] = {};  // input not yet transformed: (countLow / 8) % 64 bytes

  template <class Path>
  std::string digest(CMD5Checksum& self, const Path& path);
};

CMD5Checksum::CMD5Checksum() : impl_(std::make_unique<Impl>()) {}

CMD5Checksum::~CMD5Checksum() = default;

void CMD5Checksum::reset() { *impl_ = Impl{}; }

void CMD5Checksum::update(const void* data, std::size_t size) {
  Impl& d = *impl_;
  auto in = static_cast<const std::uint8_t*>(data);
  std::size_t used = (d.countLow >> 3) & 63;

  const std::uint64_t bits = std::uint64_t(size) << 3;
  const std::uint32_t before = d.countLow;
  d.countLow += static_cast<std::uint32_t>(bits);
  d.countHigh += static_cast<std::uint32_t>(bits >> 32) + (d.countLow < before ? 1 : 0);

  if (used > 0) {
    const std::size_t room = 64 - used;
    if (size < room) {
      std::memcpy(d.block + used, in, size);
      return;
    }
    std::memcpy(d.block + used, in, room);
    transform(d.state, d.block, 1);
    in += room;
    size -= room;
  }
  // Whole blocks straight from the caller's memory: no copy on the hot path.
  transform(d.state, in, size / 64);
  in += size & ~std::size_t(63);
  size &= 63;
  if (size > 0) std::memcpy(d.block, in, size);
}

CMD5Checksum::Digest CMD5Checksum::finish() {
  Impl& d = *impl_;
  std::uint8_t length[8];
  for (int i = 0; i < 4; ++i) {
    length[i] = static_cast<std::uint8_t>(d.countLow >> (8 * i));
    length[4 + i] = static_cast<std::uint8_t>(d.countHigh >> (8 * i));
  }
  // Pad with 0x80 then zeros to 56 bytes mod 64, then the bit length (little endian).
  static const std::uint8_t padding[64] = {0x80};
  const std::size_t used = (d.countLow >> 3) & 63;
  update(padding, used < 56 ? 56 - used : 120 - used);
  update(length, sizeof length);

  Digest out{};
  for (int i = 0; i < 16; ++i) out[i] = static_cast<std::uint8_t>(d.state[i / 4] >> (8 * (i % 4)));
  return out;
}

std::string CMD5Checksum::toHex(const Digest& digest) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(32);
  for (std::uint8_t byte : digest) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

// ---- 3. whole files ------------------------------------------------------------------

template <class Path>
std::string CMD5Checksum::Impl::digest(CMD5Checksum& self, const Path& path) {
  self.reset();
  FileReader file(path);
  const std::int64_t size = file.size();
  if (size > 0) {
    std::vector<std::uint8_t> buffer(kChunkSize);
    std::int64_t done = 0;
    while (done < size) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(kChunkSize, size - done));
      const std::size_t got = file.read(buffer.data(), want);
      // Nothing read before the size is reached: the file shrank or the read failed.
      if (got == 0) break;
      self.update(buffer.data(), got);
      done += static_cast<std::int64_t>(got);
    }
  }
  return toHex(self.finish());
}

std::string CMD5Checksum::digestFile(const std::wstring& path) { return impl_->digest(*this, path); }

std::string CMD5Checksum::digestFile(const std::string& path) { return impl_->digest(*this, path); }
