#pragma once
// The libraries a script may use, for the installer's interpreter and the branding tool's
// check alike: base, coroutine, table, string, math and utf8, os with time and clock only,
// and require that finds preloaded modules and what the caller adds, never a file. Text
// chunks only: a precompiled chunk could break the interpreter's own memory. Uses only
// the Lua C API.
#include <cstddef>

struct lua_State;

class LuaSandbox {
public:
  // Opens the libraries into a fresh state; package.searchers holds the preload searcher.
  static void open(lua_State* L);
  // Appends the function on top of the stack to package.searchers, and pops it.
  static void addSearcher(lua_State* L);
  // luaL_loadbuffer for text chunks only.
  static int loadText(lua_State* L, const char* bytes, size_t size, const char* chunkName);
};
