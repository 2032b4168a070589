// The route of a download from the user's proxy settings, against tinyproxy and nginx on
// loopback (started by with-servers.sh). nginx also answers on 127.0.0.2: WinHTTP here
// does not send requests for 127.0.0.1 through a proxy in a form a proxy understands.
#include "download/SystemProxy.h"
#include "tests/download/DownloadTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using Kind = SystemProxy::Kind;

SystemProxy::UserSettings g_settings;
bool g_readable = true;

bool testSettings(SystemProxy::UserSettings& settings) {
  settings = g_settings;
  return g_readable;
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The status of one synchronous GET of the package from the package server's second
// address, on a session set up as the downloader sets up its own, after reading the whole
// body; 0 when no answer came.
DWORD fetch(const SystemProxy::Route& route) {
  const std::string base = qxtest::env("QX_PROXIED_BASE");
  const auto port = static_cast<INTERNET_PORT>(std::stoi(base.substr(base.rfind(':') + 1)));
  DWORD status = 0;
  HINTERNET session = SystemProxy::openSession(L"proxy test", 0, route);
  EXPECT_NE(session, nullptr);
  HINTERNET connection = nullptr, request = nullptr;
  if ((connection = WinHttpConnect(session, L"127.0.0.2", port, 0)) &&
      (request = WinHttpOpenRequest(connection, L"GET", L"/package.bin", nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, 0)) &&
      WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
      WinHttpReceiveResponse(request, nullptr)) {
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    char buffer[65536];
    DWORD got = 0;
    while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got > 0) {
    }
  }
  for (HINTERNET h : {request, connection, session})
    if (h) WinHttpCloseHandle(h);
  return status;
}

// Requests tinyproxy has passed on for a path of the package server's second address.
int proxied(const std::string& path) {
  std::ifstream log(qxtest::env("QX_PROXY_LOG"));
  const std::string wanted = "GET " + qxtest::env("QX_PROXIED_BASE") + path + " ";
  int count = 0;
  for (std::string line; std::getline(log, line);) count += line.find(wanted) != std::string::npos;
  return count;
}

class SystemProxyTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(qxtest::env("QX_PROXY").empty()) << "run through with-servers.sh";
    g_settings = {};
    g_readable = true;
  }
  const std::wstring proxy = wide(qxtest::env("QX_PROXY"));
  const std::wstring proxiedUrl = wide(qxtest::env("QX_PROXIED_BASE")) + L"/package.bin";
};

TEST_F(SystemProxyTest, FixedProxyCarriesTheDownloadExceptForBypassedHosts) {
  g_settings.proxy = L"https=127.0.0.1:1;http=" + proxy;
  g_settings.bypass = L"<local>;127.0.0.3";
  SystemProxy choice(testSettings);
  const SystemProxy::Route route = choice.routeFor(proxiedUrl);
  EXPECT_TRUE(route == (SystemProxy::Route{Kind::kProxy, proxy, g_settings.bypass}));
  const int before = proxied("/package.bin");
  EXPECT_EQ(fetch(route), 200u);
  EXPECT_EQ(proxied("/package.bin"), before + 1);

  g_settings.bypass = L"127.0.0.2";
  SystemProxy bypassing(testSettings);
  EXPECT_EQ(fetch(bypassing.routeFor(proxiedUrl)), 200u);
  EXPECT_EQ(proxied("/package.bin"), before + 1);
}

// A configuration script is asked for each address, the fixed proxy serving only when it
// does not answer; without an answer (nothing set, nothing to detect on this network, a
// script that is not there, settings that cannot be read) the session's own setting serves.
TEST_F(SystemProxyTest, ScriptElseFixedProxyElseTheSessionsOwnSetting) {
  const std::wstring base = wide(qxtest::env("QX_HTTP_BASE"));
  const auto route = [](const SystemProxy::UserSettings& settings, const std::wstring& url, bool readable = true) {
    g_settings = settings;
    g_readable = readable;
    return SystemProxy(testSettings).routeFor(url);
  };
  const SystemProxy::UserSettings script{false, base + L"/proxy.pac", L"127.0.0.1:1", L""};
  EXPECT_EQ(route(script, proxiedUrl).proxy, proxy);
  EXPECT_EQ(route(script, base + L"/package.bin").kind, Kind::kDirect);
  EXPECT_EQ(route({}, proxiedUrl).kind, Kind::kSystem);
  EXPECT_EQ(route({true, base + L"/no-such.pac", L"", L""}, proxiedUrl).kind, Kind::kSystem);
  EXPECT_EQ(route({true, base + L"/no-such.pac", proxy, L""}, proxiedUrl).proxy, proxy);
  EXPECT_EQ(route({false, L"", proxy, L""}, proxiedUrl, false).kind, Kind::kSystem);
}

TEST_F(SystemProxyTest, AProxyThatCannotBeReachedGivesWayToADirectConnection) {
  g_settings.proxy = L"127.0.0.1:" + wide(qxtest::env("QX_CLOSED_PORT"));
  SystemProxy choice(testSettings);
  EXPECT_EQ(fetch(choice.routeFor(proxiedUrl)), 0u);
  choice.proxyUnreachable();
  const SystemProxy::Route route = choice.routeFor(proxiedUrl);
  EXPECT_EQ(route.kind, Kind::kDirect);
  EXPECT_EQ(fetch(route), 200u);
}

// A request that finds the proxy unreachable while the route is being resolved (here,
// as the settings are read) is not undone by the resolver's answer. Each route keeps
// one session for all its requests.
TEST_F(SystemProxyTest, UnreachableWhileResolvingWinsAndEachRouteKeepsOneSession) {
  g_settings.proxy = proxy;
  static SystemProxy* resolving = nullptr;
  SystemProxy choice([](SystemProxy::UserSettings& settings) {
    settings = g_settings;
    resolving->proxyUnreachable();
    return true;
  });
  resolving = &choice;
  EXPECT_EQ(choice.routeFor(proxiedUrl).kind, Kind::kDirect);

  const SystemProxy::Route through{Kind::kProxy, proxy, L""};
  const SystemProxy::Route direct{Kind::kDirect, L"", L""};
  HINTERNET viaProxy = choice.sessionFor(through, L"proxy test", 0, 5000);
  HINTERNET straight = choice.sessionFor(direct, L"proxy test", 0, 5000);
  ASSERT_NE(viaProxy, nullptr);
  ASSERT_NE(straight, nullptr);
  EXPECT_NE(viaProxy, straight);
  EXPECT_EQ(choice.sessionFor(through, L"proxy test", 0, 5000), viaProxy);
  EXPECT_EQ(choice.sessionFor(direct, L"proxy test", 0, 5000), straight);
}

} // namespace
