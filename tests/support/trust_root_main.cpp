// Makes this Wine prefix trust a test certificate authority, or forget it, for tests
// driven from the Linux side:  trust_root.exe add|remove <certificate file, DER>
// The certificate goes into the machine's root store of the prefix, never the host's.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  const bool add = std::string(argv[1]) == "add";
  std::ifstream file(argv[2], std::ios::binary);
  const std::vector<BYTE> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (der.empty())
    return 3;
  // The registry store itself: Wine's system "Root" store takes additions into the
  // registry but forgets deletions with the process.
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\SystemCertificates\\Root", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return 4;
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_REG, 0, 0, 0, key);
  if (!root) {
    RegCloseKey(key);
    return 4;
  }
  PCCERT_CONTEXT certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  bool ok = certificate != nullptr;
  if (ok && add) {
    ok = CertAddCertificateContextToStore(root, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  } else if (ok) {
    PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
    // Deleting frees the found context; an absent certificate is already forgotten.
    ok = !found || CertDeleteCertificateFromStore(found);
  }
  if (certificate)
    CertFreeCertificateContext(certificate);
  CertCloseStore(root, 0);
  RegCloseKey(key);
  std::printf("%s %s\n", argv[1], ok ? "done" : "failed");
  return ok ? 0 : 1;
}
