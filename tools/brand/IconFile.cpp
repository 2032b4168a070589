#include "tools/brand/IconFile.h"

#include <cstdint>

namespace {

unsigned get16(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

std::uint32_t get32(const std::string& bytes, size_t at) { return get16(bytes, at) | std::uint32_t(get16(bytes, at + 2)) << 16; }

void put16(std::string& out, unsigned value) {
  out.push_back(char(value & 0xFF));
  out.push_back(char(value >> 8 & 0xFF));
}

} // namespace

bool splitIconFile(const std::string& ico, IconResources& resources, std::string& wrong) {
  constexpr size_t kHeader = 6, kEntry = 16;
  if (ico.size() < kHeader || get16(ico, 0) != 0 || get16(ico, 2) != 1) {
    wrong = "not an icon file";
    return false;
  }
  const unsigned count = get16(ico, 4);
  if (count == 0 || ico.size() < kHeader + count * kEntry) {
    wrong = count == 0 ? "an icon file without images" : "an icon file cut short";
    return false;
  }
  IconResources made;
  made.group.assign(ico, 0, kHeader);
  for (unsigned i = 0; i < count; ++i) {
    const size_t entry = kHeader + i * kEntry;
    const std::uint32_t size = get32(ico, entry + 8), offset = get32(ico, entry + 12);
    if (size == 0 || offset > ico.size() || size > ico.size() - offset) {
      wrong = "image " + std::to_string(i + 1) + " of the icon file lies outside it";
      return false;
    }
    made.icons.push_back(ico.substr(offset, size));
    // Width, height, colour count, then a zero byte; planes and bits as the file gives
    // them, or, where it gives none, as many bits as the colour count needs.
    made.group.append(ico, entry, 3);
    made.group.push_back('\0');
    const unsigned colours = static_cast<unsigned char>(ico[entry + 2]);
    unsigned planes = get16(ico, entry + 4), bits = get16(ico, entry + 6);
    if (planes == 0)
      planes = 1;
    if (bits == 0)
      while ((1u << bits) < colours)
        ++bits;
    put16(made.group, planes);
    put16(made.group, bits);
    made.group.append(ico, entry + 8, 4);
    put16(made.group, i + 1);
  }
  resources = std::move(made);
  return true;
}
