// The development update server natively: started as a child process, spoken to over
// loopback with messages built by the project's own schema and message host.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <lua.hpp>

#include "tests/script/LuaTestState.h"
#include "tests/support/TestFiles.h"

extern char** environ;

namespace {

class DevServerProcess {
public:
  explicit DevServerProcess(std::vector<std::string> args) : folder_(qxtest::scratchFolder("devserver-native")) {
    std::vector<std::string> all{QX_DEVSERVER_BIN, "--port", "0", "--port-file", folder_ + "/port",
                                 "--stop-file", folder_ + "/stop", "--max-seconds", "60"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
      argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (pid_ > 0 && port_ == 0 && std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(folder_ + "/port");
      if (!(in >> port_))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~DevServerProcess() {
    if (pid_ <= 0)
      return;
    qxtest::writeFile(folder_ + "/stop", "stop\n");
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }

private:
  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

class Connection {
public:
  explicit Connection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Connection() { close(fd_); }
  bool connected() const { return connected_; }
  void send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  // One framed packet (payload only); "" when none came in time or the server closed.
  std::string packet(int timeoutMs, bool* closed = nullptr, bool* got = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (buffer_.size() >= 2) {
        const size_t len = size_t(uint8_t(buffer_[0])) << 8 | uint8_t(buffer_[1]);
        if (buffer_.size() >= len + 2) {
          std::string p = buffer_.substr(2, len);
          buffer_.erase(0, len + 2);
          if (got)
            *got = true;
          return p;
        }
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) != 1)
        continue;
      char buf[4096];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        if (closed)
          *closed = true;
        return "";
      }
      buffer_.append(buf, size_t(n));
    }
    return "";
  }

private:
  int fd_;
  bool connected_ = false;
  std::string buffer_;
};

class DevServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ("", lua.eval(R"(
      sproto = require "sproto"
      proto = require "proto"
      host = sproto.new(proto.s2c):host "package"
      send = host:attach(sproto.new(proto.c2s))
      return "")"));
  }

  std::string framed(const std::string& chunk) {
    const std::string msg = lua.eval(chunk);
    return std::string{char(msg.size() >> 8), char(msg.size() & 0xFF)} + msg;
  }

  // Sends get_update_info with session 2 and returns the dispatched answer as text.
  std::string askUpdateInfo(Connection& c) {
    c.send(framed("return send('get_update_info', {phone_plat = 2, client_version = '1.0.0.1', "
                  "res_version = '1.0.0.1', login_channel = 'test'}, 2)"));
    const std::string answer = c.packet(5000);
    lua_State* L = lua.state();
    lua_pushlstring(L, answer.data(), answer.size());
    lua_setglobal(L, "answer");
    return lua.eval(R"(
      local kind, session, r = host:dispatch(answer)
      local info = r.attach_msg and require("cjson").decode(r.attach_msg)
      local p = info and info.package_infos
      local form = p and (p[1] and "array" or "object") or "none"
      if p and p[1] then p = p[1] end
      return table.concat({kind, session, r.error_code, form,
        p and p.url or "-", p and p.md5 or "-", p and math.tointeger(p.size) or "-",
        info and info.newest_version or "-"}, " "))");
  }

  qxtest::LuaTestState lua;
};

TEST_F(DevServerTest, AnswersHeartbeatAndUpdateInfo) {
  DevServerProcess server({"--url", "http://h/s.exe", "--md5", "abc", "--size", "123", "--version", "9.9"});
  ASSERT_GT(server.port(), 0);
  Connection c(server.port());
  ASSERT_TRUE(c.connected());
  c.send(framed("return send('heartbeat', nil, 1)"));
  EXPECT_EQ("15 02 01 04", qxtest::hex(c.packet(5000)));
  EXPECT_EQ("RESPONSE 2 0 object http://h/s.exe abc 123 9.9", askUpdateInfo(c));
}

TEST_F(DevServerTest, AnnouncesThePackageOfAFileInArrayForm) {
  const std::string folder = qxtest::scratchFolder("devserver-package");
  qxtest::writeFile(folder + "/package.txt",
                    "# the package\nurl=http://h/p.exe\nmd5=ff\nsize=5368709120\nversion=2.0\nform=array\n");
  DevServerProcess server({"--package", folder + "/package.txt"});
  ASSERT_GT(server.port(), 0);
  Connection c(server.port());
  ASSERT_TRUE(c.connected());
  EXPECT_EQ("RESPONSE 2 0 array http://h/p.exe ff 5368709120 2.0", askUpdateInfo(c));
}

TEST_F(DevServerTest, AnswersWithAnErrorCodeAlone) {
  DevServerProcess server({"--error-code", "4"});
  ASSERT_GT(server.port(), 0);
  Connection c(server.port());
  ASSERT_TRUE(c.connected());
  EXPECT_EQ("RESPONSE 2 4 none - - - -", askUpdateInfo(c));
}

TEST_F(DevServerTest, TestModesMisbehaveAsAsked) {
  {
    DevServerProcess server({"--close"});
    ASSERT_GT(server.port(), 0);
    Connection c(server.port());
    bool closed = false;
    EXPECT_EQ("", c.packet(3000, &closed));
    EXPECT_TRUE(closed);
  }
  {
    DevServerProcess server({"--silent"});
    ASSERT_GT(server.port(), 0);
    Connection c(server.port());
    c.send(framed("return send('heartbeat', nil, 1)"));
    bool closed = false;
    EXPECT_EQ("", c.packet(500, &closed));
    EXPECT_FALSE(closed);
  }
  {
    DevServerProcess server({"--empty-packet"});
    ASSERT_GT(server.port(), 0);
    Connection c(server.port());
    bool closed = false, got = false;
    EXPECT_EQ("", c.packet(3000, &closed, &got));
    EXPECT_TRUE(got);
    EXPECT_FALSE(closed);
  }
  {
    DevServerProcess server({"--bad-json"});
    ASSERT_GT(server.port(), 0);
    Connection c(server.port());
    c.send(framed("return send('get_update_info', {}, 2)"));
    const std::string answer = c.packet(5000);
    lua_pushlstring(lua.state(), answer.data(), answer.size());
    lua_setglobal(lua.state(), "answer");
    EXPECT_NE(std::string::npos, lua.eval(R"(
      local _, _, r = host:dispatch(answer)
      local ok, e = pcall(require("cjson").decode, r.attach_msg)
      return tostring(ok) .. " " .. tostring(e))").find("false"));
  }
}

TEST(DevServerLifetime, EndsWithItsParentWhenAsked) {
  const std::string folder = qxtest::scratchFolder("devserver-parent");
  const std::string script = std::string("'") + QX_DEVSERVER_BIN + "' --port 0 --port-file " + folder +
                             "/port --max-seconds 60 --exit-with-parent & sleep 1";
  const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
  pid_t shell = -1;
  ASSERT_EQ(0, posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ));
  int port = 0;
  for (int i = 0; i < 500 && port == 0; ++i) {
    std::ifstream in(folder + "/port");
    if (!(in >> port))
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(port, 0);
  EXPECT_TRUE(Connection(port).connected());
  waitpid(shell, nullptr, 0);
  bool gone = false;
  for (int i = 0; i < 150 && !gone; ++i) {
    gone = !Connection(port).connected();
    if (!gone)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(gone);
}

} // namespace
