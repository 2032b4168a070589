#pragma once
// Walking GBK byte strings one character at a time. Portable.
#include <cstddef>
#include <string>

// Bytes of the character that starts at `at`: 2 for a lead byte followed by another
// byte, else 1. The second byte of a pair may look like ASCII ("\\" is 0x5C).
inline std::size_t gbkCharLength(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  return lead >= 0x81 && lead <= 0xFE && at + 1 < text.size() ? 2 : 1;
}
