// The downloader. Sections: 1. constants and texts  2. state  3. preparing and sending
// the request  4. the status callback  5. writing, failures and clean-up  6. public face.
//
// Throughput: WinHTTP under Wine receives 8 KiB per socket call, and every asynchronous
// step costs thread switches, so what decides the speed here is the rest: each read
// takes all the data that is available, straight into one buffer kept for the whole
// transfer (no allocation or copy per chunk), and the file is written in large pieces.
// Reads never ask for more than is available: WinHTTP may hold a larger read until it
// is filled, which would stall progress and cancellation on a slow line.
#include "download/AsyncWinHttp.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

#include "download/WinHttpLibrary.h"

namespace {

const WinHttpLibrary& http() { return WinHttpLibrary::get(); }

// ---- 1. constants and texts --------------------------------------------------------

constexpr wchar_t kUserAgent[] = L"Asynchronous WinHTTP/1.0";
// Body bytes are collected here and written when less than kMinRead is left, or when
// kFlushIntervalMs passed since the last write, so a slow line still shows progress.
constexpr DWORD kBufferSize = 1024 * 1024;
constexpr DWORD kMinRead = 64 * 1024;
constexpr ULONGLONG kFlushIntervalMs = 100;
// How long destruction waits for WinHTTP to release the request.
constexpr DWORD kCloseWaitMs = 5000;
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

} // namespace

// ---- 2. state ----------------------------------------------------------------------

struct AsyncWinHttp::Impl {
  explicit Impl(AsyncWinHttp* o) : owner(o), closedEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  AsyncWinHttp* const owner;
  // Recursive: WinHTTP may complete a call inline, running the callback on the thread
  // that already holds the lock.
  std::recursive_mutex mutex;

  std::wstring targetPath;
  std::wstring infoPath;
  std::string expectedMd5;
  std::uint32_t expectedSize = 0;

  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;

  DWORD chunkSize = 0;
  std::uint32_t downloaded = 0;  // bytes in the target file, counting what was on disk
  std::uint32_t total = 0;       // expected final size, from the disk and the response
  std::wstring lastApi;
  bool failed = false;
  std::wstring failureText;

  ProgressCallback callback = nullptr;
  void* context = nullptr;

  bool started = false;         // download() was called; one attempt per object
  bool ended = false;           // the clean-up ran; later callbacks are ignored
  bool rangeRequested = false;
  bool lengthKnown = true;      // the response carried Content-Length
  // Body bytes not yet written: the first `filled`. A read WinHTTP has started writes
  // into it even after the request is closed, so it lives as long as this object.
  std::vector<char> buffer;
  DWORD filled = 0;
  ULONGLONG lastWrite = 0;
  // Set when our status callback was installed on the request: WinHTTP then announces
  // the request's end with a closing notice, the last call it makes with this context.
  bool awaitingClose = false;
  HANDLE closedEvent;

  static void CALLBACK statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                      DWORD length);
  bool start(const std::wstring& url, std::int64_t size, const std::string& md5);
  void prepareFiles(std::int64_t size, const std::string& md5);
  bool sendRequest(const std::wstring& url);

  void onHeaders();
  void onReadComplete(DWORD bytes);
  void onRequestError(const WINHTTP_ASYNC_RESULT& result);
  long long rangeStart();
  void queryNext();
  void onDataAvailable(DWORD bytes);
  void endOfBody();

  bool writeAll(const char* data, DWORD size);
  bool flush();
  void fail(std::wstring text);
  void cleanup();
  void report(int status);
};

// ---- 3. preparing and sending the request ---------------------------------------------

void AsyncWinHttp::Impl::prepareFiles(std::int64_t size, const std::string& md5) {
  // The side file is the size in decimal followed directly by the digest text, without
  // a terminator; files left by earlier runs are compared byte for byte.
  char text[256];
  std::snprintf(text, sizeof text, "%lld%s", static_cast<long long>(size), md5.c_str());
  const DWORD textSize = static_cast<DWORD>(std::strlen(text));

  HANDLE info = CreateFileW(infoPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (info == INVALID_HANDLE_VALUE) {
    DeleteFileW(targetPath.c_str());
  } else {
    char old[sizeof text] = {};
    DWORD got = 0;
    const DWORD oldSize = GetFileSize(info, nullptr);
    const bool same = oldSize == textSize && ReadFile(info, old, sizeof old, &got, nullptr) &&
                      got == textSize && std::memcmp(old, text, textSize) == 0;
    CloseHandle(info);
    if (!same) {
      DeleteFileW(targetPath.c_str());
      DeleteFileW(infoPath.c_str());
    }
  }

  // Without the side file a partial target could not be continued next time, but this
  // attempt still works: a failure here is not one of the download.
  info = CreateFileW(infoPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
  if (info != INVALID_HANDLE_VALUE) {
    DWORD put = 0;
    WriteFile(info, text, textSize, &put, nullptr);
    CloseHandle(info);
  }
}

bool AsyncWinHttp::Impl::start(const std::wstring& url, std::int64_t size, const std::string& md5) {
  expectedSize = static_cast<std::uint32_t>(size > 0 ? size : 0);
  prepareFiles(size, md5);

  downloaded = total = 0;
  file = CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    downloaded = total = GetFileSize(file, nullptr);
    // A partial file longer than the package cannot be continued: start it over.
    if (expectedSize > 0 && downloaded > expectedSize) {
      SetFilePointer(file, 0, nullptr, FILE_BEGIN);
      SetEndOfFile(file);
      downloaded = total = 0;
    }
    SetFilePointer(file, 0, nullptr, FILE_END);
  } else {
    file = CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      fail(format(L"%ls failed with error %lld", L"CreateFile", GetLastError()));
      cleanup();
      return false;
    }
  }

  if (expectedSize > 0 && downloaded == expectedSize) {
    // Already complete: nothing to fetch. The report carries downloaded == total.
    failed = true;
    failureText = format(L"%ls failed with error %lld", lastApi.c_str(), GetLastError());
    cleanup();
    return false;
  }
  return sendRequest(url);
}

bool AsyncWinHttp::Impl::sendRequest(const std::wstring& url) {
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
  if (ok && downloaded > 0) {
    lastApi = L"WinHttpAddRequestHeaders";
    wchar_t range[64];
    std::swprintf(range, sizeof range / sizeof range[0], L"Range: bytes=%u-\r\n", downloaded);
    ok = step(http().addRequestHeaders(request, range, static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD) != FALSE);
    rangeRequested = ok;
  }
  if (ok) {
    lastApi = L"WinHttpSetStatusCallback";
    ok = step(http().setStatusCallback(request, statusCallback, kCallbackFlags, 0) !=
                  WINHTTP_INVALID_STATUS_CALLBACK);
    awaitingClose = ok;
  }
  if (ok) {
    lastApi = L"WinHttpSendRequest";
    ok = step(http().sendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                 reinterpret_cast<DWORD_PTR>(this)) != FALSE);
  }
  if (!ok) {
    fail(format(L"%ls failed with error %lld", lastApi.c_str(), error));
    cleanup();
  }
  return ok;
}

// ---- 4. the status callback -------------------------------------------------------------

void CALLBACK AsyncWinHttp::Impl::statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                                 LPVOID info, DWORD length) {
  auto* impl = reinterpret_cast<Impl*>(context);
  if (!impl) return;
  if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
    // Without the lock, and the last touch of the object: destruction may free it as
    // soon as the event is set.
    SetEvent(impl->closedEvent);
    return;
  }
  std::lock_guard<std::recursive_mutex> lock(impl->mutex);
  if (impl->ended || handle != impl->request) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      impl->lastApi = L"WinHttpReceiveResponse";
      if (!http().receiveResponse(handle, nullptr)) {
        impl->fail(format(L"%ls: Error %lld encountered.", impl->lastApi.c_str(), GetLastError()));
        impl->cleanup();
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

void AsyncWinHttp::Impl::onHeaders() {
  lastApi = L"WinHttpQueryHeaders";
  DWORD code = 0;
  DWORD size = sizeof code;
  http().queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
  if (code == 200 && downloaded > 0) {
    // The server ignored the range and sends the whole file: start the file over.
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    downloaded = total = 0;
  } else if (code == 206 && rangeRequested && rangeStart() != downloaded) {
    // Another part than the one asked for would be stitched in at the wrong place.
    fail(format(L"%ls: HTTP status %lld with another range", lastApi.c_str(), code));
    cleanup();
    return;
  } else if (!(code == 200 || (code == 206 && rangeRequested))) {
    // An error page is not part of the package: none of it reaches the file.
    fail(format(L"%ls: HTTP status %lld", lastApi.c_str(), code));
    cleanup();
    return;
  }

  DWORD length = 0;
  size = sizeof length;
  if (http().queryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX)) {
    total += length;
  } else {
    // The end of the body tells the size; until then progress is measured against the
    // size the caller expects.
    lengthKnown = false;
    if (expectedSize > 0) total = expectedSize;
  }
  buffer.resize(kBufferSize);
  lastWrite = GetTickCount64();
  queryNext();
}

// The first byte of a 206 answer, from "Content-Range: bytes N-M/T"; -1 without one.
long long AsyncWinHttp::Impl::rangeStart() {
  wchar_t text[128] = {};
  DWORD size = sizeof text;
  unsigned long long start = 0;
  if (!http().queryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX) ||
      std::swscanf(text, L"bytes %llu-", &start) != 1) {
    return -1;
  }
  return static_cast<long long>(start);
}

void AsyncWinHttp::Impl::queryNext() {
  lastApi = L"WinHttpQueryDataAvailable";
  if (!http().queryDataAvailable(request, nullptr)) {
    fail(format(L"%ls: Error %lld encountered.", lastApi.c_str(), GetLastError()));
    cleanup();
  }
  // Nothing after this point: the call may have completed inline and ended the transfer.
}

void AsyncWinHttp::Impl::onDataAvailable(DWORD bytes) {
  if (bytes == 0) {
    endOfBody();
    return;
  }
  // Only what is there: WinHTTP may hold a larger read until it is filled.
  if (buffer.size() - filled < bytes && !flush()) return;
  chunkSize = std::min<DWORD>(bytes, static_cast<DWORD>(buffer.size()) - filled);
  lastApi = L"WinHttpReadData";
  if (!http().readData(request, buffer.data() + filled, chunkSize, nullptr)) {
    fail(format(L"%ls: Error %lld encountered.", lastApi.c_str(), GetLastError()));
    cleanup();
  }
}

void AsyncWinHttp::Impl::onReadComplete(DWORD bytes) {
  // A read of nothing would otherwise leave the transfer waiting forever.
  if (bytes == 0) {
    endOfBody();
    return;
  }
  filled += bytes;
  if (buffer.size() - filled < kMinRead || GetTickCount64() - lastWrite >= kFlushIntervalMs) {
    if (!flush()) return;
  }
  queryNext();
}

void AsyncWinHttp::Impl::endOfBody() {
  if (!flush()) return;
  if (!lengthKnown && expectedSize == 0) total = downloaded;
  cleanup();
}

void AsyncWinHttp::Impl::onRequestError(const WINHTTP_ASYNC_RESULT& result) {
  wchar_t text[600];
  std::swprintf(text, sizeof text / sizeof text[0], L"%ls: REQUEST_ERROR - error %lu, result %ls",
                lastApi.c_str(), static_cast<unsigned long>(result.dwError), asyncCallName(result.dwResult));
  fail(text);
  cleanup();
}

// ---- 5. writing, failures and clean-up ------------------------------------------------

bool AsyncWinHttp::Impl::writeAll(const char* data, DWORD size) {
  while (size > 0) {
    DWORD put = 0;
    // A write that moves nothing would repeat forever (a full disk): it is a failure.
    if (!WriteFile(file, data, size, &put, nullptr) || put == 0) return false;
    data += put;
    size -= put;
  }
  return true;
}

// Writes the collected bytes and reports them; false when the transfer ended on it.
bool AsyncWinHttp::Impl::flush() {
  if (filled == 0) return true;
  if (!writeAll(buffer.data(), filled)) {
    fail(format(L"%ls failed with error %lld", L"WriteFile", GetLastError()));
    cleanup();
    return false;
  }
  downloaded += filled;
  filled = 0;
  lastWrite = GetTickCount64();
  report(kProgress);
  return true;
}

// Every failure reports nothing downloaded, so the receiver never takes a broken
// transfer for a complete file.
void AsyncWinHttp::Impl::fail(std::wstring text) {
  failed = true;
  failureText = std::move(text);
  downloaded = 0;
}

void AsyncWinHttp::Impl::report(int status) {
  if (callback) callback(context, owner, status, downloaded, total);
}

void AsyncWinHttp::Impl::cleanup() {
  if (ended) return;
  ended = true;
  lastApi = L"Closed";
  // Bytes already received belong to the package: keep them so the next attempt
  // continues after them.
  if (filled > 0 && file != INVALID_HANDLE_VALUE) {
    if (writeAll(buffer.data(), filled)) {
      if (!failed) downloaded += filled;
    } else if (!failed) {
      fail(format(L"%ls failed with error %lld", L"WriteFile", GetLastError()));
    }
    filled = 0;
  }
  // The status callback stays installed: its closing notice tells destruction when
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
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  if (callback) {
    report(kEnded);
    callback = nullptr;
  }
}

// ---- 6. public face ---------------------------------------------------------------------

AsyncWinHttp::AsyncWinHttp() : impl_(std::make_unique<Impl>(this)) {}

AsyncWinHttp::~AsyncWinHttp() {
  bool wait = false;
  {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->cleanup();
    wait = impl_->awaitingClose;
  }
  if (wait && WaitForSingleObject(impl_->closedEvent, kCloseWaitMs) != WAIT_OBJECT_0) {
    // WinHTTP still holds the request and may call into the state: leaking it is the
    // lesser harm than freeing it under a running callback.
    impl_.release();
    return;
  }
  if (impl_->session) http().closeHandle(impl_->session);
  if (impl_->closedEvent) CloseHandle(impl_->closedEvent);
}

bool AsyncWinHttp::init(ProgressCallback callback, void* context) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  impl_->callback = callback;
  impl_->context = context;
  if (!impl_->session && http().loaded()) {
    impl_->session = http().open(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  }
  return impl_->session != nullptr;
}

bool AsyncWinHttp::download(const std::wstring& url, const std::wstring& targetPath, std::int64_t expectedSize,
                            const std::string& expectedMd5) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  Impl& d = *impl_;
  if (d.started) return false;
  d.started = true;
  d.targetPath = targetPath;
  d.infoPath = targetPath + L".info";
  d.expectedMd5 = expectedMd5;
  if (!d.session) {
    d.fail(format(L"%ls failed with error %lld", L"WinHttpOpen", ERROR_INVALID_HANDLE));
    d.cleanup();
    return false;
  }
  return d.start(url, expectedSize, expectedMd5);
}

void AsyncWinHttp::cancel() {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  impl_->callback = nullptr;
  impl_->cleanup();
}

const std::wstring& AsyncWinHttp::targetPath() const { return impl_->targetPath; }

const std::wstring& AsyncWinHttp::infoPath() const { return impl_->infoPath; }

bool AsyncWinHttp::failed() const {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  return impl_->failed;
}

std::wstring AsyncWinHttp::failureText() const {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  return impl_->failureText;
}

void AsyncWinHttp::postToWindow(void* context, AsyncWinHttp*, int status, std::int64_t downloaded,
                                std::int64_t total) {
  HWND window = static_cast<HWND>(context);
  if (status == kProgress) {
    const std::int64_t unit = total > 1000000000 ? 1000 : 1;
    PostMessageW(window, kProgressMessage, static_cast<WPARAM>(total / unit), static_cast<LPARAM>(downloaded / unit));
  } else if (status == kEnded) {
    PostMessageW(window, kDoneMessage, static_cast<WPARAM>(downloaded), static_cast<LPARAM>(total));
  }
}
