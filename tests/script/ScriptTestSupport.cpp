#include "tests/script/ScriptTestSupport.h"

#include <cstring>

#include "script/NotifyRecord.h"
#include "tests/script/LuaScriptTestApi.h"

namespace qxtest {

namespace {

void startWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

// Something to read (or the end) within the time.
bool readable(SOCKET s, unsigned timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval limit{long(timeoutMs / 1000), long(timeoutMs % 1000 * 1000)};
  return select(0, &set, nullptr, nullptr, &limit) == 1;
}

} // namespace

NotifyRecorder::NotifyRecorder() { LuaScript::instance().event().connect(this); }

void NotifyRecorder::onEvent(const char* eventName, const char* type, EventArg arg1, EventArg arg2) {
  if (std::strcmp(eventName, "LuaScript") != 0 || std::strcmp(type, "EVENT_NOTIFY") != 0)
    return;
  const auto* r = reinterpret_cast<const NotifyRecord*>(arg1);
  records.push_back({std::string(r->kind) + "|" + r->url + "|" + r->md5 + "|" + r->size + "|" + r->version, arg2});
}

LogCapture::LogCapture() {
  LuaScriptTestApi::setLogHook([this](const std::string& line) { lines.push_back(line); });
}

LogCapture::~LogCapture() { LuaScriptTestApi::setLogHook(nullptr); }

int LogCapture::count(const std::string& text) const {
  int n = 0;
  for (const std::string& l : lines)
    n += l.find(text) != std::string::npos;
  return n;
}

LoopbackPeer::LoopbackPeer(int backlog) {
  startWinsock();
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(listener_, backlog);
  int len = sizeof addr;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

LoopbackPeer::~LoopbackPeer() {
  closesocket(listener_);
  if (peer_ != INVALID_SOCKET)
    closesocket(peer_);
}

bool LoopbackPeer::waitAccepted(unsigned timeoutMs) {
  if (peer_ == INVALID_SOCKET && readable(listener_, timeoutMs))
    peer_ = accept(listener_, nullptr, nullptr);
  return peer_ != INVALID_SOCKET;
}

bool LoopbackPeer::sendRaw(const std::string& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const int n = send(peer_, bytes.data() + at, int(bytes.size() - at), 0);
    if (n <= 0)
      return false;
    at += size_t(n);
  }
  return true;
}

std::string LoopbackPeer::receive(size_t want, unsigned timeoutMs) {
  std::string out;
  char buf[4096];
  while (out.size() < want && readable(peer_, timeoutMs)) {
    const int n = recv(peer_, buf, sizeof buf, 0);
    if (n <= 0)
      break;
    out.append(buf, size_t(n));
  }
  return out;
}

bool LoopbackPeer::waitClosed(unsigned timeoutMs) {
  char buf[256];
  while (readable(peer_, timeoutMs)) {
    if (recv(peer_, buf, sizeof buf, 0) <= 0)
      return true;
  }
  return false;
}

// Its listener is closed again when the peer goes, at the end of the statement.
int closedPort() { return LoopbackPeer().port(); }

} // namespace qxtest
