#pragma once
// Reading the proxy list of the user's proxy settings. Portable (no system headers).
#include <string>

namespace ProxyList {

// The proxy a request of `scheme` ("http" or "https") should use, from a list as the
// system's proxy settings hold it: one server for every scheme ("proxy:8080"), or
// entries per scheme ("http=proxy:8080;https=secure:8443"), separated by semicolons or
// blanks, each server optionally written as a URL ("http://proxy:8080"). An entry for the
// scheme wins over one without a scheme. Gives "host:port" or "host", or "" when the
// list names no proxy for the scheme.
std::wstring forScheme(const std::wstring& list, const std::wstring& scheme);

} // namespace ProxyList
