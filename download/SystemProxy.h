#pragma once
// How a download reaches its server: through the proxy the player set for the current
// user, or directly. The administrator's WinHTTP default, which the player never sees,
// is only the last resort.
#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <string>

// Chooses the route for one download's URL from the current user's proxy configuration:
// a configuration script or auto-detection resolved for the URL, else the fixed proxy
// with its bypass list, else the session's own (system) setting. Once the proxy cannot
// be reached, every later route is direct. Any thread may call it: the route is read and
// reset under one lock, which resolving (it may fetch a script or search the network,
// so it runs off the UI thread) does not hold.
class SystemProxy {
public:
  // The current user's settings, as WinHTTP reads them (WinHttpGetIEProxyConfigForCurrentUser).
  struct UserSettings {
    bool autoDetect = false;
    std::wstring scriptUrl;
    std::wstring proxy;   // as the settings hold it: "host:port" or "http=host:port;https=..."
    std::wstring bypass;  // WinHTTP's bypass list syntax
  };
  // A narrow seam for tests: where the settings come from. False when they cannot be read.
  using SettingsSource = bool (*)(UserSettings& settings);

  enum class Kind {
    kSystem,  // leave the session as it was opened
    kProxy,   // through `proxy`, except for hosts on `bypass`
    kDirect,  // no proxy at all
  };
  struct Route {
    Kind kind = Kind::kSystem;
    std::wstring proxy;
    std::wstring bypass;
    bool operator==(const Route& other) const {
      return kind == other.kind && proxy == other.proxy && bypass == other.bypass;
    }
  };

  // A session whose connections take `route`. The system's own route is the
  // automatic-proxy access type where the system offers it (it then follows the user's
  // settings by itself), else the WinHTTP default. A route is fixed when the session is
  // opened: not every WinHTTP honours a proxy set on an open session or request.
  static HINTERNET openSession(const wchar_t* userAgent, DWORD flags, const Route& route);

  explicit SystemProxy(SettingsSource source = nullptr);
  ~SystemProxy();
  SystemProxy(const SystemProxy&) = delete;
  SystemProxy& operator=(const SystemProxy&) = delete;

  // The route for `url` (resolved once per URL; later calls give the same answer). A
  // proxy found unreachable while it resolves is not given.
  Route routeFor(const std::wstring& url);
  // The proxy of the last route could not be reached: from now on, direct.
  void proxyUnreachable();

  // The one session for every request on `route`, opened with openSession on first use
  // (each WinHTTP timeout set to `timeoutMs`), so that connections and TLS sessions are
  // reused from request to request and retry to retry. Closed with this object, which
  // must outlive their requests. Null when it cannot be opened.
  HINTERNET sessionFor(const Route& route, const wchar_t* userAgent, DWORD flags, int timeoutMs);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
