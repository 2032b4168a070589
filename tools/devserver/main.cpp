// Development update server: answers the installer's update query on a TCP port, using
// the installer's own schema, message host and sproto code (devserver.lua). Linux only.
//
// Sections: options, script, connections, main loop.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <lua.hpp>

#include "script/SprotoCoreModule.h"

extern "C" int luaopen_lpeg(lua_State* L);
extern "C" int luaopen_cjson(lua_State* L);

namespace {

// ---- options ----

const char kUsage[] =
    "usage: devserver [--address A] [--port P] [--port-file F] [--log F]\n"
    "                 [--package FILE | --url U --md5 M --size S --version V] [--array]\n"
    "                 [--error-code N | --bad-json | --close | --silent | --server-request |\n"
    "                  --empty-packet | --hostile KIND] [--max-seconds N] [--stop-file F]\n"
    "                 [--exit-with-parent]\n"
    "                 [--scripts DIR]\n"
    "Answers heartbeat and get_update_info on A:P (default 127.0.0.1:8901; port 0 picks a\n"
    "free one, written to --port-file). --package reads key=value lines: url, md5, size,\n"
    "version and form (object or array). The test modes answer get_update_info with an\n"
    "error_code and no attach_msg, with invalid JSON, close each connection at once, never\n"
    "answer, send a request of the server's own, or send an empty packet. --hostile answers\n"
    "get_update_info with garbage, short-length (a length announcing more than follows),\n"
    "oversize (a packet longer than the framing carries), unknown-session, big-attach\n"
    "(an attach_msg of 100 KB) or number-url (a url that is a JSON number). It stops after\n"
    "--max-seconds, when the --stop-file appears, or with the process that started it\n"
    "(--exit-with-parent; Wine starts Unix programs detached, so not under Wine).\n";

struct Options {
  std::string address = "127.0.0.1";
  int port = 8901;
  std::string portFile;
  std::string logFile;
  std::map<std::string, std::string> package{
      {"url", "http://127.0.0.1:8080/setup.exe"},
      {"md5", "d41d8cd98f00b204e9800998ecf8427e"},
      {"size", "0"},
      {"version", "1.0.0.1"},
      {"form", "object"}};
  int errorCode = 0;
  bool badJson = false;
  bool closeAtOnce = false;
  bool silent = false;
  bool serverRequest = false;
  bool emptyPacket = false;
  std::string hostile;
  int maxSeconds = 0;
  std::string stopFile;
  bool exitWithParent = false;
  std::string scripts = QX_SCRIPTS_DIR;
};

bool readPackageFile(const std::string& path, Options& o) {
  std::ifstream in(path);
  if (!in)
    return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty() || line[0] == '#')
      continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
      return false;
    o.package[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return true;
}

bool parseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc)
        return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--address" && value(o.address)) {
    } else if (a == "--port" && value(v)) {
      o.port = std::atoi(v.c_str());
    } else if (a == "--port-file" && value(o.portFile)) {
    } else if (a == "--log" && value(o.logFile)) {
    } else if (a == "--package" && value(v)) {
      if (!readPackageFile(v, o)) {
        std::fprintf(stderr, "devserver: cannot read package file %s\n", v.c_str());
        return false;
      }
    } else if ((a == "--url" || a == "--md5" || a == "--size" || a == "--version") && value(v)) {
      o.package[a.substr(2)] = v;
    } else if (a == "--array") {
      o.package["form"] = "array";
    } else if (a == "--error-code" && value(v)) {
      o.errorCode = std::atoi(v.c_str());
    } else if (a == "--bad-json") {
      o.badJson = true;
    } else if (a == "--close") {
      o.closeAtOnce = true;
    } else if (a == "--silent") {
      o.silent = true;
    } else if (a == "--server-request") {
      o.serverRequest = true;
    } else if (a == "--empty-packet") {
      o.emptyPacket = true;
    } else if (a == "--hostile" && value(o.hostile)) {
      static const char* const kinds[] = {"garbage", "short-length", "oversize",
                                          "unknown-session", "big-attach", "number-url"};
      bool known = false;
      for (const char* k : kinds)
        known = known || o.hostile == k;
      if (!known)
        return false;
    } else if (a == "--max-seconds" && value(v)) {
      o.maxSeconds = std::atoi(v.c_str());
    } else if (a == "--stop-file" && value(o.stopFile)) {
    } else if (a == "--exit-with-parent") {
      o.exitWithParent = true;
    } else if (a == "--scripts" && value(o.scripts)) {
    } else {
      return false;
    }
  }
  return true;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", c);
    out += buf;
  }
  return out;
}

class Log {
public:
  explicit Log(const std::string& path) : file_(path.empty() ? nullptr : std::fopen(path.c_str(), "a")) {}
  ~Log() {
    if (file_)
      std::fclose(file_);
  }
  void line(const char* what, const std::string& text) {
    std::printf("devserver: %s %s\n", what, text.c_str());
    std::fflush(stdout);
    if (file_) {
      std::fprintf(file_, "%s %s\n", what, text.c_str());
      std::fflush(file_);
    }
  }

private:
  FILE* file_;
};

// ---- script ----

// The interpreter running devserver.lua; every call is protected.
class Script {
public:
  Script() : L_(luaL_newstate()) {}
  ~Script() { lua_close(L_); }

  bool load(const Options& o, std::string& error) {
    luaL_openlibs(L_);
    luaL_requiref(L_, "sproto.core", luaopen_sproto_core, 0);
    luaL_requiref(L_, "lpeg", luaopen_lpeg, 0);
    luaL_requiref(L_, "cjson", luaopen_cjson, 0);
    lua_settop(L_, 0);
    const std::string path = o.scripts + "/?.lua;" + QX_DEVSERVER_DIR + "/?.lua";
    lua_getglobal(L_, "package");
    lua_pushstring(L_, path.c_str());
    lua_setfield(L_, -2, "path");
    lua_pop(L_, 1);
    lua_getglobal(L_, "require");
    lua_pushliteral(L_, "devserver");
    if (lua_pcall(L_, 1, 1, 0) != LUA_OK)
      return fail(error);
    lua_setfield(L_, LUA_REGISTRYINDEX, "devserver");

    server();
    lua_getfield(L_, -1, "configure");
    lua_newtable(L_);
    for (const auto& kv : o.package) {
      if (kv.first == "form") {
        lua_pushboolean(L_, kv.second == "array");
        lua_setfield(L_, -2, "array");
        continue;
      }
      // A numeric size goes out as a JSON number, anything else as given.
      if (kv.first != "size" || lua_stringtonumber(L_, kv.second.c_str()) == 0)
        lua_pushstring(L_, kv.second.c_str());
      lua_setfield(L_, -2, kv.first.c_str());
    }
    lua_pushinteger(L_, o.errorCode);
    lua_setfield(L_, -2, "error_code");
    lua_pushboolean(L_, o.badJson);
    lua_setfield(L_, -2, "bad_json");
    lua_pushstring(L_, o.hostile.c_str());
    lua_setfield(L_, -2, "hostile");
    if (lua_pcall(L_, 1, 0, 0) != LUA_OK)
      return fail(error);
    lua_settop(L_, 0);
    return true;
  }

  // The packets to send back for one received packet.
  bool handle(const std::string& packet, std::vector<std::string>& replies, std::string& error) {
    server();
    lua_getfield(L_, -1, "handle");
    lua_pushlstring(L_, packet.data(), packet.size());
    if (lua_pcall(L_, 1, 1, 0) != LUA_OK)
      return fail(error);
    const lua_Integer n = luaL_len(L_, -1);
    for (lua_Integer i = 1; i <= n; ++i) {
      lua_geti(L_, -1, i);
      size_t len = 0;
      const char* s = lua_tolstring(L_, -1, &len);
      if (s)
        replies.emplace_back(s, len);
      lua_pop(L_, 1);
    }
    lua_settop(L_, 0);
    return true;
  }

  bool serverRequest(std::string& packet, std::string& error) {
    server();
    lua_getfield(L_, -1, "request");
    if (lua_pcall(L_, 0, 1, 0) != LUA_OK)
      return fail(error);
    size_t len = 0;
    const char* s = lua_tolstring(L_, -1, &len);
    packet.assign(s ? s : "", s ? len : 0);
    lua_settop(L_, 0);
    return true;
  }

private:
  void server() { lua_getfield(L_, LUA_REGISTRYINDEX, "devserver"); }
  bool fail(std::string& error) {
    const char* msg = lua_tostring(L_, -1);
    error = msg ? msg : "(no message)";
    lua_settop(L_, 0);
    return false;
  }

  lua_State* L_;
};

// ---- connections ----

// A packet longer than 65535 bytes gets the low 16 bits of its length, as a careless
// server would write them (the hostile big-attach mode relies on it).
std::string framed(const std::string& packet, size_t extra = 0) {
  const size_t n = packet.size() + extra;
  return std::string{char((n >> 8) & 0xFF), char(n & 0xFF)} + packet;
}

// Deterministic noise, so that a failing run can be repeated byte for byte.
std::string noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = char(seed >> 16);
  }
  return out;
}

// What goes on the wire for one reply in the hostile modes that break the framing itself;
// the others shape the message in devserver.lua and are framed as usual.
std::string wire(const std::string& reply, const Options& o) {
  if (o.hostile == "garbage")
    return noise(4096, 0x9E3779B9u);
  if (o.hostile == "short-length")
    return framed(reply, 100);
  if (o.hostile == "oversize")
    return std::string("\xFF\xFF") + std::string(65535, '\x11');
  return framed(reply);
}

bool sendAll(int fd, const std::string& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0)
      return false;
    at += size_t(n);
  }
  return true;
}

struct Client {
  int fd = -1;
  std::string buffer;
  int packets = 0;
};

// Splits the buffered stream into packets and answers them. False to close the client.
bool serve(Client& c, Script& script, const Options& o, Log& log) {
  while (c.buffer.size() >= 2) {
    const size_t len = size_t(uint8_t(c.buffer[0])) << 8 | uint8_t(c.buffer[1]);
    if (c.buffer.size() < len + 2)
      break;
    const std::string packet = c.buffer.substr(2, len);
    log.line("recv", hex(c.buffer.substr(0, len + 2)));
    c.buffer.erase(0, len + 2);
    ++c.packets;
    if (o.silent)
      continue;
    std::vector<std::string> replies;
    std::string error;
    if (!script.handle(packet, replies, error)) {
      log.line("error", error);
      continue;
    }
    for (const std::string& r : replies) {
      // The heartbeat comes first and is answered properly; the hostile answer is the
      // one to get_update_info.
      const std::string out = c.packets >= 2 ? wire(r, o) : framed(r);
      log.line("send", hex(out));
      if (!sendAll(c.fd, out))
        return false;
    }
  }
  return true;
}

// ---- main loop ----

int listenOn(const Options& o, int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0)
    return -1;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(o.port));
  if (::inet_pton(AF_INET, o.address.c_str(), &addr.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

} // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  if (o.exitWithParent)
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  Script script;
  std::string error;
  if (!script.load(o, error)) {
    std::fprintf(stderr, "devserver: %s\n", error.c_str());
    return 1;
  }
  int port = 0;
  const int listener = listenOn(o, port);
  if (listener < 0) {
    std::fprintf(stderr, "devserver: cannot listen on %s:%d: %s\n", o.address.c_str(), o.port,
                 std::strerror(errno));
    return 1;
  }
  Log log(o.logFile);
  if (!o.portFile.empty()) {
    // Written whole under a temporary name, so a reader never sees half a number.
    const std::string tmp = o.portFile + ".tmp";
    std::ofstream(tmp) << port << "\n";
    std::rename(tmp.c_str(), o.portFile.c_str());
  }
  log.line("listening on", o.address + ":" + std::to_string(port));

  const auto start = std::chrono::steady_clock::now();
  std::vector<Client> clients;
  for (;;) {
    if (o.maxSeconds > 0 && std::chrono::steady_clock::now() - start > std::chrono::seconds(o.maxSeconds))
      break;
    // A program under Wine that starts this server gets no handle to stop it with.
    if (!o.stopFile.empty() && ::access(o.stopFile.c_str(), F_OK) == 0)
      break;
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (const Client& c : clients)
      fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR)
      break;
    if (fds[0].revents & POLLIN) {
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd >= 0) {
        log.line("accepted", "connection");
        if (o.closeAtOnce) {
          ::close(fd);
          log.line("closed", "connection");
        } else {
          std::string first;
          if (o.emptyPacket)
            first = framed("");
          else if (o.serverRequest && !script.serverRequest(first, error))
            log.line("error", error);
          else if (o.serverRequest)
            first = framed(first);
          if (!first.empty()) {
            log.line("send", hex(first));
            sendAll(fd, first);
          }
          clients.push_back({fd, {}, 0});
        }
      }
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      Client& c = clients[i - 1];
      char buf[65536];
      const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
      bool keep = n > 0;
      if (keep) {
        c.buffer.append(buf, size_t(n));
        keep = serve(c, script, o, log);
      }
      if (!keep) {
        ::close(c.fd);
        c.fd = -1;
        log.line("closed", "connection");
      }
    }
    std::vector<Client> open;
    for (Client& c : clients) {
      if (c.fd >= 0)
        open.push_back(std::move(c));
    }
    clients.swap(open);
  }
  for (const Client& c : clients)
    ::close(c.fd);
  ::close(listener);
  return 0;
}
