#include "script/SocketNodeWrapper.h"

#include "script/SocketNode.h"
#include "script/SocketNotification.h"

SocketNodeWrapper::SocketNodeWrapper() : QxWidget("SocketNodeWrapper") {}

SocketNodeWrapper::~SocketNodeWrapper() {
  if (node_) {
    node_->setDelegate(nullptr);
    node_->close();
  }
}

void SocketNodeWrapper::attach(qx::SocketNode* node) { node_ = node; }

void SocketNodeWrapper::onSocketNotification(int type, const char* data, int size) {
  switch (type) {
  case SocketNotification::Connected:
    OutputDebugStringA("NOTIFY_CONNECTED\n");
    state_ = Connected;
    break;
  case SocketNotification::ConnectFailed:
    OutputDebugStringA("NOTIFY_CONNECT_FAILED\n");
    state_ = ConnectFailed;
    break;
  case SocketNotification::Disconnected:
    OutputDebugStringA("NOTIFY_DISCONNECTED\n");
    gone_ = true;
    break;
  case SocketNotification::Packet:
    OutputDebugStringA("NOTIFY_PACKET\n");
    packets_.emplace_back(data, size_t(size));
    break;
  default:
    OutputDebugStringA("");
    break;
  }
}

void SocketNodeWrapper::onSocketNodeClosed() {
  node_ = nullptr;
  if (state_ == Pending)
    state_ = ConnectFailed;
  else if (state_ == Connected)
    gone_ = true;
}
