// Sections: shared contexts, receive thread, send thread, node.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "script/SocketNode.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

#include "gui/EventListener.h"
#include "gui/Timer.h"
#include "script/LuaScript.h"
#include "script/PacketSplitter.h"
#include "script/SocketNodeDelegate.h"
#include "script/SocketNodeTestApi.h"
#include "script/SocketNotification.h"

namespace qx {

namespace {

// ---- shared contexts ----

enum ContextState : int { Running = 0, StopRequested = 1, Ended = 2 };

// An unnamed, initially free Windows mutex.
class Mutex {
public:
  Mutex() : handle_(CreateMutexA(nullptr, FALSE, nullptr)) {}
  ~Mutex() { CloseHandle(handle_); }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock() { WaitForSingleObject(handle_, INFINITE); }
  void unlock() { ReleaseMutex(handle_); }

private:
  HANDLE handle_;
};

class Lock {
public:
  explicit Lock(Mutex& m) : m_(m) { m_.lock(); }
  ~Lock() { m_.unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

private:
  Mutex& m_;
};

// The connected socket, shared by both threads and the owner. Any of them may shut it
// down to wake the others; it is closed once, when the last of them lets go, so no side
// ever uses a handle that another has closed (and the system may have reused).
struct SharedSocket {
  explicit SharedSocket(SOCKET s) : socket(s) {}
  ~SharedSocket() { closesocket(socket); }
  SharedSocket(const SharedSocket&) = delete;
  SharedSocket& operator=(const SharedSocket&) = delete;
  void shutdownBoth() { shutdown(socket, SD_BOTH); }
  SOCKET socket;
};

using SocketRef = std::shared_ptr<SharedSocket>;

// Shared with the send thread under `mutex`. Owned jointly: whichever side lets go last
// frees it.
struct SendContext {
  Mutex mutex;
  std::deque<SocketNotification> queue;
  int state = Running;
  SocketRef socket;  // null until the receive thread publishes the connected socket
};

// Shared with the receive thread under `mutex`.
struct ConnectionContext {
  std::string host;
  int port = 0;
  Mutex mutex;
  std::deque<SocketNotification> queue;
  int state = Running;
  SocketRef socket;
  std::shared_ptr<SendContext> send;
};

// Nodes not yet freed; tests read it to see that closed nodes go.
int liveNodes = 0;

SocketNotification textNotification(int type, const char* text) {
  SocketNotification n;
  n.type = type;
  n.size = int(std::strlen(text)) + 1;
  n.data.reset(new char[size_t(n.size)]);
  std::memcpy(n.data.get(), text, size_t(n.size));
  return n;
}

void queue(ConnectionContext& c, SocketNotification n, bool end) {
  Lock lock(c.mutex);
  c.queue.push_back(std::move(n));
  if (end)
    c.state = Ended;
}

bool setBlocking(SOCKET s, bool blocking) {
  u_long mode = blocking ? 0 : 1;
  if (ioctlsocket(s, FIONBIO, &mode) != NO_ERROR) {
    std::printf("ioctlsocket failed with error: %ld\n", long(WSAGetLastError()));
    return false;
  }
  return true;
}

// ---- receive thread ----

// Connects within 3 seconds: true only when the socket is reported writable and has no
// pending error.
bool connectWithin3s(SOCKET s, const sockaddr_in& addr) {
  setBlocking(s, false);
  connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  setBlocking(s, true);
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval limit{3, 0};
  if (select(0, nullptr, &writable, &failed, &limit) <= 0 || !FD_ISSET(s, &writable))
    return false;
  int error = 0;
  int len = sizeof error;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
  return error == 0;
}

void receiveLoop(ConnectionContext& c, const SocketRef& socket, const char* ip) {
  PacketSplitter splitter;
  for (;;) {
    {
      Lock lock(c.mutex);
      if (c.state == StopRequested)
        return;
    }
    // A full buffer holds the start of a packet longer than any the framing carries; it
    // can never complete, so the connection ends as if the peer had closed it.
    if (splitter.room() == 0)
      break;
    const int n = recv(socket->socket, splitter.space(), splitter.room(), 0);
    if (n <= 0)
      break;
    splitter.received(n, [&](const char* payload, int size) {
      SocketNotification p;
      p.type = SocketNotification::Packet;
      p.size = size;
      p.data.reset(new char[size_t(size > 0 ? size : 1)]);
      std::memcpy(p.data.get(), payload, size_t(size));
      queue(c, std::move(p), false);
    });
  }
  const int error = errno;
  socket->shutdownBoth();
  Lock lock(c.mutex);
  c.socket.reset();
  if (c.state != StopRequested) {
    char text[512];
    std::snprintf(text, sizeof text, "recv failed: errono = %i, addr = \"%s\", ip = %s", error,
                  c.host.c_str(), ip);
    c.queue.push_back(textNotification(SocketNotification::Disconnected, text));
    c.state = Ended;
  }
}

DWORD WINAPI receiveThread(void* param) {
  // The thread's share of the context; released when the thread ends.
  std::unique_ptr<std::shared_ptr<ConnectionContext>> holder(
      static_cast<std::shared_ptr<ConnectionContext>*>(param));
  ConnectionContext& c = **holder;
  char text[512];
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    std::snprintf(text, sizeof text, "Create socket failed: errno = %d", errno);
    queue(c, textNotification(SocketNotification::ConnectFailed, text), true);
    return 0;
  }
  auto socketRef = std::make_shared<SharedSocket>(s);
  hostent* host = c.host.empty() ? nullptr : gethostbyname(c.host.c_str());
  if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0]) {
    std::snprintf(text, sizeof text, "gethostbyname failed: addr = \"%s\"", c.host.c_str());
    queue(c, textNotification(SocketNotification::ConnectFailed, text), true);
    return 0;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(u_short(c.port));
  std::memcpy(&addr.sin_addr, host->h_addr_list[0], sizeof addr.sin_addr);
  char ip[32];
  std::snprintf(ip, sizeof ip, "%s", inet_ntoa(addr.sin_addr));
  if (!connectWithin3s(s, addr)) {
    std::snprintf(text, sizeof text, "connect failed: errono = %i, addr = \"%s\", ip = %s", errno,
                  c.host.c_str(), ip);
    queue(c, textNotification(SocketNotification::ConnectFailed, text), true);
    return 0;
  }
  std::shared_ptr<SendContext> send;
  {
    Lock lock(c.mutex);
    if (c.state == StopRequested)
      return 0;
    c.socket = socketRef;
    SocketNotification connected;
    connected.type = SocketNotification::Connected;
    c.queue.push_back(std::move(connected));
    send = c.send;
  }
  {
    // One lock at a time: never both contexts at once.
    Lock lock(send->mutex);
    if (send->state == Running)
      send->socket = socketRef;
  }
  send.reset();
  receiveLoop(c, socketRef, ip);
  return 0;
}

// ---- send thread ----

DWORD WINAPI sendThread(void* param) {
  std::unique_ptr<std::shared_ptr<SendContext>> holder(static_cast<std::shared_ptr<SendContext>*>(param));
  SendContext& c = **holder;
  for (;;) {
    std::deque<SocketNotification> batch;
    SocketRef socket;
    {
      Lock lock(c.mutex);
      if (c.state == StopRequested)
        return 0;
      if (c.socket && !c.queue.empty()) {
        batch.swap(c.queue);
        socket = c.socket;
      }
    }
    if (batch.empty()) {
      Sleep(16);
      continue;
    }
    for (const SocketNotification& n : batch) {
      int at = 0;
      while (at < n.size) {
        const int sent = ::send(socket->socket, n.data.get() + at, n.size - at, 0);
        if (sent <= 0) {
          // The receive thread sees the shut-down socket and reports the disconnection.
          socket->shutdownBoth();
          Lock lock(c.mutex);
          c.socket.reset();
          if (c.state != StopRequested)
            c.state = Ended;
          return 0;
        }
        at += sent;
      }
    }
  }
}

bool startThread(LPTHREAD_START_ROUTINE routine, void* param) {
  HANDLE h = CreateThread(nullptr, 0, routine, param, 0, nullptr);
  if (!h)
    return false;
  CloseHandle(h);
  return true;
}

void startWinsock() {
  static const bool started = [] {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
      LuaScript::log("Init Windows Socket Failed");
      return false;
    }
    return true;
  }();
  (void)started;
}

} // namespace

// ---- node ----

struct SocketNode::Impl : EventListener {
  SocketNode* node = nullptr;
  Timer timer{"timer"};
  std::shared_ptr<ConnectionContext> connection;
  std::shared_ptr<SendContext> sending;
  bool closed = false;
  bool destroying = false;
  SocketNodeDelegate* delegate = nullptr;

  void onEvent(const char* eventName, const char* type, EventArg, EventArg) override {
    if (std::strcmp(eventName, "timer") == 0 && std::strcmp(type, "timeout") == 0)
      node->tick(100.0f);
  }
};

SocketNode* SocketNode::create(const std::string& host, int port, SocketNodeDelegate* delegate) {
  // Nobody holds an open node but its connection; close hands it to the pool.
  return new SocketNode(host, port, delegate);
}

SocketNode::SocketNode(const std::string& host, int port, SocketNodeDelegate* delegate)
    : QxWidget("SocketNode"), impl_(std::make_unique<Impl>()) {
  ++liveNodes;
  impl_->node = this;
  impl_->delegate = delegate;
  startWinsock();
  impl_->sending = std::make_shared<SendContext>();
  impl_->connection = std::make_shared<ConnectionContext>();
  impl_->connection->host = host;
  impl_->connection->port = port;
  impl_->connection->send = impl_->sending;
  if (!startThread(sendThread, new std::shared_ptr<SendContext>(impl_->sending)))
    impl_->sending->state = Ended;
  auto* param = new std::shared_ptr<ConnectionContext>(impl_->connection);
  if (!startThread(receiveThread, param)) {
    delete param;
    queue(*impl_->connection, textNotification(SocketNotification::ConnectFailed, "Create thread failed"), true);
  }
  impl_->timer.connect(impl_.get());
  impl_->timer.start(100);
}

SocketNode::~SocketNode() {
  impl_->destroying = true;
  close();
  --liveNodes;
}

void SocketNode::send(const char* bytes, int size) {
  if (impl_->closed || size < 0)
    return;
  SocketNotification n;
  n.type = SocketNotification::Packet;
  n.size = size;
  n.data.reset(new char[size_t(size > 0 ? size : 1)]);
  std::memcpy(n.data.get(), bytes, size_t(size));
  Lock lock(impl_->sending->mutex);
  impl_->sending->queue.push_back(std::move(n));
}

void SocketNode::close() {
  if (impl_->closed)
    return;
  impl_->closed = true;
  impl_->timer.stop();
  {
    ConnectionContext& c = *impl_->connection;
    Lock lock(c.mutex);
    if (c.socket) {
      c.socket->shutdownBoth();
      c.socket.reset();
    }
    c.queue.clear();
    c.send.reset();
    if (c.state != Ended)
      c.state = StopRequested;
  }
  {
    SendContext& c = *impl_->sending;
    Lock lock(c.mutex);
    if (c.socket) {
      c.socket->shutdownBoth();
      c.socket.reset();
    }
    c.queue.clear();
    if (c.state != Ended)
      c.state = StopRequested;
  }
  // Contexts are shared with their threads: each is freed by whichever side lets go last.
  SocketNodeDelegate* delegate = impl_->delegate;
  impl_->delegate = nullptr;
  if (delegate)
    delegate->onSocketNodeClosed();
  // Freed after the current event: a caller up the stack (the pump, a delegate) may
  // still be inside this node.
  if (!impl_->destroying)
    autorelease();
}

bool SocketNode::isClosed() const { return impl_->closed; }

void SocketNode::setDelegate(SocketNodeDelegate* delegate) { impl_->delegate = delegate; }

void SocketNode::tick(float) {
  std::deque<SocketNotification> batch;
  int state = Running;
  {
    ConnectionContext& c = *impl_->connection;
    Lock lock(c.mutex);
    state = c.state;
    batch.swap(c.queue);
  }
  for (const SocketNotification& n : batch) {
    // Looked up for every notification: a delegate may detach itself while handling one.
    if (impl_->delegate)
      impl_->delegate->onSocketNotification(n.type, n.data.get(), n.size);
  }
  if (state == Ended)
    close();
}

} // namespace qx

#ifdef QX_TEST_HOOKS
int SocketNodeTestApi::liveNodes() { return qx::liveNodes; }
#endif
