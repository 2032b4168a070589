// The proxy for a scheme, from the lists the system's proxy settings hold.
#include "download/ProxyList.h"

#include <gtest/gtest.h>

namespace {

TEST(ProxyList, PicksTheSchemesEntryElseTheCommonOne) {
  struct Case {
    const wchar_t* list;
    const wchar_t* scheme;
    const wchar_t* proxy;
  };
  const Case cases[] = {
      {L"proxy:8080", L"http", L"proxy:8080"},
      {L"proxy:8080", L"https", L"proxy:8080"},
      {L"http=plain:80;https=secure:443", L"http", L"plain:80"},
      {L"http=plain:80;https=secure:443", L"https", L"secure:443"},
      {L"HTTPS=secure:443 http=plain:80", L"https", L"secure:443"},
      {L"ftp=files:21;socks=s:1080", L"http", L""},
      {L"common:3128;http=plain:80", L"http", L"plain:80"},
      {L"common:3128;http=plain:80", L"https", L"common:3128"},
      {L"http://proxy.example:8080/", L"http", L"proxy.example:8080"},
      {L"http=http://plain:80", L"http", L"plain:80"},
      {L"http=;https=secure:443", L"http", L""},
      {L" ; ;proxy ", L"http", L"proxy"},
      {L"", L"http", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(ProxyList::forScheme(c.list, c.scheme), c.proxy) << c.list << " / " << c.scheme;
}

} // namespace
