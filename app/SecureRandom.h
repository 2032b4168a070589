#pragma once
// Bytes from the system's cryptographic generator, for the names and ids that other
// users of the PC must not guess: the player's pipe, a fresh cache folder, a run's id.
#include <cstddef>
#include <string>

class SecureRandom {
 public:
  // False, with the bytes left as they were, when the system gives none.
  static bool fill(unsigned char* bytes, std::size_t count);
  // 2 x count lowercase hexadecimal digits, or "" when the system gives no bytes.
  static std::string hex(std::size_t count);
};
