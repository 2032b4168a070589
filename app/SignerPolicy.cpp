#include "app/SignerPolicy.h"

#include <algorithm>
#include <cctype>

namespace {

// Results of WinVerifyTrust that concern only the chain above the signer's certificate.
constexpr std::uint32_t kChainErrors[] = {
    0x800B0101,  // CERT_E_EXPIRED
    0x800B0102,  // CERT_E_VALIDITYPERIODNESTING
    0x800B0107,  // CERT_E_ISSUERCHAINING
    0x800B0109,  // CERT_E_UNTRUSTEDROOT
    0x800B010A,  // CERT_E_CHAINING
    0x800B010D,  // CERT_E_UNTRUSTEDTESTROOT
    0x800B0112,  // CERT_E_UNTRUSTEDCA
};

} // namespace

bool SignerPolicy::isFingerprint(const std::string& text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string SignerPolicy::normalised(const std::string& fingerprint) {
  std::string text = fingerprint;
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SignerPolicy::signatureIntact(std::uint32_t trustStatus) {
  return trustStatus == 0 || std::find(std::begin(kChainErrors), std::end(kChainErrors), trustStatus) !=
                                 std::end(kChainErrors);
}

SignerPolicy::SignerPolicy(std::vector<std::string> fingerprints) : fingerprints_(std::move(fingerprints)) {}

SignerPolicy::Verdict SignerPolicy::judge(std::uint32_t trustStatus, const std::string& signerFingerprint) const {
  // A changed file or a missing signature is refused, whoever appears to have signed it.
  if (!signatureIntact(trustStatus) || signerFingerprint.empty())
    return Verdict::BrokenSignature;
  const bool listed =
      std::find(fingerprints_.begin(), fingerprints_.end(), signerFingerprint) != fingerprints_.end();
  return listed ? Verdict::Accepted : Verdict::UnlistedSigner;
}
