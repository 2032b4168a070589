#pragma once
// Helpers of the script host and socket tests under Wine: a recorder of "EVENT_NOTIFY",
// a watcher of the host's log and a loopback peer. The host's timers run from the shared
// message pump.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gui/EventListener.h"
#include "script/LuaScript.h"
#include "script/LuaScriptTestApi.h"
#include "script/NotifyRecord.h"
#include "tests/script/LuaTestState.h"
#include "tests/support/MessagePump.h"

namespace qxtest {

using Lines = std::vector<std::string>;

// Runs a chunk in the host's interpreter; one string result, or "ERROR: message".
inline std::string runLua(const std::string& chunk) { return eval(LuaScript::instance().state(), chunk); }

// Connected to the host's "LuaScript" event for its lifetime: each record as
// "kind|url|md5|size|version".
class NotifyRecorder : public EventListener {
public:
  NotifyRecorder() { LuaScript::instance().event().connect(this); }
  Lines records;
  void onEvent(const char* eventName, const char* type, EventArg arg1, EventArg arg2) override {
    if (std::strcmp(eventName, "LuaScript") != 0 || std::strcmp(type, "EVENT_NOTIFY") != 0)
      return;
    const auto* r = reinterpret_cast<const NotifyRecord*>(arg1);
    records.push_back(std::string(r->kind) + "|" + r->url + "|" + r->md5 + "|" + r->size + "|" + r->version);
    EXPECT_EQ(sizeof(NotifyRecord), arg2) << "the record's length";
  }
};

// Collects the host's log lines ("[lua] ...") for its lifetime.
class LogCapture {
public:
  LogCapture() { LuaScriptTestApi::setLogHook([this](const std::string& line) { lines.push_back(line); }); }
  ~LogCapture() { LuaScriptTestApi::setLogHook(nullptr); }
  Lines lines;
  // Lines holding `text`.
  int count(const std::string& text) const {
    return int(std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.find(text) != std::string::npos; }));
  }
  bool contains(const std::string& text) const { return count(text) > 0; }
  std::string all() const { return ::testing::PrintToString(lines); }
};

// A TCP peer on 127.0.0.1 driven by the test: a listener on a free port. The system
// completes a client's handshake from the backlog, so the test takes the connection
// after the module's connect has returned.
class LoopbackPeer {
public:
  explicit LoopbackPeer(int backlog = 4) {
    // Counted by the system: each peer starts Windows Sockets once more.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
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
  ~LoopbackPeer() {
    closesocket(listener_);
    if (peer_ != INVALID_SOCKET)
      closesocket(peer_);
  }
  int port() const { return port_; }
  bool waitAccepted(unsigned timeoutMs) {
    if (peer_ == INVALID_SOCKET && readable(listener_, timeoutMs))
      peer_ = accept(listener_, nullptr, nullptr);
    return peer_ != INVALID_SOCKET;
  }
  // A blocking send returns once it has taken every byte.
  bool sendRaw(const std::string& bytes) { return send(peer_, bytes.data(), int(bytes.size()), 0) == int(bytes.size()); }
  // True when the client has closed its end within the time.
  bool waitClosed(unsigned timeoutMs) {
    char buf[256];
    int n = 1;
    while (n > 0 && readable(peer_, timeoutMs))
      n = recv(peer_, buf, sizeof buf, 0);
    return n <= 0;
  }

private:
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET peer_ = INVALID_SOCKET;
  int port_ = 0;

  // Something to read (or the end) within the time.
  static bool readable(SOCKET s, unsigned timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit{long(timeoutMs / 1000), long(timeoutMs % 1000 * 1000)};
    return select(0, &set, nullptr, nullptr, &limit) == 1;
  }
};

} // namespace qxtest
