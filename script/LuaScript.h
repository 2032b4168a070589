#pragma once
// The script host: the process's one Lua interpreter, with the libraries LuaSandbox
// allows, the program's native modules, a searcher for text scripts in the branding's
// resources (type 1057, see ResourceModule) and no other searcher but the preload one, and
// the event "LuaScript" on which the update query's single result is raised as
// "EVENT_NOTIFY" with a NotifyRecord. One per process, created on first use, kept until
// the process ends. UI thread only.
#include <memory>
#include <string>

#include "gui/Event.h"

struct lua_State;

class LuaScript {
public:
  static LuaScript& instance();
  ~LuaScript();
  LuaScript(const LuaScript&) = delete;
  LuaScript& operator=(const LuaScript&) = delete;

  Event& event();
  lua_State* state() const;

  // Where the update script connects; read by the script through the module "app".
  void setUpdateServer(const std::string& host);
  const std::string& updateServer() const;
  void setUpdatePort(int port);
  int updatePort() const;

  // Runs the start chunk require("main.lua")(); returns the Lua status, which callers
  // need not look at: the result arrives as "EVENT_NOTIFY". A query always ends: when
  // the script stops without a result, or none has come 60 seconds after connecting,
  // the host raises the failed result itself, once.
  int run();

  // One step of the script: calls its global main_coroutine (the resumer's callback).
  void resumeMainCoroutine();

  // The resource a module name is looked up as: cut at the last ".luac", else without a
  // ".lua" ending; dots become slashes; ".lua" appended ("a.b" gives "a/b.lua").
  static std::string resourceName(const std::string& module);

  // Diagnostic output: the UTF-8 text as one "[lua] " line on the debugger output.
  static void log(const std::string& text);
  static void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
  friend class LuaScriptTestApi;
  struct Impl;

  LuaScript();
  // app.notify: raises the script's result.
  static int luaNotify(lua_State* L);

  std::unique_ptr<Impl> impl_;
};
