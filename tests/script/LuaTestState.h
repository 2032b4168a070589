#pragma once
// A bare interpreter for tests of the portable script code: the standard libraries,
// "lpeg", "cjson" and "sproto.core" opened, and the script set found on package.path.
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
  // Runs a chunk that returns one string; "ERROR: message" when it raised.
  std::string eval(const std::string& chunk);

private:
  lua_State* L_;
};

// Hex text of bytes, upper case, separated by blanks: "01 00 FE FF".
std::string hex(const std::string& bytes);

} // namespace qxtest
