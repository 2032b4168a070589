#pragma once
// The Authenticode signature of a file as the system judges it: the verdict on the
// signature and the fingerprint of the signer's own certificate. SignerPolicy weighs the
// two against the publisher's list.
#include <cstdint>
#include <string>

class PackageSignature {
public:
  // Checks the file at `path`, read through `file` (its HANDLE, held so it cannot change
  // meanwhile), without any user interface and without a revocation check that could
  // wait on the network. Any thread; the file is read whole.
  static PackageSignature read(const std::wstring& path, void* file);

  // WinVerifyTrust's result: 0 when the signature and its chain hold.
  std::uint32_t trustStatus() const { return trustStatus_; }
  // SHA-256 of the signer's certificate, 64 lowercase hex digits; empty when the file
  // names no signer the system could find.
  const std::string& signerFingerprint() const { return signerFingerprint_; }

private:
  std::uint32_t trustStatus_ = 0x800B0001;  // TRUST_E_PROVIDER_UNKNOWN until checked
  std::string signerFingerprint_;
};
