// The whole update query under Wine: the real script set through the real host, against
// the development update server (QX_DEVSERVER names its native binary), also when it
// breaks the framing or the conversation on purpose.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/script/ScriptTestSupport.h"

namespace {

const char kUrl[] = "http://127.0.0.1:8080/game/setup.exe";
const char kMd5[] = "0123456789abcdef0123456789abcdef";

using ConversationTest = qxtest::UpdateQueryTest;

// The answer's package in either form the server may send, with a size past 32 bits.
struct Answer {
  const char* name;
  const char* arguments;
  const char* size;
  const char* version;
};

class AnswerTest : public qxtest::UpdateQueryTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(AnswerTest, ReportsThePackage) {
  const Answer& a = GetParam();
  query(std::string("--url ") + kUrl + " --md5 " + kMd5 + " " + a.arguments, 10000);
  ASSERT_EQ(1u, recorder.records.size()) << log.all();
  EXPECT_EQ(std::string("installer|") + kUrl + "|" + kMd5 + "|" + a.size + "|" + a.version, recorder.records[0].text);
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

const Answer kAnswers[] = {
    {"object", "--size 123 --version 1.2.3.4", "123", "1.2.3.4"},
    {"array", "--size 123 --version 1.2.3.4 --array", "123", "1.2.3.4"},
    {"large_size", "--size 5368709120 --version 2", "5368709120", "2"},
};
INSTANTIATE_TEST_SUITE_P(Forms, AnswerTest, ::testing::ValuesIn(kAnswers),
                         [](const ::testing::TestParamInfo<Answer>& info) { return std::string(info.param.name); });

// Three tries, the second after 1 s and the third after 2 s more, then the empty result.
TEST_F(ConversationTest, NoServerGivesTheEmptyResultAfterThreeTries) {
  const auto started = std::chrono::steady_clock::now();
  queryPort(qxtest::closedPort(), 10000);
  // The query waits 500 ms past the result.
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3500));
  expectEmptyResult();
  EXPECT_EQ(3, log.count("[lua] connect failed!\n")) << log.all();
}

// Each of these ends the script without a result, or leaves it waiting: the host
// reports the failed query itself, once, and its log tells which way it failed. The
// hostile modes break the framing or the conversation after a good request, under a
// shorter limit of the host's.
struct Failure {
  const char* name;
  std::string arguments;
  unsigned waitMs;
  const char* logged;  // null: nothing to look for
  int times;           // how often `logged` appears; 0: at least once
  const char* absent;  // null: nothing
  unsigned limitMs = 0;  // the host's limit for a silent query; 0: the usual one
};

class FailureTest : public qxtest::UpdateQueryTest, public ::testing::WithParamInterface<Failure> {
protected:
  FailureTest() {
    if (GetParam().limitMs)
      queryTimeoutMs = GetParam().limitMs;
  }
};

TEST_P(FailureTest, GivesTheEmptyResultOnce) {
  const Failure& f = GetParam();
  query(f.arguments, f.waitMs);
  expectEmptyResult();
  if (f.logged && f.times > 0) {
    EXPECT_EQ(f.times, log.count(f.logged)) << log.all();
  } else if (f.logged) {
    EXPECT_TRUE(log.contains(f.logged)) << log.all();
  }
  if (f.absent) {
    EXPECT_FALSE(log.contains(f.absent)) << log.all();
  }
  // A hostile answer came after the server saw the heartbeat and the request.
  if (f.limitMs) {
    EXPECT_NE(std::string::npos, server->log().find("recv 00 20 55 02")) << server->log();
  }
}

Failure hostile(const char* name, const char* mode, const char* logged) {
  return {name, std::string("--url ") + kUrl + " --md5 " + kMd5 + " --size 123 --version 1.0.0.2 --hostile " + mode,
          8000, logged, 0, nullptr, 3000};
}

const Failure kFailures[] = {
    {"error_code_without_message", "--error-code 4", 10000, nullptr, 0, nullptr},
    // Known from the closed connection, not from the host's time limit.
    {"closes_at_once", "--close", 10000, "Server closed", 0, "update query failed: no answer"},
    {"never_answers", "--silent", 10000, "[LUA ERROR] update query failed: no answer", 0, nullptr},
    {"invalid_json", "--bad-json", 2000, "[LUA ERROR] update query failed: the update script ended", 0, nullptr},
    // A connection closed before the answer is tried again, like one that was refused.
    {"empty_packet", "--empty-packet", 10000, "[lua] Server closed\n", 3, nullptr},
    {"request_from_the_server", "--server-request", 2000, "1 not found", 0, nullptr},
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
INSTANTIATE_TEST_SUITE_P(Servers, FailureTest, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

} // namespace
