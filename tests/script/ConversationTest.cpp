// The whole update query under Wine: the real script set through the real host, against
// the development update server (QX_DEVSERVER names its native binary).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "script/LuaScript.h"
#include "tests/script/LuaScriptTestApi.h"
#include "tests/script/ScriptTestSupport.h"

namespace {

const char kUrl[] = "http://127.0.0.1:8080/game/setup.exe";
const char kMd5[] = "0123456789abcdef0123456789abcdef";

class ConversationTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!qxtest::DevServer::binary())
      GTEST_SKIP() << "QX_DEVSERVER is not set; it names the native development update "
                      "server (<native build>/tools/devserver/devserver)";
    LuaScriptTestApi::reset();
    // Long enough for the three tries of a query whose server is not there.
    LuaScriptTestApi::setQueryTimeout(8000);
    LuaScript::instance().setUpdateServer("127.0.0.1");
  }
  void TearDown() override {
    LuaScriptTestApi::reset();
    LuaScriptTestApi::setQueryTimeout(60000);
  }

  // Runs the query against a server started with `arguments`; waits for the result and
  // a while longer, to see that it comes only once.
  void query(const std::string& arguments, unsigned waitMs = 10000) {
    server = std::make_unique<qxtest::DevServer>(arguments);
    ASSERT_TRUE(server->started()) << "the development update server did not start";
    LuaScript::instance().setUpdatePort(server->port());
    LuaScript::instance().run();
    qxtest::pumpUntil([&] { return !recorder.records.empty(); }, waitMs);
    qxtest::pumpFor(500);
  }

  void expectEmptyResult() {
    ASSERT_EQ(1u, recorder.records.size()) << log.all();
    const qxtest::NotifyCopy& r = recorder.records[0];
    EXPECT_EQ("installer", r.kind);
    EXPECT_EQ("", r.url);
    EXPECT_EQ("", r.md5);
    EXPECT_EQ("", r.size);
    EXPECT_EQ("", r.version);
  }

  qxtest::NotifyRecorder recorder;
  qxtest::LogCapture log;
  std::unique_ptr<qxtest::DevServer> server;
};

TEST_F(ConversationTest, ReportsThePackageOfTheObjectForm) {
  query(std::string("--url ") + kUrl + " --md5 " + kMd5 + " --size 123 --version 1.2.3.4");
  ASSERT_EQ(1u, recorder.records.size()) << log.all();
  const qxtest::NotifyCopy& r = recorder.records[0];
  EXPECT_EQ("installer", r.kind);
  EXPECT_EQ(kUrl, r.url);
  EXPECT_EQ(kMd5, r.md5);
  EXPECT_EQ("123", r.size);
  EXPECT_EQ("1.2.3.4", r.version);
  EXPECT_TRUE(log.contains("[lua] Hello world!\n")) << log.all();
  // The heartbeat's answer has no body and is taken silently.
  EXPECT_FALSE(log.contains("[lua] nil\n")) << log.all();
  EXPECT_FALSE(log.contains("LUA ERROR")) << log.all();
  // The first message on the wire is the heartbeat with session 1 and no body, then the
  // request with session 2.
  const std::string wire = server->log();
  const size_t first = wire.find("recv ");
  ASSERT_NE(std::string::npos, first) << wire;
  EXPECT_EQ(first, wire.find("recv 00 04 15 02 06 04\n")) << wire;
  const size_t second = wire.find("recv ", first + 1);
  ASSERT_NE(std::string::npos, second) << wire;
  // Header type 1 session 2, then phone_plat 2, "1.0.0.1" twice and "test"; packed.
  EXPECT_EQ(second, wire.find("recv 00 20 55 02 04 06 04 01 06 F1 07 31 2E 30 2E 8F 30 2E 31 07 31 7F "
                              "2E 30 2E 30 2E 31 04 3C 74 65 73 74\n"))
      << wire;
}

TEST_F(ConversationTest, ArrayFormGivesTheSameResult) {
  query(std::string("--url ") + kUrl + " --md5 " + kMd5 + " --size 123 --version 1.2.3.4 --array");
  ASSERT_EQ(1u, recorder.records.size()) << log.all();
  EXPECT_EQ(kUrl, recorder.records[0].url);
  EXPECT_EQ(kMd5, recorder.records[0].md5);
  EXPECT_EQ("123", recorder.records[0].size);
  EXPECT_EQ("1.2.3.4", recorder.records[0].version);
}

TEST_F(ConversationTest, LargeSizesStayIntegers) {
  query(std::string("--url ") + kUrl + " --md5 " + kMd5 + " --size 5368709120 --version 2");
  ASSERT_EQ(1u, recorder.records.size()) << log.all();
  EXPECT_EQ("5368709120", recorder.records[0].size);
}

TEST_F(ConversationTest, AnErrorCodeWithoutAttachedMessageGivesTheEmptyResult) {
  query("--error-code 4");
  expectEmptyResult();
}

// Three tries, the second after 1 s and the third after 2 s more, then the empty result.
TEST_F(ConversationTest, NoServerGivesTheEmptyResultAfterThreeTries) {
  LuaScript::instance().setUpdatePort(qxtest::closedPort());
  LuaScript::instance().run();
  const auto started = std::chrono::steady_clock::now();
  qxtest::pumpUntil([&] { return !recorder.records.empty(); }, 10000);
  const auto took = std::chrono::steady_clock::now() - started;
  qxtest::pumpFor(300);
  expectEmptyResult();
  EXPECT_EQ(3, log.count("[lua] connect failed!\n")) << log.all();
  EXPECT_GE(took, std::chrono::milliseconds(3000));
}

// Each of these ends the script without a result, or leaves it waiting: the host
// reports the failed query itself, once.
TEST_F(ConversationTest, AServerThatClosesAtOnceFailsTheQueryAtOnce) {
  query("--close");
  expectEmptyResult();
  // Known from the closed connection, not from the host's time limit.
  EXPECT_TRUE(log.contains("Server closed")) << log.all();
  EXPECT_FALSE(log.contains("update query failed: no answer")) << log.all();
}

TEST_F(ConversationTest, AServerThatNeverAnswersFailsTheQuery) {
  query("--silent");
  expectEmptyResult();
  EXPECT_TRUE(log.contains("[LUA ERROR] update query failed: no answer")) << log.all();
}

TEST_F(ConversationTest, InvalidJsonFailsTheQuery) {
  query("--bad-json", 2000);
  expectEmptyResult();
  EXPECT_TRUE(log.contains("[LUA ERROR] update query failed: the update script ended")) << log.all();
}

// A connection closed before the answer is tried again, like one that was refused.
TEST_F(ConversationTest, AnEmptyPacketMeansTheServerClosed) {
  query("--empty-packet");
  expectEmptyResult();
  EXPECT_EQ(3, log.count("[lua] Server closed\n")) << log.all();
}

TEST_F(ConversationTest, ARequestFromTheServerFailsTheQuery) {
  query("--server-request", 2000);
  expectEmptyResult();
  EXPECT_TRUE(log.contains("1 not found")) << log.all();
}

} // namespace
