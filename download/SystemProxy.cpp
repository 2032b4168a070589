#include "download/SystemProxy.h"

#include "app/SupportLog.h"
#include "download/ProxyList.h"
#include "download/WinHttpLibrary.h"

#include <mutex>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kResolverAgent[] = L"Asynchronous WinHTTP/1.0";

const WinHttpLibrary& http() { return WinHttpLibrary::get(); }

std::wstring takeGlobal(LPWSTR text) {
  std::wstring out = text ? text : L"";
  if (text) GlobalFree(text);
  return out;
}

bool readUserSettings(SystemProxy::UserSettings& settings) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!http().loaded() || !http().getUserProxyConfig(&config)) return false;
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.scriptUrl = takeGlobal(config.lpszAutoConfigUrl);
  settings.proxy = takeGlobal(config.lpszProxy);
  settings.bypass = takeGlobal(config.lpszProxyBypass);
  return true;
}

std::wstring schemeOf(const std::wstring& url) {
  return url.compare(0, 6, L"https:") == 0 || url.compare(0, 6, L"HTTPS:") == 0 ? L"https" : L"http";
}

struct SessionHandle {
  HINTERNET handle;
  ~SessionHandle() {
    if (handle) http().closeHandle(handle);
  }
};

} // namespace

struct SystemProxy::Impl {
  ~Impl() {
    for (const auto& open : sessions) http().closeHandle(open.second);
  }

  SettingsSource source = readUserSettings;
  // Resolving, outside `mutex`: one caller at a time.
  std::mutex resolving;
  bool settingsRead = false;
  bool settingsKnown = false;
  UserSettings settings;
  // Under `mutex`: what a caller reads and a failed request resets.
  std::mutex mutex;
  bool resolved = false;
  std::wstring resolvedUrl;
  Route route;
  bool unreachable = false;
  std::vector<std::pair<Route, HINTERNET>> sessions;

  // What a configuration script or auto-detection says for the URL; the session's own
  // route when neither is set or neither answers.
  Route fromScript(const std::wstring& url) const {
    Route out;
    if (!settings.autoDetect && settings.scriptUrl.empty()) return out;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (!settings.scriptUrl.empty()) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = settings.scriptUrl.c_str();
    }
    if (settings.autoDetect) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    // A synchronous session of its own: the downloads' session is asynchronous.
    SessionHandle session{http().open(kResolverAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0)};
    WINHTTP_PROXY_INFO info{};
    if (!session.handle || !http().getProxyForUrl(session.handle, url.c_str(), &options, &info)) return out;
    const std::wstring proxy = takeGlobal(info.lpszProxy);
    const std::wstring bypass = takeGlobal(info.lpszProxyBypass);
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      // A script may name several proxies; WinHTTP takes one server per scheme.
      const std::wstring chosen = ProxyList::forScheme(proxy, schemeOf(url));
      if (!chosen.empty()) out = {Kind::kProxy, chosen, bypass};
    } else if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY) {
      out.kind = Kind::kDirect;
    }
    return out;
  }
};

HINTERNET SystemProxy::openSession(const wchar_t* userAgent, DWORD flags, const Route& route) {
  if (!http().loaded())
    return nullptr;
  switch (route.kind) {
    case Kind::kProxy:
      return http().open(userAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, route.proxy.c_str(),
                         route.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : route.bypass.c_str(), flags);
    case Kind::kDirect:
      return http().open(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, flags);
    case Kind::kSystem:
      break;
  }
  HINTERNET session = http().open(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, flags);
  if (!session) {
    // Before Windows 8.1 there is no automatic type.
    session = http().open(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, flags);
  }
  return session;
}

SystemProxy::SystemProxy(SettingsSource source) : impl_(std::make_unique<Impl>()) {
  if (source) impl_->source = source;
}

SystemProxy::~SystemProxy() = default;

SystemProxy::Route SystemProxy::routeFor(const std::wstring& url) {
  Impl& d = *impl_;
  const Route direct{Kind::kDirect, L"", L""};
  std::lock_guard<std::mutex> resolving(d.resolving);
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.unreachable) return direct;
    if (d.resolved && d.resolvedUrl == url) return d.route;
  }
  if (!d.settingsRead) {
    d.settingsRead = true;
    d.settingsKnown = d.source(d.settings);
  }
  Route route;
  bool scripted = false;
  if (d.settingsKnown) {
    route = d.fromScript(url);
    scripted = route.kind != Kind::kSystem;
    // A fixed proxy serves when no script or detection gave an answer.
    if (route.kind == Kind::kSystem) {
      const std::wstring chosen = ProxyList::forScheme(d.settings.proxy, schemeOf(url));
      if (!chosen.empty()) route = {Kind::kProxy, chosen, d.settings.bypass};
    }
  }
  std::lock_guard<std::mutex> lock(d.mutex);
  d.resolved = true;
  d.resolvedUrl = url;
  d.route = route;
  SupportLog::write("route", !d.settingsKnown                          ? "the user's proxy settings cannot be read"
                             : scripted && d.settings.scriptUrl.empty() ? "automatic proxy detection answered"
                             : scripted                                 ? "the proxy configuration script answered"
                             : route.kind == Kind::kProxy               ? "the user's settings name a fixed proxy"
                                                                        : "the user's settings name no proxy");
  // The proxy may have failed a request while this resolved.
  return d.unreachable ? direct : route;
}

void SystemProxy::proxyUnreachable() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->unreachable = true;
}

HINTERNET SystemProxy::sessionFor(const Route& route, const wchar_t* userAgent, DWORD flags, int timeoutMs) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  for (const auto& open : impl_->sessions)
    if (open.first == route) return open.second;
  HINTERNET session = openSession(userAgent, flags, route);
  if (session) {
    http().setTimeouts(session, timeoutMs, timeoutMs, timeoutMs, timeoutMs);
    impl_->sessions.emplace_back(route, session);
  }
  return session;
}
