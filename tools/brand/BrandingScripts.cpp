// The script set through the installer's own interpreter and libraries (LuaSandbox):
// every script must compile as text, and the schema must compile with the installer's
// schema compiler and serve the requests the update query sends. Scripts come from the
// folder or the base, as the branded installer would find them; the query itself is not
// run.
#include <lua.hpp>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "script/LuaSandbox.h"
#include "script/LuaScript.h"
#include "script/SprotoCoreModule.h"
#include "tools/brand/BrandingCheck.h"

extern "C" int luaopen_lpeg(lua_State* L);
extern "C" int luaopen_cjson(lua_State* L);

namespace {

constexpr int kScriptType = 1057;
// A publisher's script that loops or grows without end must not hang the tool. The
// instructions are counted in steps, shared by every coroutine (each has its own step
// count), and the clock catches coroutines that each end before their first step.
constexpr int kInstructionStep = 10000;
constexpr long long kInstructionLimit = 200000000;
constexpr auto kTimeLimit = std::chrono::seconds(20);
constexpr size_t kMemoryLimit = size_t(256) << 20;

// What the update query does with the schema before it sends anything.
const char kSchemaUse[] = R"(
local proto = require "proto"
local sproto = require "sproto"
local host = sproto.new(proto.s2c):host "package"
local request = host:attach(sproto.new(proto.c2s))
request("heartbeat", nil, 1)
request("get_update_info", {phone_plat = 2, client_version = "1.0.0.1", res_version = "1.0.0.1",
                            login_channel = "test"}, 2)
)";

struct Limits {
  size_t used = 0;
  long long instructions = 0;
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kTimeLimit;
};

void* allocate(void* ud, void* block, size_t old, size_t size) {
  auto* limits = static_cast<Limits*>(ud);
  if (size == 0) {
    limits->used -= block ? old : 0;
    std::free(block);
    return nullptr;
  }
  const size_t before = block ? old : 0;
  if (size > before && limits->used + (size - before) > kMemoryLimit)
    return nullptr;
  void* grown = std::realloc(block, size);
  if (grown)
    limits->used = limits->used - before + size;
  return grown;
}

void stopEndlessRun(lua_State* L, lua_Debug*) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  auto* limits = static_cast<Limits*>(ud);
  limits->instructions += kInstructionStep;
  if (limits->instructions > kInstructionLimit || std::chrono::steady_clock::now() > limits->deadline)
    luaL_error(L, "ran too long (an endless loop?)");
}

// package.searchers[2]: the script set as the branded installer carries it.
int searcher(lua_State* L) {
  const auto* source = static_cast<const BrandingSource*>(lua_touserdata(L, lua_upvalueindex(1)));
  const std::string name = LuaScript::resourceName(luaL_checkstring(L, 1));
  const BrandingSource::Entry* entry = source->find(kScriptType, name.c_str());
  if (!entry || !entry->present) {
    lua_pushfstring(L, "\n\tno script %s", name.c_str());
    return 1;
  }
  // The loaded chunk, or the load error, which require reports.
  const std::string chunk = "=" + source->origin(*entry);
  LuaSandbox::loadText(L, entry->bytes.data(), entry->bytes.size(), chunk.c_str());
  return 1;
}

lua_State* newState(Limits& limits, const BrandingSource& source) {
  lua_State* L = lua_newstate(allocate, &limits);
  if (!L)
    return nullptr;
  LuaSandbox::open(L);
  for (const luaL_Reg& m : {luaL_Reg{"lpeg", luaopen_lpeg}, luaL_Reg{"sproto.core", luaopen_sproto_core},
                            luaL_Reg{"cjson", luaopen_cjson}}) {
    luaL_requiref(L, m.name, m.func, 1);
    lua_pop(L, 1);
  }
  lua_pushlightuserdata(L, const_cast<BrandingSource*>(&source));
  lua_pushcclosure(L, searcher, 1);
  LuaSandbox::addSearcher(L);
  // New coroutines take this hook over from the thread that makes them.
  lua_sethook(L, stopEndlessRun, LUA_MASKCOUNT, kInstructionStep);
  return L;
}

// "scripts/proto.lua:12: unexpected symbol near 'x'" as ("line 12", "unexpected ...").
void splitMessage(const std::string& message, const std::string& chunk, std::string& line, std::string& text) {
  text = message;
  if (message.compare(0, chunk.size() + 1, chunk + ":") != 0)
    return;
  const size_t end = message.find(": ", chunk.size() + 1);
  if (end == std::string::npos)
    return;
  line = "line " + message.substr(chunk.size() + 1, end - chunk.size() - 1);
  text = message.substr(end + 2);
}

} // namespace

void checkScripts(const BrandingSource& source, std::vector<Problem>& problems) {
  Limits limits;
  lua_State* L = newState(limits, source);
  if (!L)
    return;
  // The schema is used only when what it needs compiled: its own line says the rest.
  bool schemaCompiled = true;
  for (const BrandingSource::Entry& entry : source.entries()) {
    if (entry.item->type != kScriptType || !entry.present)
      continue;
    const std::string origin = source.origin(entry);
    if (LuaSandbox::loadText(L, entry.bytes.data(), entry.bytes.size(), ("=" + origin).c_str()) != LUA_OK) {
      std::string line, text;
      splitMessage(lua_tostring(L, -1) ? lua_tostring(L, -1) : "", origin, line, text);
      problems.push_back({origin, line, text, "a Lua 5.3 script that compiles"});
      const std::string name = entry.item->name;
      schemaCompiled = schemaCompiled && name != "PROTO.LUA" && name != "SPROTO.LUA" && name != "SPROTOPARSER.LUA";
    }
    lua_pop(L, 1);
  }
  const BrandingSource::Entry* schema = source.find(kScriptType, "PROTO.LUA");
  if (schemaCompiled && schema) {
    if (luaL_loadbuffer(L, kSchemaUse, sizeof kSchemaUse - 1, "=schema") != LUA_OK ||
        lua_pcall(L, 0, 0, 0) != LUA_OK) {
      const char* message = lua_tostring(L, -1);
      problems.push_back({source.origin(*schema), "schema", message ? message : "the schema does not compile",
                          "a schema the installer's compiler accepts, with the type package and the "
                          "requests heartbeat and get_update_info"});
    }
  }
  lua_close(L);
}
