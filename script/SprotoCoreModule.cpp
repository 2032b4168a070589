// Lua binding of the sproto codec; uses only the official Lua API.
//
// Errors are raised with luaL_error, which unwinds with longjmp: no function here keeps an
// object with a destructor alive across a Lua call. Codec callbacks never raise for a bad
// value; they leave a message in their state and the caller raises it after the codec
// has returned.
//
// Sections: argument helpers, encode, decode, other functions, registration.
#include "script/SprotoCoreModule.h"

#include <cstdio>
#include <cstring>

#include <lua.hpp>

#include "script/SprotoCodec.h"
#include "script/SprotoSchema.h"

namespace {

using namespace sproto;

constexpr int kMaxDepth = 64;
constexpr int kInitialScratch = 2050;
constexpr int kMaxScratch = 0x1000000;
constexpr int kSlots = 16;

Schema* g_slots[kSlots];

// ---- argument helpers ----

// Light userdata, or a full userdata whose first word is the pointer.
void* pointerArg(lua_State* L, int index) {
  const int t = lua_type(L, index);
  if (t == LUA_TLIGHTUSERDATA)
    return lua_touserdata(L, index);
  if (t == LUA_TUSERDATA) {
    void** p = static_cast<void**>(lua_touserdata(L, index));
    return p ? *p : nullptr;
  }
  return nullptr;
}

Schema* schemaArg(lua_State* L, int index, const char* message) {
  Schema* s = static_cast<Schema*>(pointerArg(L, index));
  if (!s)
    luaL_argerror(L, index, message);
  return s;
}

const Type* typeArg(lua_State* L, int index) {
  const Type* t = static_cast<const Type*>(pointerArg(L, index));
  if (!t)
    luaL_argerror(L, index, "Need a sproto_type object");
  return t;
}

// A string, or a userdata followed by its size. Returns the index after the data.
int bufferArg(lua_State* L, int index, const uint8_t** data, int* size) {
  const int t = lua_type(L, index);
  if (t == LUA_TSTRING) {
    size_t n = 0;
    *data = reinterpret_cast<const uint8_t*>(lua_tolstring(L, index, &n));
    *size = int(n);
    return index + 1;
  }
  if (t == LUA_TUSERDATA || t == LUA_TLIGHTUSERDATA) {
    *data = static_cast<const uint8_t*>(lua_touserdata(L, index));
    *size = int(luaL_checkinteger(L, index + 1));
    return index + 2;
  }
  return luaL_argerror(L, index, "Need a string or userdata");
}

// The scratch buffer of `encode`, `pack` and `unpack`: a userdata in upvalue 1, replaced
// by a larger one when it must grow.
uint8_t* scratch(lua_State* L, int* size) {
  *size = int(lua_rawlen(L, lua_upvalueindex(1)));
  return static_cast<uint8_t*>(lua_touserdata(L, lua_upvalueindex(1)));
}

uint8_t* growScratch(lua_State* L, int size) {
  void* p = lua_newuserdata(L, size_t(size));
  lua_replace(L, lua_upvalueindex(1));
  return static_cast<uint8_t*>(p);
}

struct Failure {
  bool failed = false;
  char message[256] = {};
};

void fail(Failure* f, const char* fmt, const char* name, int index, const char* type) {
  f->failed = true;
  std::snprintf(f->message, sizeof f->message, fmt, name, index, type);
}

// ---- encode ----

struct EncodeState {
  lua_State* L;
  int table;   // stack index of the table being encoded
  int depth;
  Failure* failure;
  int array;   // stack index of the current array table, 0 when none
};

// Pushes the value of the field (or array element) asked for; false when it is absent.
bool pushEncodeValue(EncodeState* s, Arg& a) {
  lua_State* L = s->L;
  const Field& f = *a.field;
  if (!f.array) {
    lua_getfield(L, s->table, f.name.c_str());
    if (lua_isnil(L, -1)) {
      lua_pop(L, 1);
      return false;
    }
    return true;
  }
  if (a.index == 1) {
    lua_getfield(L, s->table, f.name.c_str());
    if (lua_isnil(L, -1)) {
      lua_pop(L, 1);
      return false;
    }
    if (!lua_istable(L, -1)) {
      fail(s->failure, ".*%s(%d) should be a table (Is a %s)", f.name.c_str(), a.index,
           luaL_typename(L, -1));
      lua_pop(L, 1);
      return false;
    }
    s->array = lua_gettop(L);
    if (f.key >= 0)
      lua_pushnil(L);  // traversal key, kept above the array between elements
  }
  if (f.key >= 0) {
    if (lua_next(L, s->array) == 0) {
      lua_pop(L, 1);  // the array
      s->array = 0;
      return false;
    }
    return true;
  }
  if (lua_geti(L, s->array, a.index) == LUA_TNIL) {
    lua_pop(L, 2);
    s->array = 0;
    return false;
  }
  return true;
}

int encodeCallback(Arg& a) {
  EncodeState* s = static_cast<EncodeState*>(a.ud);
  lua_State* L = s->L;
  const Field& f = *a.field;
  if (!pushEncodeValue(s, a)) {
    if (s->failure->failed)
      return kCbError;
    return f.array && a.index > 1 ? kCbEndArray : kCbNil;
  }
  const char* name = f.name.c_str();
  int result = kCbError;
  switch (a.kind) {
  case kInteger: {
    int isInt = 0;
    const lua_Integer v = lua_tointegerx(L, -1, &isInt);
    if (!isInt) {
      fail(s->failure, ".%s[%d] is not an integer (Is a %s)", name, a.index, luaL_typename(L, -1));
      break;
    }
    *static_cast<int64_t*>(a.value) = int64_t(v);
    result = 8;
    break;
  }
  case kBoolean:
    if (!lua_isboolean(L, -1)) {
      fail(s->failure, ".%s[%d] is not a boolean (Is a %s)", name, a.index, luaL_typename(L, -1));
      break;
    }
    *static_cast<int64_t*>(a.value) = lua_toboolean(L, -1);
    result = 8;
    break;
  case kString: {
    const int t = lua_type(L, -1);
    if (t != LUA_TSTRING && t != LUA_TNUMBER) {
      fail(s->failure, ".%s[%d] is not a string (Is a %s)", name, a.index, luaL_typename(L, -1));
      break;
    }
    size_t n = 0;
    const char* str = lua_tolstring(L, -1, &n);
    if (n > size_t(a.length)) {
      result = kCbTooSmall;
      break;
    }
    std::memcpy(a.value, str, n);
    result = int(n);
    break;
  }
  case kStruct: {
    if (!lua_istable(L, -1)) {
      fail(s->failure, ".%s[%d] is not a table (Is a %s)", name, a.index, luaL_typename(L, -1));
      break;
    }
    if (s->depth + 1 >= kMaxDepth) {
      s->failure->failed = true;
      std::snprintf(s->failure->message, sizeof s->failure->message, "The table is too deep");
      break;
    }
    EncodeState sub{L, lua_gettop(L), s->depth + 1, s->failure, 0};
    const int r = encode(*a.structType, static_cast<uint8_t*>(a.value), a.length, encodeCallback, &sub);
    // A nested encode that stopped half-way may leave its array on the stack.
    lua_settop(L, sub.table);
    result = r >= 0 ? r : (r == kEncodeTooSmall ? kCbTooSmall : kCbError);
    break;
  }
  default:
    s->failure->failed = true;
    std::snprintf(s->failure->message, sizeof s->failure->message, "Invalid field type %d", a.kind);
    break;
  }
  lua_pop(L, 1);  // the value; a map's traversal key stays for the next element
  return result;
}

int lencode(lua_State* L) {
  const Type* type = typeArg(L, 1);
  luaL_checktype(L, 2, LUA_TTABLE);
  luaL_checkstack(L, kMaxDepth * 2 + 8, nullptr);
  int size = 0;
  uint8_t* buffer = scratch(L, &size);
  for (;;) {
    Failure failure;
    EncodeState state{L, 2, 0, &failure, 0};
    const int r = encode(*type, buffer, size, encodeCallback, &state);
    lua_settop(L, 2);
    if (failure.failed)
      return luaL_error(L, "%s", failure.message);
    if (r >= 0) {
      lua_pushlstring(L, reinterpret_cast<const char*>(buffer), size_t(r));
      return 1;
    }
    if (r != kEncodeTooSmall)
      return luaL_error(L, "encode error");
    int grown = size;
    while (grown <= size)
      grown *= 2;
    if (grown > kMaxScratch)
      return luaL_error(L, "object is too large (>%d)", kMaxScratch);
    buffer = growScratch(L, grown);
    size = grown;
  }
}

// ---- decode ----

struct DecodeState {
  lua_State* L;
  int table;  // stack index of the result table
  int depth;
  Failure* failure;
  int array;  // stack index of the array being filled, 0 when none
};

int decodeCallback(Arg& a);

// Decodes a nested structure into a new table left on the stack. Returns the bytes
// consumed or -1.
int decodeNested(DecodeState* s, const Arg& a) {
  lua_State* L = s->L;
  if (s->depth + 1 >= kMaxDepth) {
    s->failure->failed = true;
    std::snprintf(s->failure->message, sizeof s->failure->message, "The table is too deep");
    return -1;
  }
  lua_newtable(L);
  DecodeState sub{L, lua_gettop(L), s->depth + 1, s->failure, 0};
  const int r = decode(*a.structType, static_cast<const uint8_t*>(a.value), a.length,
                       decodeCallback, &sub);
  lua_settop(L, sub.table);
  return r;
}

int decodeCallback(Arg& a) {
  DecodeState* s = static_cast<DecodeState*>(a.ud);
  lua_State* L = s->L;
  const Field& f = *a.field;
  if (a.phase == ArrayPhase::Begin) {
    lua_newtable(L);
    lua_pushvalue(L, -1);
    lua_setfield(L, s->table, f.name.c_str());
    s->array = lua_gettop(L);
    return 0;
  }
  if (a.phase == ArrayPhase::End) {
    lua_settop(L, s->array - 1);
    s->array = 0;
    return 0;
  }
  int consumed = 0;
  switch (a.kind) {
  case kInteger:
    lua_pushinteger(L, lua_Integer(*static_cast<int64_t*>(a.value)));
    break;
  case kBoolean:
    lua_pushboolean(L, *static_cast<int64_t*>(a.value) != 0);
    break;
  case kString:
    lua_pushlstring(L, static_cast<const char*>(a.value), size_t(a.length));
    break;
  case kStruct:
    consumed = decodeNested(s, a);
    if (consumed < 0)
      return -1;
    break;
  default:
    return -1;
  }
  if (a.phase == ArrayPhase::None) {
    lua_setfield(L, s->table, f.name.c_str());
    return consumed;
  }
  if (f.key >= 0) {
    const Field* key = a.structType ? a.structType->findField(f.key) : nullptr;
    if (key)
      lua_getfield(L, -1, key->name.c_str());
    else
      lua_pushnil(L);
    if (lua_isnil(L, -1)) {
      s->failure->failed = true;
      std::snprintf(s->failure->message, sizeof s->failure->message,
                    "Can't find main index (tag=%d) in [%s]", f.key, f.name.c_str());
      lua_pop(L, 2);
      return -1;
    }
    lua_insert(L, -2);
    lua_settable(L, s->array);
    return consumed;
  }
  lua_seti(L, s->array, a.index);
  return consumed;
}

int ldecode(lua_State* L) {
  const Type* type = typeArg(L, 1);
  const uint8_t* data = nullptr;
  int size = 0;
  bufferArg(L, 2, &data, &size);
  if (lua_type(L, -1) == LUA_TTABLE)
    lua_pushvalue(L, -1);
  else
    lua_newtable(L);
  luaL_checkstack(L, kMaxDepth * 3 + 8, nullptr);
  const int result = lua_gettop(L);
  Failure failure;
  DecodeState state{L, result, 0, &failure, 0};
  const int r = decode(*type, data, size, decodeCallback, &state);
  lua_settop(L, result);
  if (failure.failed)
    return luaL_error(L, "%s", failure.message);
  if (r < 0)
    return luaL_error(L, "decode error");
  lua_pushinteger(L, r);
  return 2;
}

// ---- other functions ----

int lnewproto(lua_State* L) {
  size_t n = 0;
  const char* bundle = luaL_checklstring(L, 1, &n);
  Schema* s = Schema::fromBundle(bundle, n).release();
  if (!s)
    return 0;
  lua_pushlightuserdata(L, s);
  return 1;
}

int ldeleteproto(lua_State* L) {
  Schema* s = schemaArg(L, 1, "Need a sproto object");
  for (Schema*& slot : g_slots) {
    if (slot == s)
      slot = nullptr;
  }
  delete s;
  return 0;
}

int ldumpproto(lua_State* L) {
  const Schema* s = schemaArg(L, 1, "Need a sproto_type object");
  std::printf("=== %d types ===\n", int(s->types().size()));
  for (const Type& t : s->types()) {
    std::printf("%s\n", t.name.c_str());
    for (const Field& f : t.fields) {
      if (f.key >= 0)
        std::printf("\t%s (%d) %s%s(%d)\n", f.name.c_str(), f.tag, f.array ? "*" : "", kindName(f), f.key);
      else
        std::printf("\t%s (%d) %s%s\n", f.name.c_str(), f.tag, f.array ? "*" : "", kindName(f));
    }
  }
  std::printf("=== %d protocol ===\n", int(s->protocols().size()));
  for (const Protocol& p : s->protocols()) {
    if (p.request)
      std::printf("\t%s (%d) request:%s", p.name.c_str(), p.tag, p.request->name.c_str());
    else
      std::printf("\t%s (%d) request:(null)", p.name.c_str(), p.tag);
    if (p.response)
      std::printf(" response:%s", p.response->name.c_str());
    std::printf("\n");
  }
  std::fflush(stdout);
  return 0;
}

int lquerytype(lua_State* L) {
  const Schema* s = schemaArg(L, 1, "Need a sproto object");
  const char* name = luaL_checkstring(L, 2);
  const Type* t = s->findType(name);
  if (!t)
    return luaL_error(L, "type %s not found", name);
  lua_pushlightuserdata(L, const_cast<Type*>(t));
  return 1;
}

void pushType(lua_State* L, const Type* t) {
  if (t)
    lua_pushlightuserdata(L, const_cast<Type*>(t));
  else
    lua_pushnil(L);
}

int lprotocol(lua_State* L) {
  const Schema* s = schemaArg(L, 1, "Need a sproto_type object");
  const Protocol* p = nullptr;
  const int t = lua_type(L, 2);
  if (t == LUA_TNUMBER) {
    p = s->findProtocol(int(luaL_checkinteger(L, 2)));
    if (!p)
      return 0;
    lua_pushstring(L, p->name.c_str());
  } else if (t == LUA_TSTRING) {
    p = s->findProtocol(lua_tostring(L, 2));
    if (!p)
      return 0;
    lua_pushinteger(L, p->tag);
  } else {
    return luaL_argerror(L, 2, "Should be number or string");
  }
  pushType(L, p->request);
  pushType(L, p->response);
  return 3;
}

int slotArg(lua_State* L, int index) {
  const lua_Integer slot = luaL_optinteger(L, index, 0);
  if (slot < 0 || slot >= kSlots)
    return luaL_error(L, "Invalid global slot index %d", int(slot));
  return int(slot);
}

int lsaveproto(lua_State* L) {
  Schema* s = schemaArg(L, 1, "Need a sproto object");
  g_slots[slotArg(L, 2)] = s;
  return 0;
}

int lloadproto(lua_State* L) {
  const int slot = slotArg(L, 1);
  if (!g_slots[slot])
    return luaL_error(L, "nil sproto at index %d", slot);
  lua_pushlightuserdata(L, g_slots[slot]);
  return 1;
}

int ldefault(lua_State* L) {
  const Type* type = typeArg(L, 1);
  lua_createtable(L, 0, int(type->fields.size()));
  for (const Field& f : type->fields) {
    if (f.array) {
      lua_newtable(L);
    } else {
      switch (f.kind) {
      case kInteger:
        lua_pushinteger(L, 0);
        break;
      case kBoolean:
        lua_pushboolean(L, 0);
        break;
      case kString:
        lua_pushliteral(L, "");
        break;
      default:
        lua_createtable(L, 0, 1);
        lua_pushstring(L, f.structType->name.c_str());
        lua_setfield(L, -2, "__type");
        break;
      }
    }
    lua_setfield(L, -2, f.name.c_str());
  }
  return 1;
}

int lpack(lua_State* L) {
  const uint8_t* data = nullptr;
  int size = 0;
  bufferArg(L, 1, &data, &size);
  const int bound = packBound(size);
  int room = 0;
  uint8_t* buffer = scratch(L, &room);
  if (room < bound) {
    buffer = growScratch(L, bound);
    room = bound;
  }
  const int r = pack(data, size, buffer, bound);
  if (r > bound)
    return luaL_error(L, "packing error, return size = %d", r);
  lua_pushlstring(L, reinterpret_cast<const char*>(buffer), size_t(r));
  return 1;
}

int lunpack(lua_State* L) {
  const uint8_t* data = nullptr;
  int size = 0;
  bufferArg(L, 1, &data, &size);
  int room = 0;
  uint8_t* buffer = scratch(L, &room);
  int r = unpack(data, size, buffer, room);
  if (r < 0)
    return luaL_error(L, "Invalid unpack stream");
  if (r > room) {
    if (r > kMaxScratch)
      return luaL_error(L, "object is too large (>%d)", kMaxScratch);
    buffer = growScratch(L, r);
    room = r;
    r = unpack(data, size, buffer, room);
  }
  lua_pushlstring(L, reinterpret_cast<const char*>(buffer), size_t(r));
  return 1;
}

// ---- registration ----

void setWithScratch(lua_State* L, const char* name, lua_CFunction f) {
  lua_newuserdata(L, kInitialScratch);
  lua_pushcclosure(L, f, 1);
  lua_setfield(L, -2, name);
}

} // namespace

extern "C" int luaopen_sproto_core(lua_State* L) {
  const luaL_Reg functions[] = {
      {"newproto", lnewproto},   {"deleteproto", ldeleteproto}, {"dumpproto", ldumpproto},
      {"querytype", lquerytype}, {"decode", ldecode},           {"protocol", lprotocol},
      {"loadproto", lloadproto}, {"saveproto", lsaveproto},     {"default", ldefault},
      {nullptr, nullptr},
  };
  luaL_checkversion(L);
  luaL_newlib(L, functions);
  setWithScratch(L, "encode", lencode);
  setWithScratch(L, "pack", lpack);
  setWithScratch(L, "unpack", lunpack);
  return 1;
}
