#pragma once
// What one run did, as the outcome report tells the publisher: counts and durations,
// never anything that names the player, the PC, a folder or an address.
#include <cstdint>
#include <string>
#include <vector>

struct RunFacts {
  std::string runId;  // random, made once per run
  std::string installerVersion;
  std::string gameVersion;
  std::string promoteChannel;
  std::string outcome = "failure";  // "success" or "failure"
  int exitCode = 0;
  std::string stage = "start";  // the stage the run ended in
  std::int64_t queryMs = 0;
  std::int64_t downloadMs = 0;
  std::int64_t verifyMs = 0;
  std::int64_t payloadMs = 0;
  std::int64_t bytes = 0;
  // Of those, how many each copy gave: the announced address first, then each mirror
  // in the configured order.
  std::vector<std::int64_t> sourceBytes;
  int retries = 0;
  int connections = 0;
  std::string route = "direct";  // "direct" or "proxy"
  std::string windowsVersion;
  unsigned codePage = 0;
};
