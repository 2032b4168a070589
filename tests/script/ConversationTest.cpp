// The whole update query under Wine: the real script set through the real host, against
// the development update server (QX_DEVSERVER names its native binary), also when it
// breaks the framing or the conversation on purpose.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "script/LuaScriptTestApi.h"
#include "tests/script/ScriptTestSupport.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TimerWitness.h"

namespace {

const char kUrl[] = "http://127.0.0.1:8080/game/setup.exe";
const char kMd5[] = "0123456789abcdef0123456789abcdef";

// The update query of the script set in the host, against the development update server
// (QX_DEVSERVER); each test fails when that is not set.
class ConversationTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char* devserver = std::getenv("QX_DEVSERVER");
    ASSERT_TRUE(devserver && *devserver) << "QX_DEVSERVER names the native development update server "
                                            "(<native build>/tools/devserver/devserver)";
    LuaScriptTestApi::reset();
    // The host's limit for a query that hears nothing.
    LuaScriptTestApi::setQueryTimeout(8000);
    LuaScript::instance().setUpdateServer("127.0.0.1");
  }
  void TearDown() override {
    if (!serverFolder.empty())
      qxtest::writeFile(serverFolder + "/stop", "stop\n");
    LuaScriptTestApi::reset();
  }

  // Runs the query against a server started with `arguments`; waits for the result and
  // a while longer, to see that it comes once.
  void query(const std::string& arguments) {
    // The server is a Unix program: its paths take forward slashes, and Wine starts it by
    // its path, without a process handle to wait on. It stops when the test ends (stop
    // file, parent exit, or its own time limit).
    serverFolder = qxtest::scratchFolder("devserver");
    std::replace(serverFolder.begin(), serverFolder.end(), '\\', '/');
    const std::string command = std::string(std::getenv("QX_DEVSERVER")) + " --port 0 --port-file " +
                                serverFolder + "/port --log " + serverFolder + "/log --stop-file " + serverFolder +
                                "/stop --max-seconds 120 " + arguments;
    ASSERT_GT(WinExec(command.c_str(), SW_HIDE), 31u);
    const int port = std::atoi(qxtest::waitForFile(serverFolder + "/port", 15000).c_str());
    ASSERT_NE(0, port) << "the development update server did not start";
    LuaScript::instance().setUpdatePort(port);
    LuaScript::instance().run();
    qxtest::pumpUntil([&] { return !recorder.records.empty(); }, 12000);
    // A second result would come from the host's timers: they have had their chances.
    qxtest::waitForTicks(250, 2);
  }
  std::string serverLog() const { return qxtest::readFile(serverFolder + "/log"); }

  qxtest::NotifyRecorder recorder;
  qxtest::LogCapture log;
  std::string serverFolder;  // the development update server's, once started
};

// The answer's package in the array form the server may send; the object form, and a size
// past 32 bits, every end-to-end scenario's query gives (past_4gib its size).
TEST_F(ConversationTest, ReportsThePackage) {
  query(std::string("--url ") + kUrl + " --md5 " + kMd5 + " --size 123 --version 1.2.3.4 --array");
  EXPECT_EQ(qxtest::Lines{std::string("installer|") + kUrl + "|" + kMd5 + "|123|1.2.3.4"}, recorder.records)
      << log.all();
  EXPECT_TRUE(log.contains("[lua] Hello world!\n")) << log.all();
  // The heartbeat's answer has no body and is taken silently.
  EXPECT_FALSE(log.contains("[lua] nil\n")) << log.all();
  EXPECT_FALSE(log.contains("LUA ERROR")) << log.all();
  // The first message on the wire is the heartbeat with session 1 and no body, then the
  // request with session 2: header type 1 session 2, then phone_plat 2, "1.0.0.1" twice
  // and "test"; packed.
  const std::string wire = serverLog();
  EXPECT_EQ(wire.find("recv "), wire.find("recv 00 04 15 02 06 04\n")) << wire;
  EXPECT_EQ(wire.find("recv ", wire.find("recv ") + 1),
            wire.find("recv 00 20 55 02 04 06 04 01 06 F1 07 31 2E 30 2E 8F 30 2E 31 07 31 7F "
                      "2E 30 2E 30 2E 31 04 3C 74 65 73 74\n"))
      << wire;
}

// Each of these ends the script without a result, or leaves it waiting: the host
// reports the failed query itself, once, and its log tells which way it failed. The
// hostile modes break the framing or the conversation after a good request, under a
// shorter limit of the host's.
struct Failure {
  const char* name;
  std::string arguments;
  const char* logged;
  int times;             // how often `logged` appears; 0: at least once
  unsigned limitMs = 0;  // the host's limit for a silent query; 0: the usual one
};

class FailureTest : public ConversationTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(FailureTest, GivesTheEmptyResultOnce) {
  const Failure& f = GetParam();
  if (f.limitMs)
    LuaScriptTestApi::setQueryTimeout(f.limitMs);
  query(f.arguments);
  // Exactly one result, the empty one of a failed query.
  EXPECT_EQ(qxtest::Lines{"installer||||"}, recorder.records) << log.all();
  EXPECT_TRUE(f.times ? log.count(f.logged) == f.times : log.contains(f.logged)) << log.all();
  // A hostile answer came after the server saw the heartbeat and the request.
  if (f.limitMs) {
    EXPECT_NE(std::string::npos, serverLog().find("recv 00 20 55 02")) << serverLog();
  }
}

Failure hostile(const char* name, const char* mode, const char* logged) {
  return {name, std::string("--url ") + kUrl + " --md5 " + kMd5 + " --size 123 --version 1.0.0.2 --hostile " + mode,
          logged, 0, 3000};
}

const Failure kFailures[] = {
    // The script itself reports the empty result.
    {"error_code_without_message", "--error-code 4", "[lua]  [result] installer = , , , \n", 1},
    // A connection closed before the answer is tried again, like one that was refused;
    // each close is known as such, not from the host's time limit.
    {"closes_at_once", "--close", "[lua] Server closed\n", 3},
    {"empty_packet", "--empty-packet", "[lua] Server closed\n", 3},
    {"never_answers", "--silent", "[LUA ERROR] update query failed: no answer", 0},
    {"invalid_json", "--bad-json", "[LUA ERROR] update query failed: the update script ended", 0},
    {"request_from_the_server", "--server-request", "1 not found", 0},
    hostile("garbage", "garbage", "[LUA ERROR] update query failed"),
    // The last packet never completes: the script hears nothing until the time limit.
    hostile("short_length", "short-length", "[LUA ERROR] update query failed: no answer"),
    // Fills the receive buffer: the socket ends the connection, and the script hears it.
    hostile("oversize", "oversize", "Server closed"),
    hostile("unknown_session", "unknown-session", "Unknown session"),
    // Its length does not fit the 2-byte prefix, so the stream turns into garbage.
    hostile("big_attach", "big-attach", "[LUA ERROR] update query failed"),
    // A url must be text; a number is no address to download from.
    hostile("number_url", "number-url", "[lua] {"),
};
// Cases are named after their rows.
INSTANTIATE_TEST_SUITE_P(Servers, FailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
