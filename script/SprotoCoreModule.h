#pragma once
// The Lua module "sproto.core": schemas, encoding, decoding and packing for scripts.
struct lua_State;

extern "C" int luaopen_sproto_core(lua_State* L);
