// Sections: diagnostic output, resource searcher, print, module "app", host.
#include "script/LuaScript.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>

#include <lua.hpp>

#include "app/SupportLog.h"
#include "gui/ResourceModule.h"
#include "gui/Timer.h"
#include "gui/TimerTable.h"
#include "script/ClientSocketModule.h"
#include "script/LuaSandbox.h"
#include "script/LuaScriptTestApi.h"
#include "script/NotifyRecord.h"
#include "script/SocketDelayResumer.h"
#include "script/SprotoCoreModule.h"

extern "C" int luaopen_lpeg(lua_State* L);
extern "C" int luaopen_cjson(lua_State* L);

namespace {

constexpr int kScriptResourceType = 1057;
constexpr size_t kLogBufferSize = 10240;
constexpr unsigned kQueryTimeoutMs = 60000;
const char kStartChunk[] = "require(\"main.lua\")();";

// Tests watch the diagnostic output through this (UTF-8, with prefix and line feed).
std::function<void(const std::string&)> g_logHook;

// ---- resource searcher ----

} // namespace

std::string LuaScript::resourceName(const std::string& module) {
  std::string name = module;
  const size_t luac = name.rfind(".luac");
  if (luac != std::string::npos)
    name.erase(luac);
  else if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".lua") == 0)
    name.erase(name.size() - 4);
  for (char& c : name) {
    if (c == '.')
      c = '/';
  }
  return name + ".lua";
}

namespace {

int resourceSearcher(lua_State* L) {
  const char* module = luaL_checkstring(L, 1);
  const std::string name = LuaScript::resourceName(module);
  HMODULE self = ResourceModule::get();
  HRSRC found = FindResourceA(self, name.c_str(), MAKEINTRESOURCEA(kScriptResourceType));
  HGLOBAL loaded = found ? LoadResource(self, found) : nullptr;
  const DWORD size = found ? SizeofResource(self, found) : 0;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) {
    LuaScript::logf("can not get file data of %s", name.c_str());
    return 0;
  }
  const int status = LuaSandbox::loadText(L, static_cast<const char*>(bytes), size, name.c_str());
  if (status != LUA_OK) {
    const char* what = "unknown.";
    if (status == LUA_ERRSYNTAX)
      what = "syntax error during pre-compilation.";
    else if (status == LUA_ERRMEM)
      what = "memory allocation error.";
    else if (status == LUA_ERRFILE)
      what = "cannot open/read file.";
    LuaScript::logf("[LUA ERROR] load \"%s\", error: %s", name.c_str(), what);
  }
  // Resources of the module need no release.
  return 1;
}

// ---- print ----

// Standard output as the standard print writes it, and one log line holding the
// arguments that fit whole into the log buffer.
int luaPrint(lua_State* L) {
  char line[kLogBufferSize];
  size_t len = 0;
  const int n = lua_gettop(L);
  lua_getglobal(L, "tostring");
  for (int i = 1; i <= n; ++i) {
    lua_pushvalue(L, -1);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    size_t l = 0;
    const char* s = lua_tolstring(L, -1, &l);
    if (!s)
      return luaL_error(L, "'tostring' must return a string to 'print'");
    if (i > 1) {
      lua_writestring("\t", 1);
      if (len < kLogBufferSize - 1)
        line[len++] = '\t';
    }
    lua_writestring(s, l);
    if (len + l < kLogBufferSize) {
      std::memcpy(line + len, s, l);
      len += l;
    }
    lua_pop(L, 1);
  }
  lua_writeline();
  if (len < kLogBufferSize - 1)
    line[len++] = '\n';
  LuaScript::log(std::string(line, len));
  return 0;
}

// ---- module "app" ----

int appServer(lua_State* L) {
  lua_pushstring(L, LuaScript::instance().updateServer().c_str());
  return 1;
}

int appPort(lua_State* L) {
  lua_pushinteger(L, LuaScript::instance().updatePort());
  return 1;
}

const luaL_Reg kNativeModules[] = {
    {"lpeg", luaopen_lpeg},
    {"sproto.core", luaopen_sproto_core},
    {"clientsocket", luaopen_clientsocket},
    {"cjson", luaopen_cjson},
};

} // namespace

// ---- host ----

// Listens to its own watchdog timer, which ends a query that never answers.
struct LuaScript::Impl : EventListener {
  Event event{"LuaScript"};
  lua_State* L = nullptr;
  std::string server = "update.example.com";
  int port = 8901;
  Timer watchdog{"queryTimer"};
  unsigned timeoutMs = kQueryTimeoutMs;
  bool resultRaised = false;
  bool failedByHost = false;  // the host ended the query; the script has no say any more

  Impl() {
    watchdog.connect(this);
    openState();
  }
  ~Impl() override { lua_close(L); }

  static int openApp(lua_State* L) {
    const luaL_Reg functions[] = {
        {"notify", LuaScript::luaNotify}, {"server", appServer}, {"port", appPort}, {nullptr, nullptr}};
    luaL_newlib(L, functions);
    return 1;
  }

  void openState() {
    L = luaL_newstate();
    LuaSandbox::open(L);
    for (const luaL_Reg& m : kNativeModules) {
      luaL_requiref(L, m.name, m.func, 1);
      lua_pop(L, 1);
    }
    luaL_requiref(L, "app", openApp, 1);
    lua_pop(L, 1);
    lua_pushcfunction(L, luaPrint);
    lua_setglobal(L, "print");
    // After the preloaded modules, the resources; nothing else, so a script that does
    // not load is not looked for anywhere else.
    lua_pushcfunction(L, resourceSearcher);
    LuaSandbox::addSearcher(L);
  }

  void raise(const NotifyRecord& record) {
    resultRaised = true;
    watchdog.stop();
    event.raise("EVENT_NOTIFY", reinterpret_cast<EventArg>(&record), sizeof record);
  }

  // The failed result, raised at most once and only when the script has raised none.
  void fail(const char* reason) {
    if (resultRaised)
      return;
    LuaScript::logf("[LUA ERROR] update query failed: %s", reason);
    SupportLog::failure("query", std::string("the update query failed: ") + reason);
    failedByHost = true;
    SocketDelayResumer::instance().cancel();
    const NotifyRecord empty{"installer", "", "", "", ""};
    raise(empty);
  }

  // After each step: a script that stopped scheduling itself has ended.
  void afterStep() {
    if (!resultRaised && !SocketDelayResumer::instance().isPending())
      fail("the update script ended without a result");
  }

  // EventListener
  void onEvent(const char*, const char*, EventArg, EventArg) override {
    watchdog.stop();
    fail("no answer from the update server in time");
  }
};

int LuaScript::luaNotify(lua_State* L) {
  const char* kind = luaL_checkstring(L, 1);
  const char* url = luaL_checkstring(L, 2);
  const char* md5 = luaL_checkstring(L, 3);
  const char* size = luaL_checkstring(L, 4);
  const char* version = luaL_checkstring(L, 5);
  LuaScript::logf(" [result] %s = %s, %s, %s, %s", kind, url, md5, size, version);
  // After the host has reported the query as failed, a late result would be a second one.
  if (instance().impl_->failedByHost)
    return 0;
  const NotifyRecord record{kind, url, md5, size, version};
  instance().impl_->raise(record);
  return 0;
}

LuaScript& LuaScript::instance() {
  // The timer table first, so that it outlives the host's timer at process exit.
  TimerTable::instance();
  static LuaScript host;
  return host;
}

LuaScript::LuaScript() : impl_(std::make_unique<Impl>()) {}

LuaScript::~LuaScript() = default;

Event& LuaScript::event() { return impl_->event; }

lua_State* LuaScript::state() const { return impl_->L; }

void LuaScript::setUpdateServer(const std::string& host) { impl_->server = host; }

const std::string& LuaScript::updateServer() const { return impl_->server; }

void LuaScript::setUpdatePort(int port) { impl_->port = port; }

int LuaScript::updatePort() const { return impl_->port; }

int LuaScript::run() {
  lua_State* L = impl_->L;
  SupportLog::writef("query", "asking the update server %s:%d (at most %u ms)", impl_->server.c_str(), impl_->port,
                     impl_->timeoutMs);
  int status = luaL_loadbuffer(L, kStartChunk, sizeof kStartChunk - 1, kStartChunk);
  if (status == LUA_OK)
    status = lua_pcall(L, 0, LUA_MULTRET, 0);
  lua_settop(L, 0);
  // The script connects inside its first step, so the time limit starts here.
  if (!impl_->resultRaised && SocketDelayResumer::instance().isPending())
    impl_->watchdog.start(impl_->timeoutMs);
  impl_->afterStep();
  return status;
}

void LuaScript::resumeMainCoroutine() {
  lua_State* L = impl_->L;
  lua_getglobal(L, "main_coroutine");
  if (lua_pcall(L, 0, LUA_MULTRET, 0) != LUA_OK) {
    logf("[LUA ERROR] main_coroutine: %s", lua_tostring(L, -1) ? lua_tostring(L, -1) : "?");
  } else if (lua_gettop(L) >= 1 && lua_isboolean(L, 1) && !lua_toboolean(L, 1)) {
    // main_coroutine hands back what coroutine.resume returned: false and the error.
    logf("[LUA ERROR] %s", lua_tostring(L, 2) ? lua_tostring(L, 2) : "?");
  }
  lua_settop(L, 0);
  impl_->afterStep();
}

#ifdef QX_TEST_HOOKS
void LuaScriptTestApi::reset() {
  LuaScript::Impl& impl = *LuaScript::instance().impl_;
  SocketDelayResumer::instance().cancel();
  impl.watchdog.stop();
  lua_close(impl.L);
  impl.openState();
  impl.resultRaised = false;
  impl.failedByHost = false;
}

void LuaScriptTestApi::setQueryTimeout(unsigned milliseconds) { LuaScript::instance().impl_->timeoutMs = milliseconds; }

void LuaScriptTestApi::setLogHook(std::function<void(const std::string&)> hook) { g_logHook = std::move(hook); }
#endif

void LuaScript::log(const std::string& text) {
  std::string line = "[lua] " + text;
  if (line.back() != '\n')
    line += '\n';
  if (g_logHook)
    g_logHook(line);
  // The script's own lines tell each try and the server's answer or error.
  SupportLog::write("query", text);
  const int n = MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0);
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), &wide[0], n);
  OutputDebugStringW(wide.c_str());
}

void LuaScript::logf(const char* format, ...) {
  char buffer[kLogBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  log(buffer);
}
