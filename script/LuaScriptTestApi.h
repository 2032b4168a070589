#pragma once
// Test-only access to the script host: a fresh interpreter and query, a shorter limit for a
// query that hears nothing, and a watcher of its log lines.
#include <functional>
#include <string>

class LuaScriptTestApi {
public:
  static void reset();
  static void setQueryTimeout(unsigned milliseconds);
  static void setLogHook(std::function<void(const std::string&)> hook);
};
