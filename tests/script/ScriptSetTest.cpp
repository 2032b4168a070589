// The portable parts of the script set, run natively: the schema compiler, and the
// message host with the conversation's schema.
#include <gtest/gtest.h>

#include <string>

#include "tests/script/LuaTestState.h"

namespace {

class ScriptSetTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ("", lua.eval(R"(
      core = require "sproto.core"
      parser = require "sprotoparser"
      sproto = require "sproto"
      proto = require "proto"
      client = sproto.new(proto.s2c):host "package"
      send = client:attach(sproto.new(proto.c2s))
      server = sproto.new(proto.c2s):host "package"
      return "")"));
  }
  qxtest::LuaTestState lua;
};

TEST_F(ScriptSetTest, CompilerResolvesNamesAndReportsErrors) {
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
TEST_F(ScriptSetTest, HostBuildsAndDispatchesMessages) {
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

} // namespace
