#include "app/PackageSignature.h"

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

namespace {

// wintrust.dll and crypt32.dll are not among the DLLs Windows always takes from its own
// folder: loaded from the system folder only, once, and kept.
struct TrustLibrary {
  decltype(&::WinVerifyTrust) verifyTrust = nullptr;
  decltype(&::WTHelperProvDataFromStateData) providerData = nullptr;
  decltype(&::WTHelperGetProvSignerFromChain) signerFromChain = nullptr;
  decltype(&::CertGetCertificateContextProperty) certificateProperty = nullptr;
  decltype(&::CryptHashCertificate) hashCertificate = nullptr;
  bool loaded = false;

  TrustLibrary() {
    HMODULE wintrust = LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE crypt32 = LoadLibraryExW(L"crypt32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    loaded = wintrust && crypt32 && bind(wintrust, "WinVerifyTrust", verifyTrust) &&
             bind(wintrust, "WTHelperProvDataFromStateData", providerData) &&
             bind(wintrust, "WTHelperGetProvSignerFromChain", signerFromChain) &&
             bind(crypt32, "CertGetCertificateContextProperty", certificateProperty) &&
             bind(crypt32, "CryptHashCertificate", hashCertificate);
  }

  template <typename Function>
  static bool bind(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(GetProcAddress(module, name));
    return function != nullptr;
  }
};

const TrustLibrary& trustLibrary() {
  static const TrustLibrary library;
  return library;
}

std::string hex(const BYTE* bytes, DWORD size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (DWORD i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

// The certificate's own property where the system keeps one; Wine does not, and hashes
// the encoded certificate instead, which is the same value.
std::string fingerprintOf(const TrustLibrary& api, PCCERT_CONTEXT certificate) {
  BYTE digest[32];
  DWORD size = sizeof digest;
  if (api.certificateProperty(certificate, CERT_SHA256_HASH_PROP_ID, digest, &size) && size == sizeof digest)
    return hex(digest, size);
  size = sizeof digest;
  if (api.hashCertificate(0, CALG_SHA_256, 0, certificate->pbCertEncoded, certificate->cbCertEncoded, digest,
                          &size) &&
      size == sizeof digest)
    return hex(digest, size);
  return {};
}

} // namespace

PackageSignature PackageSignature::read(const std::wstring& path, void* handle) {
  PackageSignature signature;
  const TrustLibrary& api = trustLibrary();
  if (!api.loaded)
    return signature;

  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  file.hFile = static_cast<HANDLE>(handle);
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  // The state is kept so the signer's certificate can be read from this very check.
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  signature.trustStatus_ =
      static_cast<std::uint32_t>(api.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));

  if (CRYPT_PROVIDER_DATA* provider = api.providerData(data.hWVTStateData)) {
    CRYPT_PROVIDER_SGNR* signer = api.signerFromChain(provider, 0, FALSE, 0);
    if (signer && signer->csCertChain > 0 && signer->pasCertChain && signer->pasCertChain[0].pCert)
      signature.signerFingerprint_ = fingerprintOf(api, signer->pasCertChain[0].pCert);
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  api.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return signature;
}
