// What the update server sends, as the update script reads it: the client's message
// host dispatches the bytes (unpack, header, body) while a get_update_info response is
// awaited, and the response type decodes them once more unpacked. Lua errors are the
// expected outcome for damaged input; only the sanitizers' findings count. Before that,
// zero unpacking and the packing the client applies to what it sends: unpacking stays
// within the room it is given, and pack then unpack gives the input back, padded with
// zeros to whole groups of 8.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <lua.hpp>

#include "script/SprotoCodec.h"
#include "tests/script/LuaTestState.h"

namespace {

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

void checkPacking(const uint8_t* data, size_t size) {
  if (size > 1 << 20)
    return;
  const int n = static_cast<int>(size);
  // A short buffer first: the reported size is what a second, exact call needs.
  uint8_t small[16];
  const int need = sproto::unpack(data, n, small, static_cast<int>(sizeof small));
  std::vector<uint8_t> out(size_t(std::max(need, 0)) + 1, 0xA5);
  if (need >= 0 && (need % 8 != 0 || sproto::unpack(data, n, out.data(), need) != need || out.back() != 0xA5))
    std::abort();

  std::vector<uint8_t> packed(size_t(sproto::packBound(n)));
  const int packedSize = sproto::pack(data, n, packed.data(), static_cast<int>(packed.size()));
  if (packedSize < 0)
    std::abort();
  std::string expected(reinterpret_cast<const char*>(data), size);
  expected.resize((size + 7) / 8 * 8, '\0');
  std::string back(expected.size() + 8, 'x');
  back.resize(size_t(std::max(0, sproto::unpack(packed.data(), packedSize, reinterpret_cast<uint8_t*>(&back[0]),
                                                static_cast<int>(back.size())))));
  if (back != expected)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  checkPacking(data, size);
  static qxtest::LuaTestState lua;
  static const std::string setupError = lua.eval(kSetup);
  lua_pushlstring(lua.state(), reinterpret_cast<const char*>(data), size);
  lua_setglobal(lua.state(), "input");
  const std::string error = setupError.empty() ? lua.eval("fuzz_one(input) return ''") : "setup: " + setupError;
  if (!error.empty()) {
    std::fprintf(stderr, "the fuzz function itself failed: %s\n", error.c_str());
    std::abort();
  }
  // Sessions the damaged input left behind go with the garbage now and then.
  lua_gc(lua.state(), LUA_GCSTEP, 0);
  return 0;
}
