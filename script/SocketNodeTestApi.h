#pragma once
// Test-only view of the socket nodes: how many exist, to see that closed ones are freed.
class SocketNodeTestApi {
public:
  static int liveNodes();
};
