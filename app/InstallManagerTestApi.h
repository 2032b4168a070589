#pragma once
// Test-only view of the install manager: what a test cannot bring about with a real
// payload.
class InstallManagerTestApi {
public:
  // Closes the running payload's process handle, so its exit code can no longer be read.
  static void forgetPayloadProcess();
};
