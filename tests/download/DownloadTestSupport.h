#pragma once
// What the download tests share: paths and variables handed to a test by the Linux script
// that starts it, and the digest of bytes in memory.
#include "download/CMD5Checksum.h"

#include <cstdlib>
#include <string>

namespace qxtest {

// Under Wine the Linux file system is drive Z:, so "/tmp/x/y" becomes "Z:\tmp\x\y";
// natively paths stay as they are.
inline std::string hostPath(const std::string& path) {
#ifdef _WIN32
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
#else
  return path;
#endif
}

// The variable's value, or "" when it is not set.
inline std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// In uppercase hexadecimal, as CMD5Checksum gives it.
inline std::string digestOf(const std::string& bytes) {
  CMD5Checksum md5;
  md5.update(bytes.data(), bytes.size());
  return CMD5Checksum::toHex(md5.finish());
}

} // namespace qxtest
