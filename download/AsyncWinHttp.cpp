// The downloader's face. Sections: 1. state  2. the side file and the target  3. the
// requests, their retries and the watchdog  4. what the requests and the digest report
// 5. public face.
// The transfer is a RangeRequest (a few in a row for a large package, and one more after
// each network fault); the digest a DigestFollower that reads back what the requests
// wrote; a RequestPacer says when the next request starts and when a silent one is given
// up, and every request starts on the deadline thread that wakes for it.
#include "download/AsyncWinHttp.h"

#include <winhttp.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "download/DeadlineThread.h"
#include "download/DigestFollower.h"
#include "download/RangeRequest.h"
#include "download/RequestPacer.h"
#include "download/SystemProxy.h"
#include "download/TransferText.h"
#include "download/WinHttpLibrary.h"

namespace {

const WinHttpLibrary& http() { return WinHttpLibrary::get(); }

constexpr wchar_t kUserAgent[] = L"Asynchronous WinHTTP/1.0";
// How long destruction waits for WinHTTP to release the request.
constexpr DWORD kCloseWaitMs = 5000;
// A side file longer than this is none of ours.
constexpr DWORD kSideFileLimit = 4096;
// WinHTTP under Wine ends every body after 2^31 - 1 bytes, whatever its Content-Length
// says. So while more than that is missing, each request asks for a piece of 1 GiB;
// the last one asks for the rest.
constexpr std::int64_t kLargestAnswer = 0x7FFFFFFF;
constexpr std::int64_t kPiece = 1ll << 30;
// No WinHTTP timeout waits longer than the pacer's stall watchdog.
constexpr int kWinHttpTimeoutMs = static_cast<int>(RequestPacer::kStall.count());
using Clock = RequestPacer::Clock;

std::wstring format(const wchar_t* pattern, const wchar_t* api, long long number) {
  wchar_t text[600];
  std::swprintf(text, sizeof text / sizeof text[0], pattern, api, number);
  return text;
}

// The whole side file, or false when there is none to read.
bool readSideFile(const std::wstring& path, std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= kSideFileLimit;
  if (ok) {
    text.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    ok = text.empty() || (ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) &&
                          got == text.size());
  }
  CloseHandle(file);
  return ok;
}

std::int64_t sizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace

// ---- 1. state ----------------------------------------------------------------------

struct AsyncWinHttp::Impl : RangeRequest::Listener {
  explicit Impl(AsyncWinHttp* o) : owner(o) {}

  AsyncWinHttp* const owner;
  // Recursive: WinHTTP may complete a call inline, running the callback on the thread
  // that already holds the lock. The request runs under it too.
  std::recursive_mutex mutex;

  std::wstring targetPath;
  std::wstring infoPath;
  std::string expectedMd5;
  std::int64_t expectedSize = 0;

  HINTERNET session = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring url;
  // Every request of this download, the running one last; each is kept until WinHTTP
  // has let go of it.
  std::vector<std::unique_ptr<RangeRequest>> requests;
  // Their body buffer, one after the other; freed only with the state.
  std::vector<char> buffer;
  std::int64_t pieceEnd = -1;  // where the running request's piece ends; -1: at the end
  bool restarted = false;      // the server ignored a range and sent the whole file
  DigestFollower digest;

  // Read without the lock by whoever asks (the window's thread must never wait for a
  // write in progress).
  std::atomic<std::int64_t> downloaded{0};
  std::atomic<std::int64_t> total{0};
  bool failed = false;
  std::wstring failureText;

  ProgressCallback callback = nullptr;
  void* context = nullptr;

  int connections = kDefaultConnections;
  bool started = false;     // download() was called; one attempt per object
  bool ended = false;       // status 2 was reported (or cancelled)
  bool complete = false;    // and the file is whole
  bool digestReported = false;

  // Recovery. The sessions opened for the routes taken (the first by init); closed
  // once WinHTTP has let go of every request.
  std::vector<HINTERNET> sessions;
  SystemProxy proxy;
  SystemProxy::Route route;
  bool routeKnown = false;
  RequestPacer pacer;
  bool stalled = false;  // the watchdog closed the running request
  // The pacer's quiet, for the window's thread.
  std::atomic<bool> quiet{false};
  // Last: its thread calls into everything above, and is stopped before they go.
  std::unique_ptr<DeadlineThread> deadlines;

  bool prepareFiles();
  bool openTarget();
  void startRequest();
  HINTERNET sessionFor(const SystemProxy::Route& next);
  bool sendFrom(std::int64_t offset);
  bool retryLater(const RangeRequest& request, End how, bool endedShort);
  void setQuiet();
  void armDeadline();
  static void onDeadline(void* context);
  void closeRequest();
  bool releaseRequests();
  void end(bool fileComplete);
  void report(int status);
  void reportDigestOnce();
  static void onDigestReady(void* context);

  // RangeRequest::Listener
  void onAccepted(std::int64_t newTotal) override;
  void onRestarted() override;
  void onWritten(std::int64_t end) override;
  void onFinished(End how, const std::wstring& text) override;
};

// ---- 2. the side file and the target ----------------------------------------------------

std::int64_t AsyncWinHttp::continuableBytes(const std::wstring& targetPath, std::int64_t expectedSize,
                                            const std::string& expectedMd5) {
  std::string text;
  if (!readSideFile(targetPath + L".info", text) || text != sideFileText(expectedSize, expectedMd5))
    return 0;
  const std::int64_t size = sizeOf(targetPath);
  if (size <= 0 || (expectedSize > 0 && size > expectedSize))
    return 0;
  return size;
}

// Keeps a partial target only when the side file names this package; then writes the
// side file for this attempt.
bool AsyncWinHttp::Impl::prepareFiles() {
  const std::string text = sideFileText(expectedSize, expectedMd5);
  std::string old;
  if (!readSideFile(infoPath, old)) {
    DeleteFileW(targetPath.c_str());
  } else if (old != text) {
    DeleteFileW(targetPath.c_str());
    DeleteFileW(infoPath.c_str());
  }
  // Without the side file a partial target could not be continued next time, but this
  // attempt still works: a failure here is not one of the download.
  HANDLE info = CreateFileW(infoPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (info != INVALID_HANDLE_VALUE) {
    DWORD put = 0;
    WriteFile(info, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
    CloseHandle(info);
  }
  return openTarget();
}

// Opens the target for writing (the digest reads it meanwhile) and sets `downloaded` to
// the bytes it holds.
bool AsyncWinHttp::Impl::openTarget() {
  file = CreateFileW(targetPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failed = true;
    failureText = format(L"%ls failed with error %lld", L"CreateFile", GetLastError());
    return false;
  }
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  std::int64_t onDisk = size.QuadPart;
  // A partial file longer than the package cannot be continued: start it over.
  if (expectedSize > 0 && onDisk > expectedSize) {
    LARGE_INTEGER zero{};
    SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    onDisk = 0;
  }
  downloaded = onDisk;
  total = onDisk;
  return true;
}

// ---- 3. the requests, their retries and the watchdog ---------------------------------------

// On the deadline thread, when a request is due: continues the file from the bytes on
// disk, on the route the user's proxy settings give for the URL.
void AsyncWinHttp::Impl::startRequest() {
  if (!requests.empty()) {
    // A request given up mid-body may still have a read of WinHTTP's under way into the
    // body buffer the next one uses: that one waits until WinHTTP has let go. Not under
    // the lock, which the old request's last callbacks take.
    RangeRequest& last = *requests.back();
    mutex.unlock();
    const bool released = last.waitReleased(kCloseWaitMs);
    mutex.lock();
    if (ended)
      return;
    if (!released) {
      failed = true;
      failureText = format(L"%ls failed with error %lld", L"WinHttpCloseHandle", WAIT_TIMEOUT);
      end(false);
      return;
    }
  }
  if (!routeKnown) {
    // Resolving may fetch a script or search the network: not under the lock, so the
    // window's thread never waits for it. Only this thread resolves.
    mutex.unlock();
    const SystemProxy::Route next = proxy.routeFor(url);
    mutex.lock();
    if (ended)
      return;
    route = next;
    routeKnown = true;
  }
  HINTERNET onRoute = sessionFor(route);
  if (!onRoute) {
    failed = true;
    failureText = format(L"%ls failed with error %lld", L"WinHttpOpen", GetLastError());
    end(false);
    return;
  }
  session = onRoute;
  sendFrom(downloaded);
}

// The session whose connections take `next`: the current one when it does, else a new
// one (a route is fixed when a session opens).
HINTERNET AsyncWinHttp::Impl::sessionFor(const SystemProxy::Route& next) {
  if (next.kind == SystemProxy::Kind::kSystem && !sessions.empty())
    return sessions.front();
  HINTERNET opened = SystemProxy::openSession(kUserAgent, WINHTTP_FLAG_ASYNC, next);
  if (opened) {
    http().setTimeouts(opened, kWinHttpTimeoutMs, kWinHttpTimeoutMs, kWinHttpTimeoutMs, kWinHttpTimeoutMs);
    sessions.push_back(opened);
  }
  return opened;
}

bool AsyncWinHttp::Impl::sendFrom(std::int64_t offset) {
  RangeRequest::Target target;
  target.file = file;
  target.offset = offset;
  target.expectedSize = expectedSize;
  if (expectedSize > 0 && expectedSize - offset > kLargestAnswer)
    target.length = kPiece;
  pieceEnd = target.length > 0 ? offset + target.length : -1;
  requests.push_back(std::make_unique<RangeRequest>(mutex, *this, buffer));
  stalled = false;
  pacer.sent(Clock::now());
  armDeadline();
  // The request may end inside send (a refused connection): onFinished has run then.
  return requests.back()->send(session, url, target);
}

// After a failed request: when the fault is transient and the budget lasts, the next
// request is due after the schedule's wait, and true is returned.
bool AsyncWinHttp::Impl::retryLater(const RangeRequest& request, End how, bool endedShort) {
  const bool transient = how == End::Failed ? request.transient() : how == End::Closed ? stalled : endedShort;
  if (!transient || ended)
    return false;
  if (route.kind == SystemProxy::Kind::kProxy && request.unreachable()) {
    // The proxy itself is not there: the next request goes direct.
    proxy.proxyUnreachable();
    routeKnown = false;
  }
  const std::int64_t retryAfter = request.retryAfterMs();
  if (!pacer.failed(Clock::now(), retryAfter >= 0 ? std::optional<std::int64_t>(retryAfter) : std::nullopt))
    return false;
  setQuiet();
  armDeadline();
  return true;
}

void AsyncWinHttp::Impl::setQuiet() {
  if (!quiet.exchange(true))
    report(kReconnecting);
}

void AsyncWinHttp::Impl::armDeadline() {
  if (ended || !deadlines)
    return;
  if (const std::optional<Clock::time_point> when = pacer.deadline())
    deadlines->wakeAt(*when);
  else
    deadlines->cancel();
}

void AsyncWinHttp::Impl::onDeadline(void* context) {
  auto* impl = static_cast<Impl*>(context);
  std::lock_guard<std::recursive_mutex> lock(impl->mutex);
  if (impl->ended)
    return;
  switch (impl->pacer.due(Clock::now())) {
    case RequestPacer::Action::kStart:
      impl->startRequest();
      return;
    case RequestPacer::Action::kStalled:
      impl->stalled = true;
      impl->closeRequest();  // its end schedules the next request
      return;
    case RequestPacer::Action::kBecameQuiet:
      impl->setQuiet();
      break;
    case RequestPacer::Action::kNone:
      break;
  }
  impl->armDeadline();
}

void AsyncWinHttp::Impl::closeRequest() {
  if (!requests.empty())
    requests.back()->close();
}

// Waits for WinHTTP to let go of every request; false when one is still held.
bool AsyncWinHttp::Impl::releaseRequests() {
  for (auto& request : requests)
    if (!request->waitReleased(kCloseWaitMs))
      return false;
  return true;
}

// ---- 4. what the requests and the digest report --------------------------------------------

void AsyncWinHttp::Impl::onAccepted(std::int64_t newTotal) {
  total = newTotal;
  if (newTotal > 0)
    digest.setSize(newTotal);
}

void AsyncWinHttp::Impl::onRestarted() {
  restarted = true;
  downloaded = 0;
  digest.restart();
}

void AsyncWinHttp::Impl::onWritten(std::int64_t end) {
  downloaded = end;
  // New bytes: the retry budget starts afresh, and the silence marks move on.
  pacer.progressed(Clock::now());
  quiet = false;
  digest.advance(end);
  report(kProgress);
}

void AsyncWinHttp::Impl::onFinished(End how, const std::wstring& text) {
  pacer.ended();
  // A body without a told length may also end before the package (or the piece) does.
  const std::int64_t goal = pieceEnd > 0 && !restarted ? pieceEnd : expectedSize;
  const bool endedShort = how == End::Complete && goal > 0 && downloaded < goal;
  if (retryLater(*requests.back(), how, endedShort))
    return;
  if (how == End::Failed) {
    failed = true;
    failureText = text;
  }
  const bool whole = how == End::Complete;
  if (whole && !restarted && pieceEnd > 0 && downloaded == pieceEnd && pieceEnd < expectedSize) {
    // A piece is in: the next one is asked for right away (from WinHTTP's thread).
    sendFrom(pieceEnd);
    return;
  }
  // Without Content-Length and an expected size, the end of the body tells the size.
  if (whole && total <= 0)
    total = downloaded.load();
  end(whole);
}

// Reports status 2 once. Every failure reports nothing downloaded, so the receiver
// never takes a broken transfer for a complete file.
void AsyncWinHttp::Impl::end(bool fileComplete) {
  if (ended)
    return;
  ended = true;
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  if (failed)
    downloaded = 0;
  complete = fileComplete && !failed && downloaded > 0 && downloaded == total;
  if (complete)
    digest.setSize(total);
  report(kEnded);
  if (complete && digest.ready())
    reportDigestOnce();
}

void AsyncWinHttp::Impl::report(int status) {
  if (callback)
    callback(context, owner, status, downloaded, total);
}

void AsyncWinHttp::Impl::reportDigestOnce() {
  if (digestReported)
    return;
  digestReported = true;
  if (callback)
    callback(context, owner, kDigestReady, digest.hashed(), total);
}

// On the digest's thread.
void AsyncWinHttp::Impl::onDigestReady(void* context) {
  auto* impl = static_cast<Impl*>(context);
  std::lock_guard<std::recursive_mutex> lock(impl->mutex);
  // Before the transfer's end the report waits for it: status 3 always follows status 2.
  if (impl->ended && impl->complete)
    impl->reportDigestOnce();
}

// ---- 5. public face ---------------------------------------------------------------------

AsyncWinHttp::AsyncWinHttp() : impl_(std::make_unique<Impl>(this)) {}

AsyncWinHttp::~AsyncWinHttp() {
  {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->closeRequest();
    impl_->end(false);
  }
  // Outside the lock: the digest's thread may be waiting for it, and so may WinHTTP's
  // and the deadline thread.
  impl_->deadlines.reset();
  impl_->digest.stop();
  if (!impl_->releaseRequests()) {
    // WinHTTP still holds the request and may call into the state: leaking it is the
    // lesser harm than freeing it under a running callback.
    impl_.release();
    return;
  }
  for (HINTERNET session : impl_->sessions)
    http().closeHandle(session);
}

bool AsyncWinHttp::init(ProgressCallback callback, void* context) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  impl_->callback = callback;
  impl_->context = context;
  if (!impl_->session && http().loaded())
    impl_->session = impl_->sessionFor(SystemProxy::Route());
  return impl_->session != nullptr;
}

void AsyncWinHttp::setConnections(int count) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  impl_->connections = count < 1 ? 1 : count > kMaxConnections ? kMaxConnections : count;
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
  d.expectedSize = expectedSize > 0 ? expectedSize : 0;
  if (!d.session) {
    d.failed = true;
    d.failureText = format(L"%ls failed with error %lld", L"WinHttpOpen", ERROR_INVALID_HANDLE);
    d.end(false);
    return false;
  }
  if (!d.prepareFiles()) {
    d.end(false);
    return false;
  }
  const std::int64_t onDisk = d.downloaded;
  // What is on disk is hashed at once, off this thread, while the rest is asked for.
  d.digest.start(targetPath, onDisk, d.expectedSize > 0 ? d.expectedSize : -1, &Impl::onDigestReady, &d);
  if (d.expectedSize > 0 && onDisk == d.expectedSize) {
    // Already complete: nothing to fetch. The report carries downloaded == total, and
    // the digest of the whole file follows from the digest's thread.
    d.end(true);
    return false;
  }
  // A malformed address fails at once; everything else is for the requests to find.
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  if (!http().crackUrl(url.c_str(), 0, 0, &parts)) {
    d.failed = true;
    d.failureText = format(L"%ls failed with error %lld", L"WinHttpCrackURL", GetLastError());
    d.end(false);
    return false;
  }
  d.url = url;
  d.pacer.begin(Clock::now());
  d.deadlines = std::make_unique<DeadlineThread>(&Impl::onDeadline, &d);
  d.armDeadline();
  return true;
}

void AsyncWinHttp::cancel() {
  {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->callback = nullptr;
    impl_->closeRequest();
    impl_->end(false);
  }
  impl_->digest.stop();
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

std::int64_t AsyncWinHttp::downloaded() const { return impl_->downloaded; }

bool AsyncWinHttp::reconnecting() const { return impl_->quiet; }

std::int64_t AsyncWinHttp::total() const { return impl_->total; }

std::int64_t AsyncWinHttp::hashedBytes() const { return impl_->digest.hashed(); }

bool AsyncWinHttp::digestReady() const { return impl_->digest.ready(); }

std::string AsyncWinHttp::digest() const { return impl_->digest.digest(); }

void AsyncWinHttp::postToWindow(void* context, AsyncWinHttp*, int status, std::int64_t downloaded,
                                std::int64_t total) {
  HWND window = static_cast<HWND>(context);
  if (status == kProgress || status == kReconnecting) {
    const std::int64_t unit = total > 1000000000 ? 1000 : 1;
    PostMessageW(window, kProgressMessage, static_cast<WPARAM>(total / unit), static_cast<LPARAM>(downloaded / unit));
  } else if (status == kEnded) {
    PostMessageW(window, kDoneMessage, static_cast<WPARAM>(downloaded), static_cast<LPARAM>(total));
  } else if (status == kDigestReady) {
    PostMessageW(window, kDigestMessage, 0, 0);
  }
}
