#pragma once
// Test access to the script host's internals.
#include <functional>
#include <string>

#include "script/LuaScript.h"

class LuaScriptTestApi {
public:
  static void reset() { LuaScript::instance().reset(); }
  static void setQueryTimeout(unsigned ms) { LuaScript::instance().setQueryTimeout(ms); }
  static void setLogHook(std::function<void(const std::string&)> hook) {
    LuaScript::setLogHook(std::move(hook));
  }
};
