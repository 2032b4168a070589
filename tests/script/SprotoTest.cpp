// The sproto codec and "sproto.core" through the Lua module, with exact bytes; schemas
// are compiled by the project's own schema compiler script. Then the portable parts of
// the script set: the schema compiler and the message host with the conversation's schema.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/script/LuaTestState.h"

namespace {

class SprotoTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ("", lua.eval(R"(
      core = require "sproto.core"
      parser = require "sprotoparser"
      sp = core.newproto(parser.parse [[
        .Ints { a 0 : integer }
        .Gap { a 0 : integer  e 5 : integer }
        .Split { a 0 : integer  d 3 : integer }
        .Str { s 0 : string }
        .Arr { v 0 : *integer }
        .Flags { b 0 : *boolean  t 1 : boolean }
        .Item { id 0 : integer  name 1 : string }
        .Box { items 0 : *Item  byid 1 : *Item(id)  one 2 : Item  names 3 : *string }
        .Deep { next 0 : Deep }
        .Keyed { m 0 : *Item(id) }
        .field { name 0 : string  buildin 1 : integer  type 2 : integer  tag 3 : integer
                 array 4 : boolean  key 5 : integer  extra 6 : integer }
        .type { name 0 : string  fields 1 : *field }
        .protocol { name 0 : string  tag 1 : integer  request 2 : integer }
        .group { type 0 : *type  protocol 1 : *protocol  extra 2 : string }
        .loose { a 0 : string  b 1 : string  c 2 : string  d 3 : integer }
        .looseType { name 0 : string  fields 1 : *loose }
        .looseFields { type 0 : *looseType }
        .looseTypes { type 0 : *loose }
      ]])
      function T(name) return core.querytype(sp, name) end
      function back(name, t) return core.decode(T(name), core.encode(T(name), t)) end
      function enc(name, t) return hex(core.encode(T(name), t)) end
      function again(name, t) return enc(name, back(name, t)) end
      -- The script set's message hosts, both ends of the conversation's schema.
      sproto = require "sproto"
      proto = require "proto"
      client = sproto.new(proto.s2c):host "package"
      send = client:attach(sproto.new(proto.c2s))
      server = sproto.new(proto.c2s):host "package"
      return "")"));
  }

  void TearDown() override { lua.eval("core.deleteproto(sp) return ''"); }

  qxtest::LuaTestState lua;
};

TEST_F(SprotoTest, EncodesExactBytes) {
  const std::pair<const char*, const char*> cases[] = {
      {"'Ints', {}", "00 00"},
      {"'Ints', {a = 0}", "01 00 02 00"},
      {"'Ints', {a = 32766}", "01 00 FE FF"},
      {"'Ints', {a = 32767}", "01 00 00 00 04 00 00 00 FF 7F 00 00"},
      {"'Ints', {a = -1}", "01 00 00 00 04 00 00 00 FF FF FF FF"},
      {"'Ints', {a = 2^31 // 1}", "01 00 00 00 08 00 00 00 00 00 00 80 00 00 00 00"},
      {"'Ints', {a = -2^31 // 1}", "01 00 00 00 04 00 00 00 00 00 00 80"},
      {"'Ints', {a = 3.0}", "01 00 08 00"},
      {"'Gap', {e = 1}", "02 00 09 00 04 00"},
      {"'Gap', {a = 1, e = 1}", "03 00 04 00 07 00 04 00"},
      // Two fields whose tags span one more than their count are found by tag, not by place.
      {"'Split', {d = 4}", "02 00 05 00 0A 00"},
      {"'Str', {s = ''}", "01 00 00 00 00 00 00 00"},
      {"'Str', {}", "00 00"},
      {"'Str', {s = 12}", "01 00 00 00 02 00 00 00 31 32"},
      {"'Arr', {v = {1, 2^40 // 1}}", "01 00 00 00 11 00 00 00 08 01 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00"},
      {"'Arr', {v = {1, -2}}", "01 00 00 00 09 00 00 00 04 01 00 00 00 FE FF FF FF"},
      {"'Arr', {v = {}}", "00 00"},
      {"'Flags', {b = {true, false}, t = true}", "02 00 00 00 04 00 02 00 00 00 01 00"},
      {"'Flags', {t = false}", "02 00 01 00 02 00"},
      {"'Box', {one = {id = 1}}", "02 00 03 00 00 00 04 00 00 00 01 00 04 00"},
      {"'Box', {names = {'a', ''}}", "02 00 05 00 00 00 09 00 00 00 01 00 00 00 61 00 00 00 00"},
      {"'Box', {items = {{id = 1, name = 'a'}, {id = 2, name = 'b'}}, byid = {{id = 3, name = 'x'}}}",
       "02 00 00 00 00 00 1E 00 00 00 0B 00 00 00 02 00 04 00 00 00 01 00 00 00 61 0B 00 00 00 02 00 06 "
       "00 00 00 01 00 00 00 62 0F 00 00 00 0B 00 00 00 02 00 08 00 00 00 01 00 00 00 78"},
  };
  for (const auto& [args, bytes] : cases) {
    EXPECT_EQ(bytes, lua.eval(std::string("return enc(") + args + ")")) << args;
    // What the bytes decode to encodes to the same bytes.
    EXPECT_EQ(bytes, lua.eval(std::string("return again(") + args + ")")) << args;
  }
}

// Each row: a chunk and the string it returns, or "ERROR: message" when it raises.
TEST_F(SprotoTest, DecodesAndReportsErrors) {
  const std::pair<const char*, const char*> rows[] = {
      // Beyond the round trips above: a map's element under its main key, integers as
      // integers; an empty array is not written, so it comes back absent.
      {"return back('Box', {byid = {{id = 3, name = 'x'}}}).byid[3].name", "x"},
      {"return math.type(back('Ints', {a = 32767}).a) .. ' ' .. tostring(back('Arr', {v = {}}).v)", "integer nil"},
      // The bytes consumed are the whole encoding, which lets a caller find what follows.
      {"return select(2, core.decode(T 'Gap', core.encode(T 'Gap', {e = 1}) .. '\\1\\2\\3'))", "6"},
      // Decoding into a given table keeps its other entries.
      {"local into = {other = 'kept'} local t = core.decode(T 'Ints', core.encode(T 'Ints', {a = 7}), into) "
       "return (t == into and t.a or -1) .. ' ' .. into.other", "7 kept"},
      // A tag the type does not know is stepped over with its data.
      {"return core.decode(T 'Ints', '\\3\\0\\12\\0\\1\\0\\0\\0\\2\\0\\0\\0\\1\\2').a", "5"},
      // No full header; a header shorter than its count; a data item past the end; an integer
      // of 3 bytes; a string in place; integer arrays of no bytes, not of whole widths, of
      // width 3; a nested structure one byte longer; a boolean as a data item.
      {"return core.decode(T 'Ints', '\\1')", "ERROR: decode error"},
      {"return core.decode(T 'Ints', '\\2\\0\\2\\0')", "ERROR: decode error"},
      {"return core.decode(T 'Ints', '\\1\\0\\0\\0\\9\\0\\0\\0\\1')", "ERROR: decode error"},
      {"return core.decode(T 'Ints', '\\1\\0\\0\\0\\3\\0\\0\\0\\1\\2\\3')", "ERROR: decode error"},
      {"return core.decode(T 'Str', '\\1\\0\\4\\0')", "ERROR: decode error"},
      {"return core.decode(T 'Arr', '\\1\\0\\0\\0\\0\\0\\0\\0')", "ERROR: decode error"},
      {"return core.decode(T 'Arr', '\\1\\0\\0\\0\\4\\0\\0\\0\\4\\1\\0\\0')", "ERROR: decode error"},
      {"return core.decode(T 'Arr', '\\1\\0\\0\\0\\2\\0\\0\\0\\3\\0')", "ERROR: decode error"},
      {"return core.decode(T 'Box', '\\2\\0\\3\\0\\0\\0\\5\\0\\0\\0\\1\\0\\4\\0\\0')", "ERROR: decode error"},
      {"return core.decode(T 'Flags', '\\2\\0\\1\\0\\0\\0\\1\\0\\0\\0\\1')", "ERROR: decode error"},
      {"return core.encode(T 'Ints', {a = 'x'})", "ERROR: .a[0] is not an integer (Is a string)"},
      {"return core.encode(T 'Ints', {a = 1.5})", "ERROR: .a[0] is not an integer (Is a number)"},
      {"return core.encode(T 'Arr', {v = {1, true}})", "ERROR: .v[2] is not an integer (Is a boolean)"},
      {"return core.encode(T 'Arr', {v = 3})", "ERROR: .*v(1) should be a table (Is a number)"},
      {"return core.encode(T 'Flags', {t = 1})", "ERROR: .t[0] is not a boolean (Is a number)"},
      {"return core.encode(T 'Str', {s = {}})", "ERROR: .s[0] is not a string (Is a table)"},
      {"return core.encode(T 'Box', {one = 1})", "ERROR: .one[0] is not a table (Is a number)"},
      {"local t = {} local d = t for i = 1, 70 do d.next = {} d = d.next end return core.encode(T 'Deep', t)",
       "ERROR: The table is too deep"},
      // A list's element may lack the main key; a map's element without it cannot be placed.
      {"return #back('Box', {items = {{name = 'x'}}}).items", "1"},
      {"return core.decode(T 'Keyed', core.encode(T 'Box', {items = {{name = 'x'}}}))",
       "ERROR: Can't find main index (tag=0) in [m]"},
      {"return core.querytype(sp, 'Nope')", "ERROR: type Nope not found"},
      {"return core.decode(nil, '')", "ERROR: bad argument #1 to 'decode' (Need a sproto_type object)"},
      {"return core.decode(T 'Ints', 5)", "ERROR: bad argument #2 to 'decode' (Need a string or userdata)"},
      {"return core.protocol(sp, {})", "ERROR: bad argument #2 to 'protocol' (Should be number or string)"},
      {"return core.deleteproto(nil)", "ERROR: bad argument #1 to 'deleteproto' (Need a sproto object)"},
      // newproto gives nothing for a bad bundle; a schema kept in a global slot loads again.
      {"core.deleteproto(core.newproto('\\0\\0')) return select('#', core.newproto('\\1\\0\\2\\0'))", "0"},
      {"core.saveproto(sp) core.saveproto(sp, 15) return tostring(core.loadproto() == sp and core.loadproto(15) == sp)",
       "true"},
      {"return core.loadproto(16)", "ERROR: Invalid global slot index 16"},
      {"return core.saveproto(sp, -1)", "ERROR: Invalid global slot index -1"},
      {"return core.loadproto(9)", "ERROR: nil sproto at index 9"},
      // Default tables have every field.
      {"local b, f = core.default(T 'Box'), core.default(T 'Flags') return core.default(T 'Item').id .. "
       "tostring(f.t) .. core.default(T 'Str').s .. b.one.__type .. #b.items .. #f.b", "0falseItem00"},
      {"return core.unpack('\\255\\0\\1')", "ERROR: Invalid unpack stream"},
      {"return core.unpack('\\3\\1')", "ERROR: Invalid unpack stream"},
      // Padding after a structure is ignored by the decoder.
      {"return core.decode(T 'Ints', core.unpack(core.pack(core.encode(T 'Ints', {a = 5})))).a", "5"},
      // Round trips of large buffers: the scratch buffers grow as needed.
      {"local parts = {} for i = 1, 5000 do parts[i] = i % 3 == 0 and string.rep('\\0', 8) "
       "or string.pack('<i8', i * 7919) end local s = table.concat(parts) "
       "return tostring(core.unpack(core.pack(s)) == s)", "true"},
      {"local names = {} for i = 1, 20000 do names[i] = 'abcdefghi' end "
       "local t = back('Box', {names = names}) return #t.names * #t.names[1] + 20000", "200000"},
  };
  for (const auto& [chunk, result] : rows)
    EXPECT_EQ(result, lua.eval(chunk)) << chunk;
}

TEST_F(SprotoTest, PacksZeroRuns) {
  const std::pair<const char*, const char*> cases[] = {
      {"string.rep('\\0', 8)", "00"},
      {"'12345678'", "FF 00 31 32 33 34 35 36 37 38"},
      {"''", ""},
      {"'\\1\\0\\0\\0\\0\\0\\0\\2'", "81 01 02"},
      {"'\\1\\2\\3'", "07 01 02 03"},
      // Two full groups form one run; a group with 6 non-zero bytes joins it.
      {"'1234567812345678'", "FF 01 31 32 33 34 35 36 37 38 31 32 33 34 35 36 37 38"},
      {"'12345678123456\\0\\0'",
       "FF 01 31 32 33 34 35 36 37 38 31 32 33 34 35 36 00 00"},
      // A group with 5 or fewer closes the run and is written normally.
      {"'12345678\\1\\0\\0\\0\\0\\0\\0\\0'", "FF 00 31 32 33 34 35 36 37 38 01 01"},
      // A run reaching the end inside a short group is filled with zeros to whole groups.
      {"'123456781234567'", "FF 01 31 32 33 34 35 36 37 38 31 32 33 34 35 36 37 00"},
      {"'1234567812345'", "FF 00 31 32 33 34 35 36 37 38 1F 31 32 33 34 35"},
  };
  for (const auto& [bytes, packed] : cases) {
    EXPECT_EQ(packed, lua.eval(std::string("return hex(core.pack(") + bytes + "))")) << bytes;
    // And back, with zeros up to whole groups of 8.
    EXPECT_EQ("true", lua.eval(std::string("local s = ") + bytes +
                               " return tostring(core.unpack(core.pack(s)) == s .. string.rep('\\0', -#s % 8))"))
        << bytes;
  }
  // Runs close after 256 groups.
  EXPECT_EQ("FF FF 2048 FF 00 2060", lua.eval(R"(
    local p = core.pack(string.rep("x", 257 * 8))
    return hex(p:sub(1, 2)) .. " " .. #p:sub(3, 2050) .. " " .. hex(p:sub(2051, 2052)) .. " " .. #p)"));
}

// ---- the script set: the schema compiler and the message host ----

TEST_F(SprotoTest, CompilerResolvesNamesAndReportsErrors) {
  // Nested types first, then the enclosing scopes, then the top level.
  EXPECT_EQ("7 9 x", lua.eval(R"(
    local sp = sproto.parse [[
      .Inner { v 0 : integer }
      .Outer {
        .Inner { w 0 : integer }
        .Mid { a 0 : Inner  b 1 : *Leaf(k) }
        .Leaf { k 0 : string }
        m 0 : Mid
      }
    ]]
    local t = sp:decode("Outer", sp:encode("Outer", {m = {a = {w = 7}, b = {{k = "x"}}}}))
    local u = sp:decode("Inner", sp:encode("Inner", {v = 9}))
    return t.m.a.w .. " " .. u.v .. " " .. t.m.b.x.k)"));
  // Its errors, with the line and the name of the text.
  const std::pair<const char*, const char*> cases[] = {
      {".A { a 0 : integer\n a 1 : integer }", "redefine a in type A"},
      {".A { a 0 : integer\n b 0 : integer }", "redefine tag 0 in type A"},
      {".A { }\n.A { }", "redefined A"},
      {"p 1 {}\np 2 {}", "redefined p"},
      {"p 1 {}\nq 1 {}", "redefined protocol tag 1 at q"},
      {"p 1 { request X }", "Undefined request type X in protocol p"},
      {"p 1 { response Y }", "Undefined response type Y in protocol p"},
      {".A { a 0 : B }", "Undefined type B in type A"},
      {".K { n 0 : integer }\n.A { a 0 : *K(m) }", "Invalid map index :m"},
      {".A { a 0 : integer }\n\n# note\n.B { b : integer }", "syntax error at [=text] line (4)"},
  };
  for (const auto& [text, error] : cases)
    EXPECT_EQ(std::string("ERROR: ") + error, lua.eval(std::string("return parser.parse([[") + text + "]])")) << text;
  EXPECT_EQ("ERROR: syntax error at [mine] line (1)", lua.eval("return parser.parse('.A {', 'mine')"));
}

// Each row: a chunk and the string it returns, or "ERROR: message"; rows run in order.
TEST_F(SprotoTest, HostBuildsAndDispatchesMessages) {
  const std::pair<const char*, const char*> rows[] = {
      // The heartbeat with session 1: header type 2, session 1, no body.
      {"return hex(send('heartbeat', nil, 1))", "15 02 06 04"},
      // The query with session 2, packed: header type 1 session 2, then phone_plat 2,
      // "1.0.0.1" twice and "test".
      {"query = send('get_update_info', {phone_plat = 2, client_version = '1.0.0.1', res_version = '1.0.0.1', "
       "login_channel = 'test'}, 2) return hex(query)",
       "55 02 04 06 04 01 06 F1 07 31 2E 30 2E 8F 30 2E 31 07 31 7F 2E 30 2E 30 2E 31 04 3C 74 65 73 74"},
      // The server side of the same schema reads it and answers; the client matches sessions.
      {"local kind, name, req, respond = server:dispatch(query) answer = respond "
       "return table.concat({kind, name, req.phone_plat, req.client_version, req.login_channel}, ' ')",
       "REQUEST get_update_info 2 1.0.0.1 test"},
      {"local k, s, r = client:dispatch(answer({error_code = 4})) "
       "return k .. s .. r.error_code .. tostring(r.attach_msg)", "RESPONSE24nil"},
      {"local k, s, r = client:dispatch(select(4, server:dispatch(send('heartbeat', nil, 1)))()) "
       "return k .. s .. tostring(r)", "RESPONSE1nil"},
      // An answered session is forgotten.
      {"return client:dispatch(answer({}))", "ERROR: Unknown session"},
      {"return client:dispatch(core.pack(core.encode(client.__package, {})))", "ERROR: session not found"},
      // The client's schema has no server requests.
      {"return client:dispatch(core.pack(core.encode(client.__package, {type = 3})))", "ERROR: 3 not found"},
      {"return send('nope')", "ERROR: nope not found"},
      {"return sproto.new(proto.c2s):encode('nope', {})", "ERROR: type not found"},
      // Without its position in the script set.
      {"return (select(2, pcall(sproto.host, sproto.new(parser.parse '.x { }'))):gsub('^.*: ', ''))",
       "type package not found"},
      {"return sproto.new(proto.c2s):default('unit_test', 'X')", "ERROR: Invalid type"},
      {"local d = sproto.new(proto.c2s):default('get_update_info', 'RESPONSE') return d.error_code .. d.attach_msg",
       "0"},
  };
  for (const auto& [chunk, result] : rows)
    EXPECT_EQ(result, lua.eval(chunk)) << chunk;
}

// ---- bundles ----

// Bundles the compiler never makes, encoded by the codec with the bundle's own schema
// (`group` and its parts); the `loose` ones and `Ints` put data where the rules want none.
TEST_F(SprotoTest, RefusesBundlesBreakingTheRules) {
  ASSERT_EQ("", lua.eval(R"(
    function bundle(t, kind) return core.encode(T(kind or "group"), t) end
    function reads(b)
      local s = core.newproto(b)
      if s then core.deleteproto(s) end
      return tostring(s ~= nil)
    end
    -- A group of one type "T" with these fields.
    function fields(...) return {type = {{name = "T", fields = {...}}}} end
    good = fields({name = "a", buildin = 0, tag = 0}).type[1]
    return "")"));
  // A type without fields has only its name.
  ASSERT_EQ("true", lua.eval("return reads(bundle{type = {good, {name = 'E'}}, protocol = {{name = 'p', tag = 1}}})"));
  const std::pair<const char*, const char*> cases[] = {
      {"buildin 3", "fields({name = 'a', buildin = 3, tag = 0})"},
      {"fields out of tag order", "fields({name = 'a', buildin = 0, tag = 2}, {name = 'b', buildin = 0, tag = 1})"},
      {"same tag twice", "fields({name = 'a', buildin = 0, tag = 1}, {name = 'b', buildin = 0, tag = 1})"},
      {"type index out of range", "fields({name = 'a', type = 1, tag = 0})"},
      {"type and buildin together", "fields({name = 'a', buildin = 0, type = 0, tag = 0})"},
      {"no tag", "fields({name = 'a', buildin = 0})"},
      {"no name", "fields({buildin = 0, tag = 0})"},
      {"member beyond tag 5", "fields({name = 'a', buildin = 0, tag = 0, array = true, key = 0, extra = 0})"},
      {"key without array", "fields({name = 'a', buildin = 0, tag = 0, key = 0})"},
      {"number as data item", "fields({a = 'a', b = 'x', d = 0}), 'looseFields'"},
      {"three group entries", "{type = {good}, extra = ''}"},
      {"group entry in place", "{a = 1}, 'Ints'"},
      {"type with three entries", "{type = {{a = 'T', b = '', c = ''}}}, 'looseTypes'"},
      {"type with skip", "{type = {{b = ''}}}, 'looseTypes'"},
      {"protocols out of order", "{type = {good}, protocol = {{name = 'p', tag = 2}, {name = 'q', tag = 1}}}"},
      {"protocol without tag", "{type = {good}, protocol = {{name = 'p'}}}"},
      {"protocol request out of range", "{type = {good}, protocol = {{name = 'p', tag = 1, request = 5}}}"},
  };
  for (const auto& [rule, args] : cases)
    EXPECT_EQ("false", lua.eval(std::string("return reads(bundle(") + args + "))")) << rule;
  EXPECT_EQ("false", lua.eval("return reads(bundle{type = {good}}:sub(1, -2))")) << "truncated";
}

} // namespace
