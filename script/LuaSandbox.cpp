#include "script/LuaSandbox.h"

#include <initializer_list>

#include <lua.hpp>

namespace {

// load with its mode forced to text; the original load is upvalue 1. An environment
// argument, even nil, is passed on only when given: load tells none from nil.
int loadTextOnly(lua_State* L) {
  const int arguments = lua_gettop(L) > 3 ? 4 : 3;
  lua_settop(L, arguments);
  lua_pushliteral(L, "t");
  lua_replace(L, 3);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, arguments, LUA_MULTRET);
  return lua_gettop(L);
}

int openOs(lua_State* L) {
  luaopen_os(L);
  lua_createtable(L, 0, 2);
  for (const char* kept : {"time", "clock"}) {
    lua_getfield(L, -2, kept);
    lua_setfield(L, -2, kept);
  }
  return 1;
}

void removeField(lua_State* L, int table, const char* name) {
  table = lua_absindex(L, table);
  lua_pushnil(L);
  lua_setfield(L, table, name);
}

} // namespace

void LuaSandbox::open(lua_State* L) {
  const luaL_Reg libraries[] = {
      {"_G", luaopen_base},           {LUA_LOADLIBNAME, luaopen_package}, {LUA_COLIBNAME, luaopen_coroutine},
      {LUA_TABLIBNAME, luaopen_table}, {LUA_STRLIBNAME, luaopen_string},   {LUA_MATHLIBNAME, luaopen_math},
      {LUA_UTF8LIBNAME, luaopen_utf8}, {LUA_OSLIBNAME, openOs},
  };
  for (const luaL_Reg& library : libraries) {
    luaL_requiref(L, library.name, library.func, 1);
    lua_pop(L, 1);
  }
  lua_pushglobaltable(L);
  removeField(L, -1, "dofile");
  removeField(L, -1, "loadfile");
  lua_getfield(L, -1, "load");
  lua_pushcclosure(L, loadTextOnly, 1);
  lua_setfield(L, -2, "load");
  lua_pop(L, 1);

  // The package library read LUA_PATH and LUA_CPATH when it opened: both are cleared, and
  // only the preload searcher is kept of its four.
  lua_getglobal(L, LUA_LOADLIBNAME);
  lua_pushliteral(L, "");
  lua_setfield(L, -2, "path");
  lua_pushliteral(L, "");
  lua_setfield(L, -2, "cpath");
  removeField(L, -1, "loadlib");
  removeField(L, -1, "searchpath");
  lua_createtable(L, 2, 0);
  lua_getfield(L, -2, "searchers");
  lua_geti(L, -1, 1);
  lua_seti(L, -3, 1);
  lua_pop(L, 1);
  lua_setfield(L, -2, "searchers");
  lua_pop(L, 1);
}

void LuaSandbox::addSearcher(lua_State* L) {
  lua_getglobal(L, LUA_LOADLIBNAME);
  lua_getfield(L, -1, "searchers");
  lua_pushvalue(L, -3);
  lua_seti(L, -2, luaL_len(L, -2) + 1);
  lua_pop(L, 3);
}

int LuaSandbox::loadText(lua_State* L, const char* bytes, size_t size, const char* chunkName) {
  return luaL_loadbufferx(L, bytes, size, chunkName, "t");
}
