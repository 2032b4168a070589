#pragma once
// MD5 digest (RFC 1321) of a file, as 32 uppercase hexadecimal digits.
// Portable: no Windows headers here, so it builds and is tested natively too.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One instance serves one computation at a time; digestFile starts a fresh state.
// Not shared between threads.
class CMD5Checksum {
public:
  using Digest = std::array<std::uint8_t, 16>;

  // Files are read in chunks of this size into one buffer kept for the whole file.
  static constexpr std::size_t kChunkSize = 4 * 1024 * 1024;

  CMD5Checksum();
  virtual ~CMD5Checksum();
  CMD5Checksum(const CMD5Checksum&) = delete;
  CMD5Checksum& operator=(const CMD5Checksum&) = delete;

  // The digest of the file's contents. A file that cannot be opened gives the digest
  // of empty input; a read that fails or returns nothing early gives the digest of the
  // bytes read so far. Files of any size are read whole.
  std::string digestFile(const std::wstring& path);
  // The same for a narrow path (the ANSI code page on Windows, the native bytes elsewhere).
  std::string digestFile(const std::string& path);

  // The incremental steps: reset to the starting values, absorb bytes, finish.
  // finish() pads and appends the length; call reset() before absorbing again.
  void reset();
  void update(const void* data, std::size_t size);
  Digest finish();

  static std::string toHex(const Digest& digest);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
