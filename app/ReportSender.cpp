#include "app/ReportSender.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>

#include "download/SystemProxy.h"
#include "download/WinHttpLibrary.h"

namespace {

const WinHttpLibrary& http() { return WinHttpLibrary::get(); }

struct Job {
  std::wstring url;
  std::string body;
  unsigned budgetMs = 0;
  std::string result = "not sent: no answer in time";
};

// Closes the handles of one request on every way out.
struct Handles {
  HINTERNET session = nullptr, connection = nullptr, request = nullptr;
  ~Handles() {
    for (HINTERNET handle : {request, connection, session})
      if (handle)
        http().closeHandle(handle);
  }
};

std::string failed(const char* api) { return std::string("not sent: ") + api + " failed with error " + std::to_string(GetLastError()); }

std::string post(const Job& job) {
  if (!http().loaded())
    return "not sent: WinHTTP is not available";
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!http().crackUrl(job.url.c_str(), 0, 0, &parts))
    return failed("WinHttpCrackUrl");
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  // The download's route: the player's proxy when the download takes it.
  SystemProxy proxy;
  Handles h;
  h.session = SystemProxy::openSession(L"Asynchronous WinHTTP/1.0", 0, proxy.routeFor(job.url));
  if (!h.session)
    return failed("WinHttpOpen");
  const int timeout = static_cast<int>(job.budgetMs);
  http().setTimeouts(h.session, timeout, timeout, timeout, timeout);
  h.connection = http().connect(h.session, host.c_str(), parts.nPort, 0);
  if (!h.connection)
    return failed("WinHttpConnect");
  h.request = http().openRequest(h.connection, L"POST", path.empty() ? L"/" : path.c_str(), nullptr,
                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  if (!h.request)
    return failed("WinHttpOpenRequest");
  static const wchar_t kType[] = L"Content-Type: application/json\r\n";
  if (!http().sendRequest(h.request, kType, static_cast<DWORD>(-1), const_cast<char*>(job.body.data()),
                          static_cast<DWORD>(job.body.size()), static_cast<DWORD>(job.body.size()), 0))
    return failed("WinHttpSendRequest");
  if (!http().receiveResponse(h.request, nullptr))
    return failed("WinHttpReceiveResponse");
  DWORD status = 0;
  DWORD size = sizeof status;
  http().queryHeaders(h.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  if (status < 200 || status >= 300)
    return "not sent: the collector answered HTTP " + std::to_string(status);
  return "sent (HTTP " + std::to_string(status) + ")";
}

DWORD WINAPI sendThread(LPVOID parameter) {
  // Shared with the waiting thread, which may stop waiting first.
  std::unique_ptr<std::shared_ptr<Job>> held(static_cast<std::shared_ptr<Job>*>(parameter));
  Job& job = **held;
  job.result = post(job);
  return 0;
}

} // namespace

std::string ReportSender::send(const std::string& url, const std::string& body, unsigned budgetMs) {
  auto job = std::make_shared<Job>();
  const int length = MultiByteToWideChar(CP_UTF8, 0, url.data(), static_cast<int>(url.size()), nullptr, 0);
  job->url.assign(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, url.data(), static_cast<int>(url.size()), &job->url[0], length);
  job->body = body;
  job->budgetMs = budgetMs;
  auto* held = new std::shared_ptr<Job>(job);
  HANDLE thread = CreateThread(nullptr, 0, sendThread, held, 0, nullptr);
  if (!thread) {
    delete held;
    return "not sent: no thread";
  }
  const bool ended = WaitForSingleObject(thread, budgetMs) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended ? job->result : "not sent: no answer within " + std::to_string(budgetMs) + " ms";
}
