#include "tools/brand/WindowsProgram.h"

#include <cstdint>

namespace {

std::uint32_t get(const std::string& bytes, size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(bytes[at + size_t(i)]);
  return value;
}

} // namespace

bool isWindowsProgram(const std::string& bytes, std::string& wrong) {
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') {
    wrong = "not a program (no MZ header)";
    return false;
  }
  const std::uint32_t pe = get(bytes, 0x3C, 4);
  if (pe > bytes.size() || bytes.size() - pe < 24 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    wrong = "a DOS program or a damaged one (no PE signature)";
    return false;
  }
  const std::uint32_t sections = get(bytes, pe + 6, 2);
  const std::uint32_t optionalSize = get(bytes, pe + 20, 2);
  const std::uint32_t flags = get(bytes, pe + 22, 2);
  const size_t optional = pe + 24;
  if (optionalSize < 2 || bytes.size() - optional < optionalSize ||
      (get(bytes, optional, 2) != 0x10B && get(bytes, optional, 2) != 0x20B)) {
    wrong = "a damaged program (no 32- or 64-bit optional header)";
    return false;
  }
  if (!(flags & 0x0002) || (flags & 0x2000)) {
    wrong = flags & 0x2000 ? "a DLL, not a program" : "not marked executable";
    return false;
  }
  const size_t table = optional + optionalSize;
  if (bytes.size() < table || (bytes.size() - table) / 40 < sections) {
    wrong = "a program cut short (its section table is incomplete)";
    return false;
  }
  for (std::uint32_t i = 0; i < sections; ++i) {
    const size_t header = table + i * 40;
    const std::uint32_t size = get(bytes, header + 16, 4), offset = get(bytes, header + 20, 4);
    if (size && (offset > bytes.size() || size > bytes.size() - offset)) {
      wrong = "a program cut short (section " + std::to_string(i + 1) + " lies beyond its end)";
      return false;
    }
  }
  return true;
}
