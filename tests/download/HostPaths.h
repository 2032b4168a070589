#pragma once
// Paths handed to a test by the Linux script that starts it. Under Wine the Linux file
// system is drive Z:, so "/tmp/x/y" becomes "Z:\tmp\x\y"; natively paths stay as they are.
#include <cstdlib>
#include <string>

namespace qxtest {

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

} // namespace qxtest
