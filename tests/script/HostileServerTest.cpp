// The update query under Wine against a development update server that breaks the
// framing or the conversation on purpose: every case must end in the failed query (one
// empty result), without a crash and without waiting past the host's time limit.
#include <gtest/gtest.h>

#include <string>

#include "tests/script/ScriptTestSupport.h"

namespace {

const unsigned kQueryTimeoutMs = 3000;

struct HostileCase {
  const char* mode;
  // A line of the host's log that shows which way the query failed.
  const char* logged;
};

class HostileServerTest : public qxtest::UpdateQueryTest, public ::testing::WithParamInterface<HostileCase> {
protected:
  HostileServerTest() { queryTimeoutMs = kQueryTimeoutMs; }
};

TEST_P(HostileServerTest, EndsInTheFailedQueryOnce) {
  const HostileCase& c = GetParam();
  query(std::string("--url http://127.0.0.1:8080/setup.exe --md5 0123456789abcdef0123456789abcdef "
                    "--size 123 --version 1.0.0.2 --hostile ") +
            c.mode,
        // The host's own limit ends a query that hears nothing; allow it and a margin.
        kQueryTimeoutMs + 5000);
  expectEmptyResult();
  EXPECT_TRUE(log.contains(c.logged)) << log.all();
  // The server saw the heartbeat and the request: the failure came from its answer.
  EXPECT_NE(std::string::npos, server->log().find("recv 00 20 55 02")) << server->log();
}

// A request from the server of its own is covered with the conversation tests.
const HostileCase kCases[] = {
    {"garbage", "[LUA ERROR] update query failed"},
    // The last packet never completes: the script hears nothing until the time limit.
    {"short-length", "[LUA ERROR] update query failed: no answer"},
    // Fills the receive buffer: the socket ends the connection, and the script hears it.
    {"oversize", "Server closed"},
    {"unknown-session", "Unknown session"},
    // Its length does not fit the 2-byte prefix, so the stream turns into garbage.
    {"big-attach", "[LUA ERROR] update query failed"},
    // A url must be text; a number is no address to download from.
    {"number-url", "[lua] {"},
};

INSTANTIATE_TEST_SUITE_P(Modes, HostileServerTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                           std::string name = info.param.mode;
                           for (char& ch : name)
                             if (ch == '-')
                               ch = '_';
                           return name;
                         });

} // namespace
