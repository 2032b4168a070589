// What the update server sends, as the update script reads it: the client's message
// host dispatches the bytes (unpack, header, body) while a get_update_info response is
// awaited, and the response type decodes them once more unpacked. Lua errors are the
// expected outcome for damaged input; only the sanitizers' findings count. Before that,
// zero unpacking and the packing the client applies to what it sends: unpacking stays
// within the room it is given, and pack then unpack gives the input back, padded with
// zeros to whole groups of 8.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <lua.hpp>

#include "script/SprotoCodec.h"
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

namespace {

void checkPacking(const uint8_t* data, size_t size) {
  if (size > 1 << 20)
    return;
  const int n = static_cast<int>(size);

  // A short buffer first: the reported size is what a second, exact call needs.
  std::vector<uint8_t> small(16);
  const int need = sproto::unpack(data, n, small.data(), static_cast<int>(small.size()));
  if (need >= 0) {
    if (need % 8 != 0)
      std::abort();
    std::vector<uint8_t> out(size_t(need) + 1, 0xA5);
    if (sproto::unpack(data, n, out.data(), need) != need || out[size_t(need)] != 0xA5)
      std::abort();
  }

  std::vector<uint8_t> packed(size_t(sproto::packBound(n)) + 1);
  const int packedSize = sproto::pack(data, n, packed.data(), static_cast<int>(packed.size()) - 1);
  if (packedSize < 0 || packedSize > sproto::packBound(n))
    std::abort();
  const int padded = (n + 7) / 8 * 8;
  std::vector<uint8_t> back(size_t(padded) + 8);
  const int got = sproto::unpack(packed.data(), packedSize, back.data(), static_cast<int>(back.size()));
  if (got != padded || (size > 0 && std::memcmp(back.data(), data, size) != 0))
    std::abort();
  for (int i = n; i < padded; ++i)
    if (back[size_t(i)] != 0)
      std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  checkPacking(data, size);
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
