// What the update server sends, as the update script reads it: the client's message
// host dispatches the bytes (unpack, header, body) while a get_update_info response is
// awaited, and the response type decodes them once more unpacked. Lua errors are the
// expected outcome for damaged input; only the sanitizers' findings count.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <lua.hpp>

#include "tests/script/LuaTestState.h"

namespace {

qxtest::LuaTestState* lua = nullptr;

const char kSetup[] = R"(
  local sproto = require "sproto"
  local proto = require "proto"
  local c2s = sproto.new(proto.c2s)
  local host = sproto.new(proto.s2c):host "package"
  local request = host:attach(c2s)
  function fuzz_one(bytes)
    -- The installer's two requests: the heartbeat (session 1) and the query (session 2).
    request("heartbeat", nil, 1)
    request("get_update_info", { phone_plat = 2, client_version = "1.0.0.1",
                                 res_version = "1.0.0.1", login_channel = "test" }, 2)
    pcall(host.dispatch, host, bytes)
    pcall(c2s.decode, c2s, "get_update_info.response", bytes)
    pcall(c2s.pdecode, c2s, "package", bytes)
  end
  return ""
)";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  lua = new qxtest::LuaTestState;
  const std::string error = lua->eval(kSetup);
  if (!error.empty()) {
    std::fprintf(stderr, "setup: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lua_State* L = lua->state();
  lua_getglobal(L, "fuzz_one");
  lua_pushlstring(L, reinterpret_cast<const char*>(data), size);
  if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
    std::fprintf(stderr, "the fuzz function itself failed: %s\n", lua_tostring(L, -1));
    std::abort();
  }
  // Sessions the damaged input left behind go with the garbage now and then.
  lua_gc(L, LUA_GCSTEP, 0);
  return 0;
}
