// The downloader's face. Sections: 1. state  2. the side file and the target  3. the
// requests  4. what the requests and the digest report  5. public face.
// The transfer is a RangeRequest (a few in a row for a large package); the digest a
// DigestFollower that reads back what the requests wrote.
#include "download/AsyncWinHttp.h"

#include <winhttp.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "download/DigestFollower.h"
#include "download/RangeRequest.h"
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

  bool started = false;     // download() was called; one attempt per object
  bool ended = false;       // status 2 was reported (or cancelled)
  bool complete = false;    // and the file is whole
  bool digestReported = false;

  bool prepareFiles();
  bool openTarget();
  bool sendFrom(std::int64_t offset);
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

// ---- 3. the requests ---------------------------------------------------------------------

bool AsyncWinHttp::Impl::sendFrom(std::int64_t offset) {
  RangeRequest::Target target;
  target.file = file;
  target.offset = offset;
  target.expectedSize = expectedSize;
  if (expectedSize > 0 && expectedSize - offset > kLargestAnswer)
    target.length = kPiece;
  pieceEnd = target.length > 0 ? offset + target.length : -1;
  requests.push_back(std::make_unique<RangeRequest>(mutex, *this, buffer));
  return requests.back()->send(session, url, target);
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
  digest.advance(end);
  report(kProgress);
}

void AsyncWinHttp::Impl::onFinished(End how, const std::wstring& text) {
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
  // Outside the lock: the digest's thread may be waiting for it, and so may WinHTTP's.
  impl_->digest.stop();
  if (!impl_->releaseRequests()) {
    // WinHTTP still holds the request and may call into the state: leaking it is the
    // lesser harm than freeing it under a running callback.
    impl_.release();
    return;
  }
  if (impl_->session)
    http().closeHandle(impl_->session);
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
  d.url = url;
  return d.sendFrom(onDisk);
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

std::int64_t AsyncWinHttp::total() const { return impl_->total; }

std::int64_t AsyncWinHttp::hashedBytes() const { return impl_->digest.hashed(); }

bool AsyncWinHttp::digestReady() const { return impl_->digest.ready(); }

std::string AsyncWinHttp::digest() const { return impl_->digest.digest(); }

void AsyncWinHttp::postToWindow(void* context, AsyncWinHttp*, int status, std::int64_t downloaded,
                                std::int64_t total) {
  HWND window = static_cast<HWND>(context);
  if (status == kProgress) {
    const std::int64_t unit = total > 1000000000 ? 1000 : 1;
    PostMessageW(window, kProgressMessage, static_cast<WPARAM>(total / unit), static_cast<LPARAM>(downloaded / unit));
  } else if (status == kEnded) {
    PostMessageW(window, kDoneMessage, static_cast<WPARAM>(downloaded), static_cast<LPARAM>(total));
  } else if (status == kDigestReady) {
    PostMessageW(window, kDigestMessage, 0, 0);
  }
}
