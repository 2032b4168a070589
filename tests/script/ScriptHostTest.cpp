// The script host through its real interpreter, with stand-in scripts bound as resources
// of type 1057 (host_tests.rc).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "script/LuaScript.h"
#include "script/LuaScriptTestApi.h"
#include "script/SocketDelayResumer.h"
#include "tests/script/ScriptTestSupport.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TimerWitness.h"

namespace {

using qxtest::Lines;
using qxtest::runLua;
using ::testing::HasSubstr;

class ScriptHostTest : public ::testing::Test {
protected:
  void SetUp() override { LuaScriptTestApi::reset(); }
  void TearDown() override { LuaScriptTestApi::reset(); }
  qxtest::NotifyRecorder recorder;
  qxtest::LogCapture log;
};

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
// not beside the program, not in the current folder, not on LUA_PATH or LUA_CPATH.
TEST_F(ScriptHostTest, FindsModulesInTheResourcesOnly) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string beside = std::string(self, std::strrchr(self, '\\') + 1);
  std::vector<std::string> planted;
  for (const std::string& folder : {beside, std::string(".\\")}) {
    for (const char* name : {"planted.lua", "broken.lua", "planted.dll", "broken.dll"}) {
      planted.push_back(folder + name);
      qxtest::writeFile(planted.back(), "planted_ran = true return 'planted'");
    }
  }
  _putenv(("LUA_PATH=" + beside + "?.lua;.\\?.lua").c_str());
  _putenv(("LUA_CPATH=" + beside + "?.dll").c_str());
  LuaScriptTestApi::reset();
  // needs.lua is a resource that requires "planted".
  for (const auto& [module, missing] : {std::pair<std::string, std::string>{"needs", "planted"},
                                        {"planted", "planted"}, {"broken", "broken"}}) {
    const std::string err = runLua("return require '" + module + "'");
    EXPECT_THAT(err, HasSubstr("module '" + missing + "' not found"));
    EXPECT_THAT(err, ::testing::Not(HasSubstr("no file")));
  }
  EXPECT_EQ("nil  ", runLua("return tostring(planted_ran) .. ' ' .. package.path .. ' ' .. package.cpath"));
  // The loader's message joins require's not-found message.
  EXPECT_THAT(runLua("return require 'broken'"), HasSubstr("[string \"broken.lua\"]:2:"));
  EXPECT_TRUE(log.contains(
      "[lua] [LUA ERROR] load \"broken.lua\", error: syntax error during pre-compilation.\n"))
      << log.all();
  _putenv("LUA_PATH=");
  _putenv("LUA_CPATH=");
  for (const std::string& file : planted)
    DeleteFileA(file.c_str());
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
  const std::string out = qxtest::scratchFolder("print") + "/stdout.txt";
  std::fflush(stdout);
  const int saved = _dup(1);
  const int fd = _open(out.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0644);
  ASSERT_GE(fd, 0);
  _dup2(fd, 1);
  const std::string result = runLua(R"(
    print(string.rep("a", 6000), string.rep("b", 6000), "c")
    print(1, nil, true)
    return "")");
  std::fflush(stdout);
  _dup2(saved, 1);
  _close(fd);
  _close(saved);
  ASSERT_EQ("", result);
  const std::string a(6000, 'a'), b(6000, 'b');
  EXPECT_EQ(a + "\t" + b + "\tc\n1\tnil\ttrue\n", qxtest::readFile(out));
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
  // result, which the host reports as a failed one, once.
  EXPECT_EQ(Lines{"installer||||"}, recorder.records);
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
  EXPECT_EQ("true", runLua("return tostring(main_called)"));
  // The stand-in reports nothing and schedules nothing: one failed result. Once the host
  // has ended the query, a late result from the script is not a second one.
  runLua("app.notify('installer', 'http://late', '', '', '') return ''");
  EXPECT_EQ(Lines{"installer||||"}, recorder.records);
  EXPECT_TRUE(log.contains("[LUA ERROR] update query failed")) << log.all();
}

} // namespace
