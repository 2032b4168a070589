#include "app/SecureRandom.h"

#include <windows.h>
#include <wincrypt.h>
#include <vector>

bool SecureRandom::fill(unsigned char* bytes, std::size_t count) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return false;
  const bool ok = CryptGenRandom(provider, static_cast<DWORD>(count), bytes);
  CryptReleaseContext(provider, 0);
  return ok;
}

std::string SecureRandom::hex(std::size_t count) {
  std::vector<unsigned char> bytes(count);
  if (!fill(bytes.data(), count))
    return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}
