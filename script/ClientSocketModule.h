#pragma once
// The Lua module "clientsocket": connect, recv, send, close and usleep for the update
// script. UI thread only.
struct lua_State;

extern "C" int luaopen_clientsocket(lua_State* L);
