#include "app/SignerPolicy.h"

#include <gtest/gtest.h>

namespace {

using Verdict = SignerPolicy::Verdict;

const std::string kListed(64, 'a');
const std::string kOther(64, 'b');

// The system's verdicts as WinVerifyTrust gives them. Wine reports success for every
// intact signature whatever its chain, so the chain errors are only reachable here.
TEST(SignerPolicy, OnlyAnIntactSignatureByAListedSignerIsAccepted) {
  struct Case {
    std::uint32_t status;
    std::string signer;
    Verdict verdict;
  };
  const Case cases[] = {
      {0, kListed, Verdict::Accepted},
      {0, kOther, Verdict::UnlistedSigner},
      {0x800B0109, kListed, Verdict::Accepted},        // untrusted root
      {0x800B0101, kListed, Verdict::Accepted},        // expired
      {0x800B010A, kListed, Verdict::Accepted},        // chain incomplete
      {0x800B0109, kOther, Verdict::UnlistedSigner},
      {0x80096010, kListed, Verdict::BrokenSignature}, // content changed after signing
      {0x800B0100, "", Verdict::BrokenSignature},      // no signature
      {0x800B010C, kListed, Verdict::BrokenSignature}, // revoked
      {0x800B0111, kListed, Verdict::BrokenSignature}, // explicitly distrusted
      {0x800B0003, kListed, Verdict::BrokenSignature}, // not a signable file
      {0, "", Verdict::BrokenSignature},               // success without a signer
  };
  const SignerPolicy policy({kListed, std::string(64, 'c')});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.status << " " << c.signer);
    EXPECT_EQ(policy.judge(c.status, c.signer), c.verdict);
  }
}

} // namespace
