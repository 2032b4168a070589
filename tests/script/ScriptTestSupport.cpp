#include "tests/script/ScriptTestSupport.h"

#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <lua.hpp>

#include "script/LuaScript.h"
#include "script/NotifyRecord.h"
#include "tests/script/LuaScriptTestApi.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TimerWitness.h"

namespace qxtest {

namespace {

std::vector<std::string>* g_capture = nullptr;

void startWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

} // namespace

std::string runLua(const std::string& chunk) {
  lua_State* L = LuaScript::instance().state();
  const int top = lua_gettop(L);
  std::string out;
  if (luaL_loadbuffer(L, chunk.data(), chunk.size(), "=test") != LUA_OK ||
      lua_pcall(L, 0, 1, 0) != LUA_OK) {
    const char* msg = lua_tostring(L, -1);
    out = std::string("ERROR: ") + (msg ? msg : "?");
  } else {
    size_t n = 0;
    const char* s = lua_tolstring(L, -1, &n);
    out = s ? std::string(s, n) : std::string("(nil)");
  }
  lua_settop(L, top);
  return out;
}

NotifyRecorder::NotifyRecorder() { LuaScript::instance().event().connect(this); }

void NotifyRecorder::onEvent(const char* eventName, const char* type, EventArg arg1, EventArg arg2) {
  if (std::strcmp(eventName, "LuaScript") != 0 || std::strcmp(type, "EVENT_NOTIFY") != 0)
    return;
  const auto* r = reinterpret_cast<const NotifyRecord*>(arg1);
  records.push_back({r->kind, r->url, r->md5, r->size, r->version, arg2});
}

LogCapture::LogCapture() {
  g_capture = &lines;
  LuaScriptTestApi::setLogHook([](const std::string& line) {
    if (g_capture)
      g_capture->push_back(line);
  });
}

LogCapture::~LogCapture() {
  LuaScriptTestApi::setLogHook(nullptr);
  g_capture = nullptr;
}

bool LogCapture::contains(const std::string& text) const {
  for (const std::string& l : lines) {
    if (l.find(text) != std::string::npos)
      return true;
  }
  return false;
}

int LogCapture::count(const std::string& text) const {
  int n = 0;
  for (const std::string& l : lines)
    n += l.find(text) != std::string::npos;
  return n;
}

std::string LogCapture::all() const {
  std::string out;
  for (const std::string& l : lines)
    out += l;
  return out;
}

LoopbackPeer::LoopbackPeer(int backlog, bool accept) {
  startWinsock();
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(listener_, backlog);
  int len = sizeof addr;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  if (accept)
    thread_ = CreateThread(nullptr, 0, acceptThread, this, 0, nullptr);
}

DWORD WINAPI LoopbackPeer::acceptThread(void* param) {
  auto* self = static_cast<LoopbackPeer*>(param);
  fd_set set;
  FD_ZERO(&set);
  FD_SET(self->listener_, &set);
  timeval limit{15, 0};
  if (select(0, &set, nullptr, nullptr, &limit) == 1)
    self->peer_ = ::accept(self->listener_, nullptr, nullptr);
  return 0;
}

LoopbackPeer::~LoopbackPeer() {
  // Closing the listener ends a waiting accept thread at once.
  closesocket(listener_);
  if (thread_) {
    WaitForSingleObject(thread_, 20000);
    CloseHandle(thread_);
  }
  if (peer_ != INVALID_SOCKET)
    closesocket(peer_);
}

bool LoopbackPeer::waitAccepted(unsigned timeoutMs) {
  return thread_ && WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0 && peer_ != INVALID_SOCKET;
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

bool LoopbackPeer::readable() const {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(peer_, &set);
  timeval limit{0, 20000};
  return select(0, &set, nullptr, nullptr, &limit) == 1;
}

std::string LoopbackPeer::receive(size_t want, unsigned timeoutMs) {
  std::string out;
  const DWORD start = GetTickCount();
  while (out.size() < want && GetTickCount() - start < timeoutMs) {
    if (!readable())
      continue;
    char buf[4096];
    const int n = recv(peer_, buf, sizeof buf, 0);
    if (n <= 0)
      break;
    out.append(buf, size_t(n));
  }
  return out;
}

bool LoopbackPeer::waitClosed(unsigned timeoutMs) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (!readable())
      continue;
    char buf[256];
    if (recv(peer_, buf, sizeof buf, 0) <= 0)
      return true;
  }
  return false;
}

const char* DevServer::binary() {
  const char* path = std::getenv("QX_DEVSERVER");
  return path && *path ? path : nullptr;
}

DevServer::DevServer(const std::string& arguments) : folder_(scratchFolder("devserver")) {
  // The server is a Unix program: its paths take forward slashes.
  for (char& c : folder_) {
    if (c == '\\')
      c = '/';
  }
  std::string command = std::string(binary()) + " --port 0 --port-file " + folder_ + "/port" +
                        " --log " + folder_ + "/log --stop-file " + folder_ + "/stop" +
                        " --max-seconds 120 " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // A Unix program: Wine starts it without giving back a process handle.
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return;
  if (process.hProcess)
    CloseHandle(process.hProcess);
  if (process.hThread)
    CloseHandle(process.hThread);
  const std::string portFile = folder_ + "/port";
  pumpUntil([&] {
    std::ifstream in(portFile);
    return static_cast<bool>(in >> port_);
  }, 15000);
}

DevServer::~DevServer() { writeFile(folder_ + "/stop", "stop\n"); }

std::string DevServer::log() const { return readFile(folder_ + "/log"); }

int closedPort() {
  startWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  closesocket(s);
  return ntohs(addr.sin_port);
}

void UpdateQueryTest::SetUp() {
  if (!DevServer::binary())
    GTEST_SKIP() << "QX_DEVSERVER is not set; it names the native development update "
                    "server (<native build>/tools/devserver/devserver)";
  LuaScriptTestApi::reset();
  LuaScriptTestApi::setQueryTimeout(queryTimeoutMs);
  LuaScript::instance().setUpdateServer("127.0.0.1");
}

void UpdateQueryTest::TearDown() {
  LuaScriptTestApi::reset();
  LuaScriptTestApi::setQueryTimeout(60000);
}

void UpdateQueryTest::query(const std::string& arguments, unsigned waitMs) {
  server = std::make_unique<DevServer>(arguments);
  ASSERT_TRUE(server->started()) << "the development update server did not start";
  queryPort(server->port(), waitMs);
}

void UpdateQueryTest::queryPort(int port, unsigned waitMs) {
  LuaScript::instance().setUpdatePort(port);
  LuaScript::instance().run();
  pumpUntil([&] { return !recorder.records.empty(); }, waitMs);
  // A second result would come from the host's timers: they have had their chances.
  waitForTicks(250, 2);
}

void UpdateQueryTest::expectEmptyResult() const {
  ASSERT_EQ(1u, recorder.records.size()) << log.all();
  const NotifyCopy& r = recorder.records[0];
  EXPECT_EQ("installer", r.kind);
  EXPECT_EQ("", r.url) << log.all();
  EXPECT_EQ("", r.md5);
  EXPECT_EQ("", r.size);
  EXPECT_EQ("", r.version);
}

} // namespace qxtest
