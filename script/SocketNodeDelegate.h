#pragma once
// Receiver of a socket node's notifications, on the UI thread. `data` is valid only
// during the call.

class SocketNodeDelegate {
public:
  virtual ~SocketNodeDelegate() = default;
  virtual void onSocketNotification(int type, const char* data, int size) = 0;
  // The node has closed and will be freed once the current event is over; nothing more
  // comes from it, and it must not be used again.
  virtual void onSocketNodeClosed() {}
};
