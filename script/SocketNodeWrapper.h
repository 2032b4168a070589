#pragma once
// The object behind a "clientsocket" handle: the delegate of one socket node, keeping the
// connection state and the received packets. UI thread only.
#include <deque>
#include <string>

#include "gui/QxWidget.h"
#include "script/SocketNodeDelegate.h"

namespace qx {
class SocketNode;
}

class SocketNodeWrapper : public QxWidget, public SocketNodeDelegate {
public:
  enum State : int { Pending = 0, Connected = 1, ConnectFailed = 2 };

  SocketNodeWrapper();
  // Detaches from the node and closes it, so no later notification reaches this object.
  ~SocketNodeWrapper() override;

  void attach(qx::SocketNode* node);
  // Null once the node has closed.
  qx::SocketNode* node() const { return node_; }
  int state() const { return state_; }
  // True once a connection that was made has ended: after the packets still queued there
  // is nothing more to read.
  bool connectionGone() const { return gone_; }
  // The oldest received packet; false when there is none.
  bool hasPacket() const { return !packets_.empty(); }
  const std::string& frontPacket() const { return packets_.front(); }
  void popPacket() { packets_.pop_front(); }

  // SocketNodeDelegate
  void onSocketNotification(int type, const char* data, int size) override;
  void onSocketNodeClosed() override;

private:
  qx::SocketNode* node_ = nullptr;
  int state_ = Pending;
  bool gone_ = false;
  std::deque<std::string> packets_;
};
