#pragma once
// Who may sign a downloaded package: the publisher's list of certificate fingerprints,
// and how the system's verdict on a signature is weighed against it. Portable (no
// Windows headers), so it is tested natively.
#include <cstdint>
#include <string>
#include <vector>

class SignerPolicy {
public:
  enum class Verdict { Accepted, BrokenSignature, UnlistedSigner };

  // A fingerprint as a publisher writes it: the SHA-256 of a certificate as 64
  // hexadecimal digits, either case.
  static bool isFingerprint(const std::string& text);
  // The form compared: lowercase digits.
  static std::string normalised(const std::string& fingerprint);
  // True for the results of the signature check that still prove the content is what
  // the signer signed: success, and the errors of the certificate chain above the
  // signer (untrusted root, expiry), which a pinned signer outweighs.
  static bool signatureIntact(std::uint32_t trustStatus);

  // `fingerprints` in the normalised form.
  explicit SignerPolicy(std::vector<std::string> fingerprints);

  // `trustStatus` is the system's verdict on the file's signature; `signerFingerprint`
  // the normalised fingerprint of the signer's own certificate, empty when there is none.
  Verdict judge(std::uint32_t trustStatus, const std::string& signerFingerprint) const;

private:
  std::vector<std::string> fingerprints_;
};
