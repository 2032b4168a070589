#pragma once
// A bare interpreter for tests of the portable script code: the standard libraries,
// "lpeg", "cjson" and "sproto.core" opened, the script set found on package.path, and a
// global hex(s) that gives a string's bytes as "01 00 FE FF", for exact comparisons.
#include <string>

struct lua_State;

namespace qxtest {

class LuaTestState {
public:
  LuaTestState();
  ~LuaTestState();
  LuaTestState(const LuaTestState&) = delete;
  LuaTestState& operator=(const LuaTestState&) = delete;

  lua_State* state() const { return L_; }
  std::string eval(const std::string& chunk);

private:
  lua_State* L_;
};

// Runs a chunk in `L` that returns one string; "ERROR: message" when it raised. The
// script host's tests run theirs in the host's own interpreter.
std::string eval(lua_State* L, const std::string& chunk);

} // namespace qxtest
