#pragma once
// Helpers of the script host and socket tests under Wine: a recorder of "EVENT_NOTIFY",
// a watcher of the host's log and a loopback peer. The host's timers run from the shared
// message pump.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/EventListener.h"
#include "script/LuaScript.h"
#include "tests/script/LuaTestState.h"
#include "tests/support/MessagePump.h"

namespace qxtest {

// Runs a chunk in the host's interpreter; one string result, or "ERROR: message".
inline std::string runLua(const std::string& chunk) { return eval(LuaScript::instance().state(), chunk); }

struct NotifyCopy {
  std::string text;  // "kind|url|md5|size|version"
  EventArg length = 0;
};

// Connected to the host's "LuaScript" event for its lifetime.
class NotifyRecorder : public EventListener {
public:
  NotifyRecorder();
  std::vector<NotifyCopy> records;
  void onEvent(const char* eventName, const char* type, EventArg arg1, EventArg arg2) override;
};

// Collects the host's log lines ("[lua] ...") for its lifetime.
class LogCapture {
public:
  LogCapture();
  ~LogCapture();
  std::vector<std::string> lines;
  // Lines holding `text`.
  int count(const std::string& text) const;
  bool contains(const std::string& text) const { return count(text) > 0; }
  std::string all() const { return ::testing::PrintToString(lines); }
};

// A TCP peer on 127.0.0.1 driven by the test: a listener on a free port. The system
// completes a client's handshake from the backlog, so the test takes the connection
// after the module's connect has returned.
class LoopbackPeer {
public:
  explicit LoopbackPeer(int backlog = 4);
  ~LoopbackPeer();
  int port() const { return port_; }
  bool waitAccepted(unsigned timeoutMs);
  bool sendRaw(const std::string& bytes);
  // Whatever arrives until `want` bytes are there or nothing came for the time.
  std::string receive(size_t want, unsigned timeoutMs);
  // True when the client has closed its end within the time.
  bool waitClosed(unsigned timeoutMs);

private:
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET peer_ = INVALID_SOCKET;
  int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on.
int closedPort();

} // namespace qxtest
