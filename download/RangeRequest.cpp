// One request. Sections: 1. constants and texts  2. state  3. sending  4. the status
// callback  5. judging the answer  6. body, writes and the end.
//
// Throughput: WinHTTP under Wine receives 8 KiB per socket call, and every asynchronous
// step costs thread switches, so what decides the speed here is the rest: each read
// takes all the data that is available, straight into one buffer kept for the whole
// transfer (no allocation or copy per chunk), and the file is written in large pieces.
// Reads never ask for more than is available: WinHTTP may hold a larger read until it
// is filled, which would stall progress and cancellation on a slow line.
#include "download/RangeRequest.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/SupportLog.h"
#include "download/RetrySchedule.h"
#include "download/TransferText.h"
#include "download/WinHttpLibrary.h"

namespace {

const WinHttpLibrary& http() { return WinHttpLibrary::get(); }

// ---- 1. constants and texts --------------------------------------------------------

// Body bytes are collected here and written when less than kMinRead is left, or when
// kFlushIntervalMs passed since the last write, so a slow line still shows progress.
constexpr DWORD kBufferSize = 1024 * 1024;
constexpr DWORD kMinRead = 64 * 1024;
constexpr ULONGLONG kFlushIntervalMs = 100;
constexpr DWORD kCallbackFlags =
    WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_REDIRECT | WINHTTP_CALLBACK_FLAG_HANDLES;

const wchar_t* asyncCallName(DWORD_PTR result) {
  switch (result) {
    case API_RECEIVE_RESPONSE: return L"API_RECEIVE_RESPONSE";
    case API_QUERY_DATA_AVAILABLE: return L"API_QUERY_DATA_AVAILABLE";
    case API_READ_DATA: return L"API_READ_DATA";
    case API_WRITE_DATA: return L"API_WRITE_DATA";
    case API_SEND_REQUEST: return L"API_SEND_REQUEST";
    default: return L"Unknown function";
  }
}

// A failure text from a pattern with the API name (%ls) and a number (%lld).
std::wstring format(const wchar_t* pattern, const wchar_t* api, long long number) {
  wchar_t text[600];
  std::swprintf(text, sizeof text / sizeof text[0], pattern, api, number);
  return text;
}

// Errors of the connection rather than of the request: another try may get through.
bool transientError(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_RESEND_REQUEST:
    case ERROR_CONNECTION_ABORTED:
    case ERROR_NETNAME_DELETED:
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAECONNREFUSED:
    case WSAETIMEDOUT:
      return true;
    default:
      return false;
  }
}

bool unreachableError(DWORD error) {
  return error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
         error == WSAECONNREFUSED;
}

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Header values are ASCII; anything else is not a value this request understands.
bool narrow(const wchar_t* text, std::string& out) {
  out.clear();
  for (; *text; ++text) {
    if (*text > 0x7F)
      return false;
    out += static_cast<char>(*text);
  }
  return true;
}

} // namespace

// ---- 2. state ----------------------------------------------------------------------

struct RangeRequest::Impl {
  Impl(std::recursive_mutex& l, Listener& t, std::vector<char>& b)
      : lock(l), listener(t), buffer(b), releasedEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Impl() {
    if (releasedEvent)
      CloseHandle(releasedEvent);
  }

  std::recursive_mutex& lock;
  Listener& listener;

  Target target;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  std::wstring lastApi;
  std::int64_t position = 0;  // where the next body byte goes
  bool lengthKnown = false;   // the answer carried Content-Length
  bool ended = false;         // onFinished was told; later callbacks are ignored
  bool closing = false;       // the owner ends the request
  bool failed = false;
  std::wstring failureText;
  bool transient = false;          // the failure may pass on another try
  bool unreachable = false;        // no connection could be made
  std::int64_t retryAfterMs = -1;  // the server's Retry-After
  std::int64_t bodyEnd = -1;       // where the answer's body ends in the file, when told
  std::int64_t stopAt = -1;        // where the owner wants the body to stop; -1: its end
  // Body bytes not yet written: the first `filled`.
  std::vector<char>& buffer;
  DWORD filled = 0;
  ULONGLONG lastWrite = 0;
  // Set once our status callback is on the request: WinHTTP then announces the
  // request's end with a closing notice, the last call it makes with this context.
  bool awaitingRelease = false;
  HANDLE releasedEvent;

  static void CALLBACK statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                      DWORD length);
  bool send(HINTERNET session, const std::wstring& url);
  bool ranged() const { return target.offset > 0 || target.length > 0; }
  void onHeaders();
  bool headerText(DWORD query, std::string& value);
  bool acceptStatus(DWORD code, std::int64_t length, std::int64_t& total);
  bool restartFromZero();
  bool rangesHonoured(DWORD code, std::int64_t length);
  std::int64_t roomBeforeStop() const;
  bool stoppedShort();
  void queryNext();
  void onDataAvailable(DWORD bytes);
  void onReadComplete(DWORD bytes);
  void onRequestError(const WINHTTP_ASYNC_RESULT& result);
  void endOfBody();
  bool writeAt(const char* data, DWORD size);
  bool flush();
  void fail(std::wstring text);
  void failOnError(std::wstring text, DWORD error);
  void finish();
};

// ---- 3. sending --------------------------------------------------------------------------

bool RangeRequest::Impl::send(HINTERNET session, const std::wstring& url) {
  wchar_t host[256] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host / sizeof host[0];
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);

  // Each step names itself in lastApi first; a failing one leaves its error code here.
  DWORD error = 0;
  auto step = [&](bool ok) {
    if (!ok) error = GetLastError();
    return ok;
  };
  lastApi = L"WinHttpCrackURL";
  bool ok = step(http().crackUrl(url.c_str(), 0, 0, &parts) != FALSE);
  if (ok) {
    lastApi = L"WinHttpConnect";
    connection = http().connect(session, host, parts.nPort, 0);
    ok = step(connection != nullptr);
  }
  if (ok) {
    lastApi = L"WinHttpOpenRequest";
    // The path runs from after the host and port to the end: the query is part of it.
    std::wstring path = parts.lpszUrlPath ? parts.lpszUrlPath : L"";
    if (path.empty()) path = L"/";
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    request = http().openRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    ok = step(request != nullptr);
  }
  if (ok) {
    // The context rides on the handle itself, so even the closing notice of a request
    // that never got sent finds this object.
    DWORD_PTR self = reinterpret_cast<DWORD_PTR>(this);
    http().setOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof self);
  }
  if (ok && ranged()) {
    lastApi = L"WinHttpAddRequestHeaders";
    const std::wstring range = widen(target.length > 0 ? rangeHeader(target.offset, target.offset + target.length - 1)
                                                        : rangeHeader(target.offset));
    ok = step(http().addRequestHeaders(request, range.c_str(), static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD) !=
              FALSE);
  }
  if (ok) {
    lastApi = L"WinHttpSetStatusCallback";
    ok = step(http().setStatusCallback(request, statusCallback, kCallbackFlags, 0) !=
              WINHTTP_INVALID_STATUS_CALLBACK);
    awaitingRelease = ok;
  }
  if (ok) {
    lastApi = L"WinHttpSendRequest";
    ok = step(http().sendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                 reinterpret_cast<DWORD_PTR>(this)) != FALSE);
  }
  if (!ok) {
    failOnError(format(L"%ls failed with error %lld", lastApi.c_str(), error), error);
    finish();
  }
  return ok;
}

// ---- 4. the status callback -------------------------------------------------------------

void CALLBACK RangeRequest::Impl::statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                                 DWORD length) {
  auto* impl = reinterpret_cast<Impl*>(context);
  if (!impl) return;
  if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
    // Without the lock, and the last touch of the object: its owner may free it as soon
    // as the event is set.
    SetEvent(impl->releasedEvent);
    return;
  }
  std::lock_guard<std::recursive_mutex> guard(impl->lock);
  if (impl->ended || handle != impl->request) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      impl->lastApi = L"WinHttpReceiveResponse";
      if (!http().receiveResponse(handle, nullptr)) {
        const DWORD error = GetLastError();
        impl->failOnError(format(L"%ls: Error %lld encountered.", impl->lastApi.c_str(), error), error);
        impl->finish();
      }
      break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      impl->onHeaders();
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      impl->onDataAvailable(*static_cast<DWORD*>(info));
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      impl->onReadComplete(length);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      impl->onRequestError(*static_cast<WINHTTP_ASYNC_RESULT*>(info));
      break;
    default:
      break;
  }
}

// ---- 5. judging the answer --------------------------------------------------------------

bool RangeRequest::Impl::headerText(DWORD query, std::string& value) {
  wchar_t text[128] = {};
  DWORD size = sizeof text;
  return http().queryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX) &&
         narrow(text, value);
}

void RangeRequest::Impl::onHeaders() {
  lastApi = L"WinHttpQueryHeaders";
  DWORD code = 0;
  DWORD size = sizeof code;
  http().queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &code, &size, WINHTTP_NO_HEADER_INDEX);
  // As text: a package of 4 GiB or more does not fit the header's number form.
  std::string text;
  std::int64_t length = -1;
  lengthKnown = headerText(WINHTTP_QUERY_CONTENT_LENGTH, text) && parseByteCount(text, length);
  if (!lengthKnown)
    length = -1;
  std::string range, tag;
  headerText(WINHTTP_QUERY_CONTENT_RANGE, range);
  headerText(WINHTTP_QUERY_ETAG, tag);
  SupportLog::writef("download", "answer HTTP %lu, Content-Length %lld, Content-Range %s, ETag %s",
                     static_cast<unsigned long>(code), static_cast<long long>(length), range.empty() ? "none" : range.c_str(),
                     tag.empty() ? "none" : tag.c_str());
  std::int64_t total = 0;
  if (!acceptStatus(code, length, total))
    return;
  if (lengthKnown)
    bodyEnd = position + length;
  if (total <= 0 && target.expectedSize > 0) {
    // The end of the body tells the size; until then progress is measured against the
    // size the caller expects.
    total = target.expectedSize;
  }
  listener.onAccepted(total, rangesHonoured(code, length));
  buffer.resize(kBufferSize);
  lastWrite = GetTickCount64();
  queryNext();
}

bool RangeRequest::Impl::rangesHonoured(DWORD code, std::int64_t length) {
  if (code == 206)
    return true;
  std::string text;
  return code == 200 && target.expectedSize > 0 && length == target.expectedSize &&
         headerText(WINHTTP_QUERY_ACCEPT_RANGES, text) && text.find("bytes") != std::string::npos;
}

// False when the answer is not the bytes asked for; the file is untouched then.
// Otherwise `total` is the file's final size as the answer tells it (0: not told).
bool RangeRequest::Impl::acceptStatus(DWORD code, std::int64_t length, std::int64_t& total) {
  if (ranged() && code == 206) {
    std::string text;
    ContentRange range;
    const bool told = headerText(WINHTTP_QUERY_CONTENT_RANGE, text) && parseContentRange(text, range);
    // The part must end where asked, or where the file ends if that is sooner.
    std::int64_t last = target.length > 0 ? target.offset + target.length - 1 : -1;
    if (told && range.total >= 0)
      last = last < 0 ? range.total - 1 : std::min(last, range.total - 1);
    if (!told || range.first != target.offset || (last >= 0 && range.last != last)) {
      // Another part than the one asked for would be stitched in at the wrong place.
      fail(format(L"%ls: HTTP status %lld with another range", lastApi.c_str(), code));
    } else if (target.expectedSize > 0 && range.total >= 0 && range.total != target.expectedSize) {
      // A part of some other file.
      fail(format(L"%ls: HTTP status 206 of a file of %lld bytes", lastApi.c_str(), range.total));
    } else {
      total = range.total >= 0 ? range.total : target.length < 0 && length >= 0 ? position + length : 0;
      return true;
    }
  } else if (ranged() && code == 200) {
    // The server ignores ranges and sends everything again: that is the package only
    // when it is as long as the package. A portal's or a proxy's page is not, and the
    // bytes on disk must not be thrown away for it.
    if (target.mayRestart && target.expectedSize > 0 && length == target.expectedSize) {
      total = length;
      return restartFromZero();
    }
    fail(format(L"%ls: HTTP status 200 of %lld bytes for a range request", lastApi.c_str(), length));
  } else if (!ranged() && code == 200) {
    total = length >= 0 ? length : 0;
    return true;
  } else {
    // An error page is not part of the package: none of it reaches the file. A busy or
    // failing server may answer the next try.
    fail(format(L"%ls: HTTP status %lld", lastApi.c_str(), code));
    transient = RetrySchedule::transientStatus(static_cast<int>(code));
    std::string text;
    if (transient && headerText(WINHTTP_QUERY_RETRY_AFTER, text)) {
      const auto wait = RetrySchedule::retryAfterMs(text, static_cast<std::int64_t>(std::time(nullptr)));
      if (wait)
        retryAfterMs = *wait;
    }
  }
  finish();
  return false;
}

bool RangeRequest::Impl::restartFromZero() {
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(target.file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(target.file)) {
    fail(format(L"%ls failed with error %lld", L"SetEndOfFile", GetLastError()));
    finish();
    return false;
  }
  position = 0;
  listener.onRestarted();
  return true;
}

// ---- 6. body, writes and the end ---------------------------------------------------------

void RangeRequest::Impl::queryNext() {
  lastApi = L"WinHttpQueryDataAvailable";
  if (!http().queryDataAvailable(request, nullptr)) {
    const DWORD error = GetLastError();
    failOnError(format(L"%ls: Error %lld encountered.", lastApi.c_str(), error), error);
    finish();
  }
  // Nothing after this point: the call may have completed inline and ended the request.
}

void RangeRequest::Impl::onDataAvailable(DWORD bytes) {
  if (bytes == 0) {
    endOfBody();
    return;
  }
  if (stoppedShort()) return;
  // Only what is there: WinHTTP may hold a larger read until it is filled.
  if (buffer.size() - filled < bytes && !flush()) return;
  const DWORD chunk = static_cast<DWORD>(
      std::min<std::int64_t>(std::min<DWORD>(bytes, static_cast<DWORD>(buffer.size()) - filled), roomBeforeStop()));
  lastApi = L"WinHttpReadData";
  if (!http().readData(request, buffer.data() + filled, chunk, nullptr)) {
    const DWORD error = GetLastError();
    failOnError(format(L"%ls: Error %lld encountered.", lastApi.c_str(), error), error);
    finish();
  }
}

void RangeRequest::Impl::onReadComplete(DWORD bytes) {
  // A read of nothing would otherwise leave the transfer waiting forever.
  if (bytes == 0) {
    endOfBody();
    return;
  }
  // A read may bring bytes past a stop set while it ran: they belong to another request.
  bytes = static_cast<DWORD>(std::min<std::int64_t>(bytes, roomBeforeStop()));
  filled += bytes;
  listener.onReceived(bytes);
  if (stoppedShort()) return;
  if (buffer.size() - filled < kMinRead || GetTickCount64() - lastWrite >= kFlushIntervalMs) {
    if (!flush()) return;
  }
  queryNext();
}

std::int64_t RangeRequest::Impl::roomBeforeStop() const {
  return stopAt < 0 ? INT64_MAX : std::max<std::int64_t>(stopAt - position - filled, 0);
}

// At the stop the owner set, the request ends complete: what follows is another's.
bool RangeRequest::Impl::stoppedShort() {
  if (stopAt < 0 || position + filled < stopAt)
    return false;
  if (flush())
    finish();
  return true;
}

void RangeRequest::Impl::onRequestError(const WINHTTP_ASYNC_RESULT& result) {
  wchar_t text[600];
  std::swprintf(text, sizeof text / sizeof text[0], L"%ls: REQUEST_ERROR - error %lu, result %ls", lastApi.c_str(),
                static_cast<unsigned long>(result.dwError), asyncCallName(result.dwResult));
  failOnError(text, result.dwError);
  finish();
}

// The body ended. Before the length the answer announced, the connection was closed
// early: the bytes so far are kept, and the rest may come on another try.
void RangeRequest::Impl::endOfBody() {
  if (!flush())
    return;
  if (bodyEnd >= 0 && position < bodyEnd) {
    fail(format(L"%ls: the connection closed %lld bytes before the end of the body", lastApi.c_str(),
                bodyEnd - position));
    transient = true;
  }
  finish();
}

// Writes at `position`, repeating partial writes.
bool RangeRequest::Impl::writeAt(const char* data, DWORD size) {
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(position & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD put = 0;
    // A write that moves nothing would repeat forever (a full disk): it is a failure.
    if (!WriteFile(target.file, data, size, &put, &at) || put == 0) return false;
    data += put;
    size -= put;
    position += put;
  }
  return true;
}

// Writes the collected bytes and tells the listener; false when the request ended on it.
bool RangeRequest::Impl::flush() {
  if (filled == 0) return true;
  const DWORD size = filled;
  filled = 0;
  if (!writeAt(buffer.data(), size)) {
    fail(format(L"%ls failed with error %lld", L"WriteFile", GetLastError()));
    finish();
    return false;
  }
  lastWrite = GetTickCount64();
  listener.onWritten(position);
  return true;
}

void RangeRequest::Impl::fail(std::wstring text) {
  if (failed) return;
  failed = true;
  failureText = std::move(text);
}

void RangeRequest::Impl::failOnError(std::wstring text, DWORD error) {
  if (failed) return;
  fail(std::move(text));
  transient = transientError(error);
  unreachable = unreachableError(error);
}

void RangeRequest::Impl::finish() {
  if (ended) return;
  // Bytes already received belong to the package: keep them so the next attempt
  // continues after them.
  if (filled > 0) {
    const DWORD size = filled;
    filled = 0;
    if (writeAt(buffer.data(), size))
      listener.onWritten(position);
    else
      fail(format(L"%ls failed with error %lld", L"WriteFile", GetLastError()));
  }
  ended = true;
  lastApi = L"Closed";
  // The status callback stays installed: its closing notice tells the owner when
  // WinHTTP no longer calls into this object.
  if (request) {
    HINTERNET closing = request;
    request = nullptr;
    http().closeHandle(closing);
  }
  if (connection) {
    http().closeHandle(connection);
    connection = nullptr;
  }
  using End = Listener::End;
  listener.onFinished(failed ? End::Failed : closing ? End::Closed : End::Complete, failureText);
}

// ---- public face ---------------------------------------------------------------------------

RangeRequest::RangeRequest(std::recursive_mutex& lock, Listener& listener, std::vector<char>& buffer)
    : impl_(std::make_unique<Impl>(lock, listener, buffer)) {}

RangeRequest::~RangeRequest() = default;

bool RangeRequest::send(HINTERNET session, const std::wstring& url, const Target& target) {
  std::lock_guard<std::recursive_mutex> guard(impl_->lock);
  impl_->target = target;
  impl_->position = target.offset;
  return impl_->send(session, url);
}

void RangeRequest::close() {
  std::lock_guard<std::recursive_mutex> guard(impl_->lock);
  if (impl_->ended) return;
  impl_->closing = true;
  impl_->finish();
}

std::int64_t RangeRequest::received() const {
  std::lock_guard<std::recursive_mutex> guard(impl_->lock);
  return impl_->position + impl_->filled;
}

std::int64_t RangeRequest::shortenTo(std::int64_t end) {
  std::lock_guard<std::recursive_mutex> guard(impl_->lock);
  Impl& d = *impl_;
  end = std::max(end, d.position + d.filled);
  if (d.stopAt < 0 || end < d.stopAt)
    d.stopAt = end;
  // Takes effect at the next read's end (one may be under way into the buffer now).
  return d.stopAt;
}

bool RangeRequest::transient() const { return impl_->failed && impl_->transient; }

std::int64_t RangeRequest::retryAfterMs() const { return impl_->retryAfterMs; }

bool RangeRequest::unreachable() const { return impl_->failed && impl_->unreachable; }

bool RangeRequest::waitReleased(DWORD timeoutMs) {
  return !impl_->awaitingRelease || WaitForSingleObject(impl_->releasedEvent, timeoutMs) == WAIT_OBJECT_0;
}
