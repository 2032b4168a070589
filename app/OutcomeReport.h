#pragma once
// The outcome report's body and address rule; portable, so both are tested natively.
#include <cstdint>
#include <string>

#include "app/RunFacts.h"

class OutcomeReport {
public:
  // One JSON object of the facts, with the average rate derived from bytes and time.
  static std::string body(const RunFacts& facts);
  // An https:// address, or an http:// one whose host is a loopback address (for tests).
  static bool isReportUrl(const std::string& url);
  // 32 lowercase hexadecimal digits of 16 random bytes.
  static std::string runId(const unsigned char (&random)[16]);
};
