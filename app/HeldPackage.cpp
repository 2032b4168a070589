#include "app/HeldPackage.h"

#include <windows.h>
#include <wincrypt.h>

#include <vector>

namespace {

constexpr DWORD kReadChunk = 1 << 20;

} // namespace

std::unique_ptr<HeldPackage> HeldPackage::open(const std::wstring& path) {
  // A link is opened as itself, and then refused: what it points to is nobody's package.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(file);
    return nullptr;
  }
  return std::unique_ptr<HeldPackage>(new HeldPackage(path, file));
}

HeldPackage::~HeldPackage() { CloseHandle(static_cast<HANDLE>(handle_)); }

std::string HeldPackage::md5() const { return digest(CALG_MD5); }
std::string HeldPackage::sha256() const { return digest(CALG_SHA_256); }

std::string HeldPackage::digest(unsigned algorithm) const {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return {};
  HCRYPTHASH hash = 0;
  std::string text;
  if (CryptCreateHash(provider, algorithm, 0, 0, &hash)) {
    HANDLE file = static_cast<HANDLE>(handle_);
    LARGE_INTEGER start{};
    bool ok = SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    std::vector<BYTE> buffer(kReadChunk);
    for (DWORD got = 1; ok && got > 0;)
      ok = ReadFile(file, buffer.data(), kReadChunk, &got, nullptr) && (got == 0 || CryptHashData(hash, buffer.data(), got, 0));
    BYTE value[64];
    DWORD size = sizeof value;
    if (ok && CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0)) {
      static const char digits[] = "0123456789abcdef";
      for (DWORD i = 0; i < size; ++i) {
        text += digits[value[i] >> 4];
        text += digits[value[i] & 15];
      }
    }
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  return text;
}
