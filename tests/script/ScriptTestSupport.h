#pragma once
// Helpers of the script host and socket tests under Wine: a recorder of "EVENT_NOTIFY",
// a watcher of the host's log, a loopback peer and the development update server. The
// host's timers run from the shared message pump.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/EventListener.h"
#include "tests/support/MessagePump.h"

namespace qxtest {

// Runs a chunk in the host's interpreter; one string result, or "ERROR: message".
std::string runLua(const std::string& chunk);

struct NotifyCopy {
  std::string kind, url, md5, size, version;
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
  bool contains(const std::string& text) const;
  // Lines holding `text`.
  int count(const std::string& text) const;
  std::string all() const;
};

// A TCP peer on 127.0.0.1 driven by the test: a listener on a free port whose one
// connection is accepted by a background thread, so that the test thread may block in
// the module's connect meanwhile.
class LoopbackPeer {
public:
  explicit LoopbackPeer(int backlog = 4, bool accept = true);
  ~LoopbackPeer();
  int port() const { return port_; }
  bool waitAccepted(unsigned timeoutMs);
  bool sendRaw(const std::string& bytes);
  // Whatever arrives within the time (stops early once `want` bytes are there).
  std::string receive(size_t want, unsigned timeoutMs);
  // True when the client has closed its end within the time.
  bool waitClosed(unsigned timeoutMs);

private:
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET peer_ = INVALID_SOCKET;
  HANDLE thread_ = nullptr;
  int port_ = 0;
  static DWORD WINAPI acceptThread(void* self);
  // Something to read (or the end) within 20 ms.
  bool readable() const;
};

// The native development update server, started through Wine from QX_DEVSERVER; it stops
// when the test ends (stop file, parent exit, or its own time limit).
class DevServer {
public:
  static const char* binary();  // null when QX_DEVSERVER is not set
  explicit DevServer(const std::string& arguments);
  ~DevServer();
  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  std::string log() const;

private:
  std::string folder_;
  int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on.
int closedPort();

// The update query of the script set in the host, against the development update server;
// skipped when QX_DEVSERVER is not set.
class UpdateQueryTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  // Runs the query against a server started with `arguments` (or against `port` when
  // that is given); waits for the result and a while longer, to see that it comes once.
  void query(const std::string& arguments, unsigned waitMs);
  void queryPort(int port, unsigned waitMs);
  // Exactly one result, the empty one of a failed query.
  void expectEmptyResult() const;

  // The host's limit for a query that hears nothing.
  unsigned queryTimeoutMs = 8000;
  NotifyRecorder recorder;
  LogCapture log;
  std::unique_ptr<DevServer> server;
};

} // namespace qxtest
