// Lua binding of the socket node; uses only the official Lua API. Handles are the
// addresses of live wrappers, checked against the set of wrappers this module made.
#include "script/ClientSocketModule.h"

#include <windows.h>

#include <cstdint>
#include <set>

#include <lua.hpp>

#include "script/SocketDelayResumer.h"
#include "script/SocketNode.h"
#include "script/SocketNodeWrapper.h"

namespace {

std::set<SocketNodeWrapper*>& liveWrappers() {
  static std::set<SocketNodeWrapper*> wrappers;
  return wrappers;
}

// The wrapper behind a handle: only non-zero handles that connect returned and close has
// not destroyed are accepted.
SocketNodeWrapper* wrapperArg(lua_State* L, int index) {
  const lua_Integer handle = luaL_checkinteger(L, index);
  auto* wrapper = reinterpret_cast<SocketNodeWrapper*>(static_cast<intptr_t>(handle));
  if (handle == 0 || liveWrappers().count(wrapper) == 0)
    luaL_argerror(L, index, "invalid socket handle");
  return wrapper;
}

// How often a waiting connect looks at its node.
constexpr unsigned kConnectPollMs = 10;

void pumpNode(SocketNodeWrapper* wrapper) {
  if (qx::SocketNode* node = wrapper->node())
    node->tick(0.01f);
}

int connectResult(lua_State* L, SocketNodeWrapper* wrapper) {
  if (wrapper->state() != SocketNodeWrapper::Connected) {
    delete wrapper;
    lua_pushinteger(L, 0);
    return 1;
  }
  liveWrappers().insert(wrapper);
  lua_pushinteger(L, static_cast<lua_Integer>(reinterpret_cast<intptr_t>(wrapper)));
  return 1;
}

// Resumed by the script's resumer while the receive thread looks up the name and
// connects; the UI thread runs its message loop meanwhile.
int connectContinued(lua_State* L, int, lua_KContext context) {
  auto* wrapper = reinterpret_cast<SocketNodeWrapper*>(context);
  pumpNode(wrapper);
  if (wrapper->state() == SocketNodeWrapper::Pending) {
    SocketDelayResumer::instance().schedule(kConnectPollMs);
    return lua_yieldk(L, 0, context, connectContinued);
  }
  return connectResult(L, wrapper);
}

int lconnect(lua_State* L) {
  const char* host = luaL_checkstring(L, 1);
  const int port = static_cast<int>(luaL_checkinteger(L, 2));
  auto* wrapper = new SocketNodeWrapper;
  wrapper->attach(qx::SocketNode::create(host, port, wrapper));
  // Inside the script's coroutine the wait yields, so a slow name lookup or connect never
  // freezes the window.
  if (lua_isyieldable(L)) {
    SocketDelayResumer::instance().schedule(kConnectPollMs);
    return lua_yieldk(L, 0, reinterpret_cast<lua_KContext>(wrapper), connectContinued);
  }
  // Called outside any coroutine, there is nothing to yield to: it waits here.
  while (wrapper->state() == SocketNodeWrapper::Pending) {
    Sleep(kConnectPollMs);
    pumpNode(wrapper);
  }
  return connectResult(L, wrapper);
}

int lrecv(lua_State* L) {
  SocketNodeWrapper* wrapper = wrapperArg(L, 1);
  if (!wrapper->hasPacket()) {
    // The script's own sign of a closed connection, so it fails at once instead of
    // waiting for an answer that cannot come.
    if (wrapper->connectionGone()) {
      lua_pushliteral(L, "");
      return 1;
    }
    return 0;
  }
  const std::string& packet = wrapper->frontPacket();
  lua_pushlstring(L, packet.data(), packet.size());
  wrapper->popPacket();
  return 1;
}

int lsend(lua_State* L) {
  SocketNodeWrapper* wrapper = wrapperArg(L, 1);
  size_t size = 0;
  const char* bytes = luaL_checklstring(L, 2, &size);
  if (qx::SocketNode* node = wrapper->node())
    node->send(bytes, static_cast<int>(size));
  return 0;
}

int lclose(lua_State* L) {
  if (luaL_checkinteger(L, 1) == 0)
    return 0;
  SocketNodeWrapper* wrapper = wrapperArg(L, 1);
  liveWrappers().erase(wrapper);
  delete wrapper;
  return 0;
}

int lusleep(lua_State* L) {
  const lua_Number micros = luaL_checknumber(L, 1);
  // Truncated toward zero; a system timer period holds at most 0x7FFFFFFF milliseconds.
  lua_Number ms = micros / 1000;
  if (!(ms > 0))
    ms = 0;
  if (ms > 0x7FFFFFFF)
    ms = 0x7FFFFFFF;
  SocketDelayResumer::instance().schedule(static_cast<unsigned>(ms));
  return 0;
}

} // namespace

extern "C" int luaopen_clientsocket(lua_State* L) {
  const luaL_Reg functions[] = {
      {"connect", lconnect}, {"recv", lrecv}, {"send", lsend},
      {"close", lclose},     {"usleep", lusleep}, {nullptr, nullptr},
  };
  luaL_newlib(L, functions);
  return 1;
}
