#pragma once
// One TCP connection to the update server: a receive thread that connects and splits the
// stream into packets (2-byte big-endian length, stripped), a send thread that writes the
// queued bytes unchanged, and a pump on the UI thread that hands what the receive thread
// queued to the delegate. The node itself is UI thread only; the threads share only their
// locked contexts with it.
#include <memory>
#include <string>

#include "gui/QxWidget.h"

class SocketNodeDelegate;

namespace qx {

class SocketNode : public QxWidget {
public:
  // Starts connecting. The node lives while it is open; once closed it tells its
  // delegate and goes to the AutoReleasePool, which frees it after the current event.
  static SocketNode* create(const std::string& host, int port, SocketNodeDelegate* delegate);
  ~SocketNode() override;

  // Queues a copy of the bytes for the send thread; nothing once the node is closed.
  void send(const char* bytes, int size);
  // Stops the pump and both threads; later calls do nothing.
  void close();
  bool isClosed() const;
  // Later notifications go nowhere once the delegate is gone.
  void setDelegate(SocketNodeDelegate* delegate);

  // The pump: hands the queued notifications to the delegate (the argument is unused).
  virtual void tick(float elapsed);

private:
  SocketNode(const std::string& host, int port, SocketNodeDelegate* delegate);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace qx
