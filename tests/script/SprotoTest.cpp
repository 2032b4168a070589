// The sproto codec and "sproto.core" through the Lua module, with exact bytes; schemas
// are compiled by the project's own schema compiler script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/SprotoSchema.h"
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
        .Str { s 0 : string }
        .Arr { v 0 : *integer }
        .Flags { b 0 : *boolean  t 1 : boolean }
        .Item { id 0 : integer  name 1 : string }
        .Box { items 0 : *Item  byid 1 : *Item(id)  one 2 : Item  names 3 : *string }
        .Deep { next 0 : Deep }
        .Keyed { m 0 : *Item(id) }
      ]])
      function T(name) return core.querytype(sp, name) end
      function back(name, t) return core.decode(T(name), core.encode(T(name), t)) end
      function enc(name, t) return hex(core.encode(T(name), t)) end
      function again(name, t) return enc(name, back(name, t)) end
      return "")"));
  }

  void TearDown() override {
    lua.eval("core.deleteproto(sp) return ''");
  }

  qxtest::LuaTestState lua;
};

struct EncodeCase {
  const char* type;
  const char* table;
  const char* bytes;
};

TEST_F(SprotoTest, EncodesExactBytes) {
  const EncodeCase cases[] = {
      {"Ints", "{}", "00 00"},
      {"Ints", "{a = 0}", "01 00 02 00"},
      {"Ints", "{a = 32766}", "01 00 FE FF"},
      {"Ints", "{a = 32767}", "01 00 00 00 04 00 00 00 FF 7F 00 00"},
      {"Ints", "{a = -1}", "01 00 00 00 04 00 00 00 FF FF FF FF"},
      {"Ints", "{a = 2^31 // 1}", "01 00 00 00 08 00 00 00 00 00 00 80 00 00 00 00"},
      {"Ints", "{a = -2^31 // 1}", "01 00 00 00 04 00 00 00 00 00 00 80"},
      {"Ints", "{a = 3.0}", "01 00 08 00"},
      {"Gap", "{e = 1}", "02 00 09 00 04 00"},
      {"Gap", "{a = 1, e = 1}", "03 00 04 00 07 00 04 00"},
      {"Str", "{s = ''}", "01 00 00 00 00 00 00 00"},
      {"Str", "{}", "00 00"},
      {"Str", "{s = 12}", "01 00 00 00 02 00 00 00 31 32"},
      {"Arr", "{v = {1, 2^40 // 1}}",
       "01 00 00 00 11 00 00 00 08 01 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00"},
      {"Arr", "{v = {1, -2}}", "01 00 00 00 09 00 00 00 04 01 00 00 00 FE FF FF FF"},
      {"Arr", "{v = {}}", "00 00"},
      {"Flags", "{b = {true, false}, t = true}", "02 00 00 00 04 00 02 00 00 00 01 00"},
      {"Flags", "{t = false}", "02 00 01 00 02 00"},
      {"Box", "{one = {id = 1}}", "02 00 03 00 00 00 04 00 00 00 01 00 04 00"},
      {"Box", "{names = {'a', ''}}",
       "02 00 05 00 00 00 09 00 00 00 01 00 00 00 61 00 00 00 00"},
      {"Box", "{items = {{id = 1, name = 'a'}, {id = 2, name = 'b'}}, byid = {{id = 3, name = 'x'}}}",
       "02 00 00 00 00 00 1E 00 00 00 0B 00 00 00 02 00 04 00 00 00 01 00 00 00 61 0B 00 00 00 02 00 06 "
       "00 00 00 01 00 00 00 62 0F 00 00 00 0B 00 00 00 02 00 08 00 00 00 01 00 00 00 78"},
  };
  for (const EncodeCase& c : cases) {
    const std::string call = std::string("('") + c.type + "', " + c.table + ")";
    EXPECT_EQ(c.bytes, lua.eval("return enc" + call)) << call;
    // What the bytes decode to encodes to the same bytes.
    EXPECT_EQ(c.bytes, lua.eval("return again" + call)) << call;
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
      {"return core.saveproto(sp, 16)", "ERROR: Invalid global slot index 16"},
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
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, lua.eval(std::string("return hex(core.pack(") + c.first + "))")) << c.first;
    // And back, with zeros up to whole groups of 8.
    EXPECT_EQ("true", lua.eval(std::string("local s = ") + c.first +
                               " return tostring(core.unpack(core.pack(s)) == s .. string.rep('\\0', -#s % 8))"))
        << c.first;
  }
  // Runs close after 256 groups.
  EXPECT_EQ("FF FF 2048 FF 00 2060", lua.eval(R"(
    local p = core.pack(string.rep("x", 257 * 8))
    return hex(p:sub(1, 2)) .. " " .. #p:sub(3, 2050) .. " " .. hex(p:sub(2051, 2052)) .. " " .. #p)"));
}

// ---- bundles ----

// A data item: its length in 4 bytes, then its bytes.
std::string sized(const std::string& bytes) {
  const uint32_t n = uint32_t(bytes.size());
  return std::string{char(n), char(n >> 8), char(n >> 16), char(n >> 24)} + bytes;
}

// Builds sproto structures by hand, to make bundles the compiler never would.
struct Struct {
  std::vector<uint16_t> entries;
  std::string data;

  Struct& value(int v) { entries.push_back(uint16_t((v + 1) * 2)); return *this; }
  Struct& skip(int gap) { entries.push_back(uint16_t(2 * gap - 1)); return *this; }
  Struct& item(const std::string& bytes) {
    entries.push_back(0);
    data += sized(bytes);
    return *this;
  }
  std::string bytes() const {
    std::string out{char(entries.size()), char(entries.size() >> 8)};
    for (uint16_t e : entries)
      out += std::string{char(e), char(e >> 8)};
    return out + data;
  }
};

std::string items(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& s : list)
    out += sized(s);
  return out;
}

std::string field(const char* name, int buildin, int tag) {
  return Struct().item(name).value(buildin).skip(1).value(tag).bytes();
}

std::string type(const char* name, const std::vector<std::string>& fields) {
  return Struct().item(name).item(items(fields)).bytes();
}

bool reads(const std::string& bundle) {
  return sproto::Schema::fromBundle(bundle.data(), bundle.size()) != nullptr;
}

TEST(SprotoBundle, ReadsWellFormedBundles) {
  const std::string t = type("T", {field("a", 0, 0), field("b", 2, 3)});
  const std::string proto = Struct().item("p").value(4).value(0).bytes();
  const std::string bundle = Struct().item(items({t})).item(items({proto})).bytes();
  auto s = sproto::Schema::fromBundle(bundle.data(), bundle.size());
  ASSERT_TRUE(s);
  const sproto::Type* tt = s->findType("T");
  ASSERT_TRUE(tt);
  EXPECT_EQ(-1, tt->base);
  EXPECT_EQ(3, tt->maxn);
  ASSERT_TRUE(tt->findField(3));
  EXPECT_EQ("b", tt->findField(3)->name);
  EXPECT_FALSE(tt->findField(1));
  ASSERT_TRUE(s->findProtocol(4));
  EXPECT_EQ(tt, s->findProtocol("p")->request);
  EXPECT_FALSE(s->findProtocol(3));
  // A type without fields has only its name.
  EXPECT_TRUE(reads(Struct().item(items({Struct().item("E").bytes()})).bytes()));
}

TEST(SprotoBundle, RejectsBrokenRules) {
  const std::string good = type("T", {field("a", 0, 0)});
  auto group = [](const std::vector<std::string>& types) {
    return Struct().item(items(types)).bytes();
  };
  ASSERT_TRUE(reads(group({good})));
  const std::pair<const char*, std::string> cases[] = {
      {"buildin 3", group({type("T", {field("a", 3, 0)})})},
      {"fields out of tag order", group({type("T", {field("a", 0, 2), field("b", 0, 1)})})},
      {"same tag twice", group({type("T", {field("a", 0, 1), field("b", 0, 1)})})},
      {"type index out of range",
       group({type("T", {Struct().item("a").skip(1).value(1).value(0).bytes()})})},
      {"type and buildin together",
       group({type("T", {Struct().item("a").value(0).value(0).value(0).bytes()})})},
      {"no tag", group({type("T", {Struct().item("a").value(0).bytes()})})},
      {"no name", group({type("T", {Struct().skip(1).value(0).skip(1).value(0).bytes()})})},
      {"number as data item", group({type("T", {Struct().item("a").item("x").skip(1).value(0).bytes()})})},
      {"member beyond tag 5",
       group({type("T", {Struct().item("a").value(0).skip(1).value(0).value(1).value(0).value(0).bytes()})})},
      {"key without array",
       group({type("T", {Struct().item("a").value(0).skip(1).value(0).skip(1).value(0).bytes()})})},
      {"three group entries", Struct().item(items({good})).item("").item("").bytes()},
      {"group entry in place", Struct().value(1).bytes()},
      {"type with three entries", group({Struct().item("T").item("").item("").bytes()})},
      {"type with skip", group({Struct().skip(1).item("").bytes()})},
      {"truncated", group({good}).substr(0, group({good}).size() - 1)},
      {"protocols out of order",
       Struct().item(items({good}))
           .item(items({Struct().item("p").value(2).bytes(), Struct().item("q").value(1).bytes()}))
           .bytes()},
      {"protocol without tag", Struct().item(items({good})).item(items({Struct().item("p").bytes()})).bytes()},
      {"protocol request out of range",
       Struct().item(items({good})).item(items({Struct().item("p").value(1).value(5).bytes()})).bytes()},
  };
  for (const auto& c : cases)
    EXPECT_FALSE(reads(c.second)) << c.first;
}

} // namespace
