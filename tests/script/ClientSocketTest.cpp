// The module "clientsocket" and the socket node against a loopback peer of the test.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "script/LuaScriptTestApi.h"
#include "script/SocketNodeTestApi.h"
#include "tests/script/ScriptTestSupport.h"

namespace {

using qxtest::runLua;

class ClientSocketTest : public ::testing::Test {
protected:
  void SetUp() override {
    LuaScriptTestApi::reset();
    nodesBefore = SocketNodeTestApi::liveNodes();
  }
  // Every node a test makes is freed by its end: the script's close, a failed connect and
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

  // Connects the global `h` to the peer; true when a handle came back.
  bool connectTo(qxtest::LoopbackPeer& peer) {
    const std::string r = runLua("h = clientsocket.connect('127.0.0.1', " + std::to_string(peer.port()) +
                                 ") return tostring(h ~= 0)");
    return r == "true" && peer.waitAccepted(5000);
  }
};

TEST_F(ClientSocketTest, SplitsSeveralPacketsOfOneSegment) {
  qxtest::LoopbackPeer peer;
  ASSERT_TRUE(connectTo(peer));
  const std::string big(300, 'z');
  ASSERT_TRUE(peer.sendRaw(std::string("\0\1a\0\0\0\2bc\x01\x2c", 11) + big));
  const char* const take = "got = got or {} for p in function() return clientsocket.recv(h) end do "
                           "got[#got + 1] = p end return tostring(#got >= 4)";
  EXPECT_TRUE(qxtest::pumpUntil([&] { return runLua(take) == "true"; }, 2000));
  EXPECT_EQ("a||bc|" + big, runLua("return table.concat(got, '|')"));
  // Then the queue is empty: recv returns nothing at all.
  EXPECT_EQ("0", runLua("return tostring(select('#', clientsocket.recv(h)))"));
}

// No lookup result or a refused connection gives the handle 0; bad arguments are script
// errors.
TEST_F(ClientSocketTest, ConnectFailsWithoutAPeer) {
  for (const std::string& peer : {std::string("'no-such-host.invalid', 8901"), std::string("'', 8901"),
                                   "'127.0.0.1', " + std::to_string(qxtest::closedPort())})
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
