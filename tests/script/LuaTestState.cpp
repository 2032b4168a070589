#include "tests/script/LuaTestState.h"

#include <string>

#include <lua.hpp>

#include "script/SprotoCoreModule.h"

extern "C" int luaopen_lpeg(lua_State* L);
extern "C" int luaopen_cjson(lua_State* L);

namespace qxtest {

LuaTestState::LuaTestState() : L_(luaL_newstate()) {
  luaL_openlibs(L_);
  luaL_requiref(L_, "sproto.core", luaopen_sproto_core, 0);
  luaL_requiref(L_, "lpeg", luaopen_lpeg, 1);
  luaL_requiref(L_, "cjson", luaopen_cjson, 1);
  lua_settop(L_, 0);
  // The script set on the path; the bytes of a string as hex, for exact comparisons.
  eval("package.path = [[" + std::string(QX_SOURCE_DIR) + "/resources/scripts/?.lua]] "
       "function hex(s) return (s:gsub('.', function(c) return string.format('%02X ', c:byte()) end)"
       ":gsub(' $', '')) end return ''");
}

LuaTestState::~LuaTestState() { lua_close(L_); }

std::string LuaTestState::eval(const std::string& chunk) { return qxtest::eval(L_, chunk); }

std::string eval(lua_State* L, const std::string& chunk) {
  const int top = lua_gettop(L);
  std::string out;
  if (luaL_loadbuffer(L, chunk.data(), chunk.size(), "=test") != LUA_OK ||
      lua_pcall(L, 0, 1, 0) != LUA_OK) {
    const char* msg = lua_tostring(L, -1);
    std::string m = msg ? msg : "(no message)";
    // Errors raised for a chunk carry its position ("test:3: "); tests compare the text.
    if (m.rfind("test:", 0) == 0 && m.find(": ", 5) != std::string::npos)
      m.erase(0, m.find(": ", 5) + 2);
    out = "ERROR: " + m;
  } else {
    size_t n = 0;
    const char* s = lua_tolstring(L, -1, &n);
    out = s ? std::string(s, n) : std::string("(not a string)");
  }
  lua_settop(L, top);
  return out;
}

} // namespace qxtest
