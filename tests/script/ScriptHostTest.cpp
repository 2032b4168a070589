// The script host through its real interpreter, with stand-in scripts bound as resources
// of type 1057 (host_tests.rc); then its module "clientsocket" and the socket node
// against a loopback peer of the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "script/LuaScript.h"
#include "script/LuaScriptTestApi.h"
#include "script/SocketDelayResumer.h"
#include "script/SocketNodeTestApi.h"
#include "tests/script/ScriptTestSupport.h"
#include "tests/support/TimerWitness.h"

namespace {

using qxtest::Lines;
using qxtest::runLua;
using ::testing::HasSubstr;

class ScriptHostTest : public ::testing::Test {
protected:
  void SetUp() override {
    LuaScriptTestApi::reset();
    nodesBefore = SocketNodeTestApi::liveNodes();
  }
  // Every socket node a test makes is freed by its end: the script's close, a failed connect and
  // a connection the peer ended all let it go.
  void TearDown() override {
    runLua("if h then pcall(clientsocket.close, h) end h = nil return ''");
    EXPECT_TRUE(nodesFreed()) << SocketNodeTestApi::liveNodes() - nodesBefore << " nodes left";
    LuaScriptTestApi::reset();
  }

  // True once every node this test made has been freed again.
  bool nodesFreed() {
    return qxtest::pumpUntil([&] { return SocketNodeTestApi::liveNodes() == nodesBefore; }, 2000);
  }

  int nodesBefore = 0;
  qxtest::NotifyRecorder recorder;
  qxtest::LogCapture log;

  // Connects the global `h` to the peer; true when a handle came back.
  bool connectTo(qxtest::LoopbackPeer& peer) {
    const std::string r = runLua("h = clientsocket.connect('127.0.0.1', " + std::to_string(peer.port()) +
                                 ") return tostring(h ~= 0)");
    return r == "true" && peer.waitAccepted(5000);
  }
};

class ClientSocketTest : public ScriptHostTest {};

// Preloaded modules first, then the resources by the module's name, and nothing else.
TEST_F(ScriptHostTest, FindsModulesByPreloadThenResourceName) {
  EXPECT_EQ("true", runLua(R"(
    return tostring(require "sproto.core" == package.loaded["sproto.core"]
      and require "sproto.core" == _G["sproto.core"] and require "lpeg" == lpeg and require "cjson" == cjson
      and require "clientsocket" == clientsocket and require "app" == app and require "string" == string
      and require "_G" == _G))"));
  EXPECT_EQ("2 pre module x", runLua(R"(
    package.preload.pre = function() return "pre" end
    return #package.searchers .. " " .. require "pre" .. " " .. package.searchers[2]("x")())"));
  // The main script under each of its names, once for each.
  EXPECT_EQ("module x|module x|module a/b|3", runLua(R"(
    require "main.lua" require "main" require "MAIN"
    return require "x.luac.y" .. "|" .. require "x.lua" .. "|" .. require "a.b" .. "|" .. main_loads)"));
  EXPECT_THAT(runLua("return require 'c.d'"), HasSubstr("module 'c.d' not found"));
  EXPECT_EQ("false", runLua("return tostring(pcall(require, 'q.luac'))"));
  EXPECT_EQ((Lines{"[lua] can not get file data of c/d.lua\n", "[lua] can not get file data of q.lua\n"}), log.lines);
}

// A module the resources lack, or one that does not compile, is looked for nowhere else:
// not beside the program, not in the current folder, not on LUA_PATH or LUA_CPATH (the
// searchers are the two of FindsModulesByPreloadThenResourceName).
TEST_F(ScriptHostTest, FindsModulesInTheResourcesOnly) {
  // needs.lua is a resource that requires "planted".
  for (const auto& [module, missing] : {std::pair<std::string, std::string>{"needs", "planted"},
                                        {"planted", "planted"}, {"broken", "broken"}}) {
    const std::string err = runLua("return require '" + module + "'");
    EXPECT_THAT(err, HasSubstr("module '" + missing + "' not found"));
    EXPECT_THAT(err, ::testing::Not(HasSubstr("no file")));
  }
  EXPECT_EQ(" ", runLua("return package.path .. ' ' .. package.cpath"));
  // The loader's message joins require's not-found message.
  EXPECT_THAT(runLua("return require 'broken'"), HasSubstr("[string \"broken.lua\"]:2:"));
  EXPECT_TRUE(log.contains(
      "[lua] [LUA ERROR] load \"broken.lua\", error: syntax error during pre-compilation.\n"))
      << log.all();
}

// Whatever reaches files, programs or the interpreter's insides fails as a script error.
TEST_F(ScriptHostTest, OffersNoWayOutOfTheInterpreter) {
  for (const char* call : {"os.execute('echo x')", "io.open('x.txt', 'w')", "os.remove('x.txt')", "os.getenv('PATH')",
                           "package.loadlib('x.dll', '*')", "package.searchpath('x', '?.lua')", "dofile('x.lua')",
                           "loadfile('x.lua')", "debug.getinfo(1)", "require 'io'", "require 'debug'",
                           "assert(load(string.dump(function() end)))"})
    EXPECT_EQ(0u, runLua(std::string(call) + " return 'ran'").rfind("ERROR: ", 0)) << call;
  EXPECT_EQ("number number 5 nil", runLua(R"(
    return type(os.time()) .. " " .. type(os.clock()) .. " " .. load("return x", "c", "b", {x = 5})() ..
      " " .. tostring(load("return x")()))"));
}

TEST_F(ScriptHostTest, PrintWritesEverythingButLogsWhatFits) {
  ::testing::internal::CaptureStdout();
  const std::string result = runLua(R"(
    print(string.rep("a", 6000), string.rep("b", 6000), "c")
    print(1, nil, true)
    return "")");
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ("", result);
  const std::string a(6000, 'a'), b(6000, 'b');
  EXPECT_EQ(a + "\t" + b + "\tc\n1\tnil\ttrue\n", out);
  // The second argument does not fit whole beside the first and is left out.
  EXPECT_EQ((Lines{"[lua] " + a + "\t\tc\n", "[lua] 1\tnil\ttrue\n"}), log.lines);
  EXPECT_EQ("'tostring' must return a string to 'print'", runLua(R"(
    local saved = tostring
    tostring = function() return {} end
    local ok, e = pcall(print, 1)
    tostring = saved
    return e)"));
}

TEST_F(ScriptHostTest, NotifyRaisesTheRecord) {
  // Numbers are taken as their text.
  EXPECT_EQ("", runLua("app.notify('installer', 'http://h/p.exe', 'ab', 123, 4.5) return ''"));
  EXPECT_THAT(runLua("app.notify('installer', {}, '', '', '') return ''"),
              HasSubstr("bad argument #2 to 'notify' (string expected, got table)"));
  EXPECT_EQ(Lines{"installer|http://h/p.exe|ab|123|4.5"}, recorder.records);
  EXPECT_EQ(Lines{"[lua]  [result] installer = http://h/p.exe, ab, 123, 4.5\n"}, log.lines);
}

// Each usleep schedules one step; a later schedule replaces a pending one.
TEST_F(ScriptHostTest, UsleepPacesTheCoroutine) {
  ASSERT_EQ("true", runLua("return tostring(require 'step')"));
  const auto steps = [] { return runLua("return tostring(steps)"); };
  // 999 microseconds ask for the shortest period the system timer gives.
  runLua("clientsocket.usleep(999) return ''");
  EXPECT_TRUE(SocketDelayResumer::instance().isPending());
  ASSERT_TRUE(qxtest::pumpUntil([&] { return steps() == "1"; }, 1000));
  // The step scheduled nothing more and reported nothing: the query has ended without a
  // result, which the host reports as a failed one, once (counted at the end).
  runLua("clientsocket.usleep(50000) clientsocket.usleep(400000) return ''");
  const DWORD start = GetTickCount();
  ASSERT_TRUE(qxtest::pumpUntil([&] { return steps() != "1"; }, 3000));
  EXPECT_GE(GetTickCount() - start, 300u);
  ASSERT_TRUE(qxtest::waitForTicks(600));
  EXPECT_EQ("2", steps());
  EXPECT_EQ(1u, recorder.records.size());
  EXPECT_THAT(runLua("return clientsocket.usleep('x')"), HasSubstr("number expected"));
}

TEST_F(ScriptHostTest, RunCallsWhatTheMainScriptReturns) {
  EXPECT_EQ(0, LuaScript::instance().run());
  // The stand-in reports nothing and schedules nothing: one failed result. Once the host
  // has ended the query, a late result from the script is not a second one.
  runLua("app.notify('installer', 'http://late', '', '', '') return ''");
  EXPECT_EQ(Lines{"installer||||"}, recorder.records);
}

// ---- clientsocket ----

// No lookup result or a refused connection (to a peer's port, closed again at the end of
// the statement) gives the handle 0; bad arguments are script errors.
TEST_F(ClientSocketTest, ConnectFailsWithoutAPeer) {
  for (const std::string& peer : {std::string("'no-such-host.invalid', 8901"), std::string("'', 8901"),
                                   "'127.0.0.1', " + std::to_string(qxtest::LoopbackPeer().port())})
    EXPECT_EQ("0", runLua("return tostring(clientsocket.connect(" + peer + "))")) << peer;
  EXPECT_NE(std::string::npos, runLua("return clientsocket.connect({}, 2)").find("string expected"));
  EXPECT_NE(std::string::npos, runLua("return clientsocket.connect('h', 1.5)").find("number has no integer representation"));
  EXPECT_NE(std::string::npos, runLua("return clientsocket.close('x')").find("number expected"));
}

TEST_F(ClientSocketTest, ConnectGivesUpAfterThreeSeconds) {
  // A listener that never accepts: once its queue is full (the backlog plus one on this
  // host) a further handshake gets no answer.
  qxtest::LoopbackPeer peer(1);
  const std::string connect = "local h = clientsocket.connect('127.0.0.1', " + std::to_string(peer.port()) +
                              ") queued = queued or {} queued[#queued + 1] = h return tostring(h)";
  DWORD elapsed = 0;
  for (int i = 0; i < 8 && !elapsed; ++i) {
    const DWORD start = GetTickCount();
    if (runLua(connect) == "0")
      elapsed = GetTickCount() - start;
  }
  // Not before its three seconds; the upper bound only tells a give-up from a hang.
  EXPECT_GE(elapsed, 2800u);
  EXPECT_LT(elapsed, 60000u);
  runLua("for _, q in ipairs(queued) do clientsocket.close(q) end return ''");
}

TEST_F(ClientSocketTest, ClosedHandlesAreForgottenAndTheirConnectionEnds) {
  qxtest::LoopbackPeer peer;
  ASSERT_TRUE(connectTo(peer));
  EXPECT_EQ("", runLua("clientsocket.close(0) clientsocket.close(h) return ''"));
  // The node goes with its wrapper: the peer sees the end, and what it sends later
  // reaches nobody.
  EXPECT_TRUE(peer.waitClosed(3000));
  peer.sendRaw(std::string("\0\1x", 3));
  EXPECT_TRUE(nodesFreed());
  for (const char* call : {"recv(h)", "send(h, 'x')", "recv(12345)", "recv(0)"})
    EXPECT_NE(std::string::npos, runLua(std::string("return clientsocket.") + call).find("invalid socket handle")) << call;
}

TEST_F(ClientSocketTest, ALostConnectionReadsAsClosedOnceItsPacketsAreTaken) {
  auto peer = std::make_unique<qxtest::LoopbackPeer>();
  ASSERT_TRUE(connectTo(*peer));
  ASSERT_TRUE(peer->sendRaw(std::string("\0\2ok", 4)));
  peer.reset();
  // Freed without the script's close, once the end is seen. What came before the end is
  // still read; then recv gives the empty packet, which the script takes for a closed
  // server, at once and every time after.
  EXPECT_TRUE(nodesFreed()) << SocketNodeTestApi::liveNodes() - nodesBefore << " nodes left";
  EXPECT_EQ("ok||", runLua("return clientsocket.recv(h) .. '|' .. clientsocket.recv(h) .. '|' .. clientsocket.recv(h)"));
  EXPECT_EQ("", runLua("clientsocket.send(h, 'late') return ''"));
}

} // namespace
