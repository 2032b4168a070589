// The downloader's I/O shell around the TransferEngine, which takes every decision.
// Sections: 1. state  2. the worker: events in, commands out  3. requests  4. the end
// and the digest  5. public face.
//
// Threads: WinHTTP's callbacks only post events to one queue (they call nothing else);
// one worker thread takes them in order, tells the engine, and carries out its commands:
// WinHTTP calls, file writes, the reports. So the engine and every WinHTTP handle are
// touched by that thread alone, and nothing needs a recursive lock. The file commands that
// wait for the disk (flushes, ".parts" saves, the file's size) go in order to a thread of
// their own, whose answers come back as events: a flush can take a second on a busy disk,
// and the reads go on meanwhile.
#include "download/AsyncWinHttp.h"

#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "app/SupportLog.h"
#include "download/DigestFollower.h"
#include "download/PackageFile.h"
#include "download/RetrySchedule.h"
#include "download/SegmentMap.h"
#include "download/SystemProxy.h"
#include "download/TransferEngine.h"
#include "download/TransferText.h"
#include "download/WinHttpLibrary.h"

namespace {

const WinHttpLibrary& http() { return WinHttpLibrary::get(); }

constexpr wchar_t kUserAgent[] = L"Asynchronous WinHTTP/1.0";
// How long the end waits for WinHTTP to release the requests.
constexpr DWORD kCloseWaitMs = 5000;
// Body bytes are collected and handed to the engine when less than kMinRead is left in
// the buffer or kHandOverMs passed: WinHTTP under Wine reads 8 KiB per call, and a write
// per call would cost more than the line gives.
constexpr std::size_t kBufferSize = 1024 * 1024;
constexpr std::size_t kMinRead = 64 * 1024;
constexpr std::int64_t kHandOverMs = 100;
// WinHTTP under Wine reads on the calling thread, until the read is filled, while it has
// bytes at hand, and on its own threads when it has none. So a read asks for exactly what
// is at hand; the read after it, with nothing at hand, may ask for more: WinHTTP's thread
// gathers it, and a fast body costs a trip to the worker per piece instead of per 8 KiB.
// The piece doubles while it fills within kReadMs and halves when it takes longer, so a
// slow body keeps its reports prompt.
constexpr DWORD kSmallestRead = 8 * 1024;
constexpr DWORD kLargestRead = 256 * 1024;
constexpr std::int64_t kReadMs = 20;
constexpr DWORD kCallbackFlags =
    WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_REDIRECT | WINHTTP_CALLBACK_FLAG_HANDLES;
// No WinHTTP timeout waits longer than the engine's stall watchdog.
constexpr int kWinHttpTimeoutMs = static_cast<int>(TransferEngine::kStallMs);

using Engine = TransferEngine;
using Kind = Engine::Command::Kind;

std::wstring format(const wchar_t* pattern, const wchar_t* api, long long number) {
  wchar_t text[600];
  std::swprintf(text, sizeof text / sizeof text[0], pattern, api, number);
  return text;
}

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text)
    out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

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

} // namespace

// ---- 1. state ----------------------------------------------------------------------

struct AsyncWinHttp::Impl {
  // One GET. Owned here until WinHTTP's closing notice says it calls no more.
  struct Request {
    Impl* owner = nullptr;
    int id = 0;
    HINTERNET connection = nullptr;
    HINTERNET handle = nullptr;
    std::vector<char> buffer;
    std::size_t filled = 0;        // body bytes collected, not yet handed to the engine
    DWORD piece = kSmallestRead;   // what a read with nothing at hand asks for
    DWORD asked = 0;               // that read's size and start; 0: the read took what was at hand
    std::int64_t askedAt = 0;
    std::int64_t handedAt = 0;     // when bytes were last handed over
    bool over = false;             // closed, or its end told to the engine
    bool awaitingRelease = false;  // the closing notice is still to come
    std::wstring lastApi;
    int connectionNumber = 0;      // for the log: the engine's connection, its bytes, its start
    std::int64_t bytes = 0;
    std::int64_t sentAt = 0;
  };
  struct Event {
    enum class Type { kStart, kSent, kHeaders, kAvailable, kRead, kError, kReleased, kFailedToSend, kStop, kDisk };
    explicit Event(Type t, int id = 0) : type(t), request(id) {}
    Type type;
    int request = 0;  // its id: a request may be gone by the time the event is taken
    DWORD number = 0;
    DWORD_PTR result = 0;
    std::string text;  // kDisk: what failed
  };

  explicit Impl(AsyncWinHttp* o) : owner(o) {}

  AsyncWinHttp* const owner;

  // The queue, the one lock WinHTTP's threads take, and only to post.
  std::mutex queueLock;
  std::condition_variable queued;
  std::deque<Event> events;
  std::thread worker;

  // The file commands waiting for the disk thread, in order.
  std::thread disk;
  std::mutex diskLock;
  std::condition_variable diskChanged;
  std::deque<Engine::Command> diskJobs;
  bool diskBusy = false;
  bool diskStopping = false;

  // Everything below belongs to the worker once it runs (before: to download()).
  std::wstring targetPath;
  std::string expectedMd5;
  std::int64_t expectedSize = 0;
  std::wstring url;
  std::vector<std::wstring> mirrors;
  std::vector<std::wstring> urls;  // by source: the announced address, then the mirrors kept
  std::vector<std::string> hosts;  // the same, as the log names them
  int mostConnections = kDefaultConnections;
  PackageFile file;
  std::unique_ptr<Engine> engine;
  std::map<int, std::unique_ptr<Request>> requests;  // by id; kept until released
  Request* handing = nullptr;                         // whose bytes the kWrite commands take
  std::deque<Engine::Command> commands;
  bool applying = false;
  // Keeps one session per route taken (the first by init), reused by every request on
  // it, closed with this state once WinHTTP has let go of every request.
  SystemProxy proxy;
  SystemProxy::Route route;
  bool routeLogged = false;  // the route taken is logged once, and again when it changes
  HINTERNET firstSession = nullptr;
  bool answered = false;  // a server answered: the total is known from then on
  std::int64_t progressLoggedAt = 0;
  std::int64_t progressLoggedBytes = 0;
  std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();
  std::int64_t digestPrefix = 0;
  std::wstring diskText;  // a failed write's own text
  bool stopping = false;
  bool finished = false;     // the worker returned (under queueLock)
  bool workerWaits = false;  // the worker sleeps on `queued` (under queueLock)

  // Read by the public face from any thread.
  std::mutex stateLock;
  ProgressCallback callback = nullptr;
  void* context = nullptr;
  bool started = false;
  std::atomic<bool> ended{false};
  bool complete = false;
  bool failed = false;
  std::wstring failureText;
  bool endReported = false;  // status 2 went out: status 3 may follow
  bool digestReported = false;
  std::atomic<std::int64_t> downloaded{0};
  std::atomic<std::int64_t> total{0};
  std::atomic<bool> quiet{false};
  std::vector<std::int64_t> sourceBytes;  // set at the end
  bool fromMirrors = false;
  DigestFollower digest;

  std::int64_t now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startedAt).count();
  }
  void post(Event event);
  static void CALLBACK statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
  void run();
  void runDisk();
  void settleDisk();
  void stopDisk(bool wait);
  void handle(const Event& event);
  void apply(Engine::Commands next);
  void carryOut(const Engine::Command& command);
  std::string fileFailure(bool ok) const;
  void open(const Engine::Command& command);
  void close(Request& request);
  void sweep();
  void handOver(Request& request);
  void requestEnded(Request& request, Engine::Ended how, const std::wstring& text);
  void logEnd(const Request& request, const std::string& reason);
  void logProgress();
  void afterError(Request& request, DWORD error, const std::wstring& text);
  void onHeaders(Request& request);
  void queryNext(Request& request);
  void stop();
  void end(bool fileComplete, const std::wstring& text);
  void report(int status);
  void reportDigestOnce();
  static void onDigestReady(void* context);
};

// ---- 2. the worker: events in, commands out ------------------------------------------------

void AsyncWinHttp::Impl::post(Event event) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(queueLock);
    events.push_back(event);
    wake = workerWaits;
  }
  // A busy worker takes the event with the others before it waits again: under Wine each
  // wake-up is a trip through the wine server, and a fast body brings thousands a second.
  if (wake)
    queued.notify_all();  // the owner's destructor may wait on it too
}

// On WinHTTP's threads (or inside a WinHTTP call of the worker's): posts, nothing more.
void CALLBACK AsyncWinHttp::Impl::statusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                                 DWORD length) {
  auto* request = reinterpret_cast<Request*>(context);
  if (!request)
    return;
  // The request lives until its closing notice is taken: its id and owner may be read.
  Event event{Event::Type::kSent, request->id};
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE: event.type = Event::Type::kSent; break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: event.type = Event::Type::kHeaders; break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      event.type = Event::Type::kAvailable;
      event.number = *static_cast<DWORD*>(info);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      event.type = Event::Type::kRead;
      event.number = length;
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      event.type = Event::Type::kError;
      event.number = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
      event.result = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwResult;
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: event.type = Event::Type::kReleased; break;
    default: return;
  }
  request->owner->post(event);
}

void AsyncWinHttp::Impl::run() {
  std::unique_lock<std::mutex> lock(queueLock);
  for (;;) {
    if (events.empty()) {
      const std::optional<std::int64_t> wake = engine && !ended ? engine->wakeAt() : std::nullopt;
      if (stopping && requests.empty()) {
        finished = true;
        queued.notify_all();
        return;
      }
      if (wake) {
        const auto at = startedAt + std::chrono::milliseconds(*wake);
        workerWaits = true;
        const bool woken = queued.wait_until(lock, at, [&] { return !events.empty(); });
        workerWaits = false;
        if (!woken) {
          lock.unlock();
          if (!ended)
            apply(engine->tick(now()));
          sweep();
          lock.lock();
        }
      } else {
        workerWaits = true;
        queued.wait(lock, [&] { return !events.empty(); });
        workerWaits = false;
      }
      continue;
    }
    const Event event = events.front();
    events.pop_front();
    lock.unlock();
    handle(event);
    sweep();
    lock.lock();
  }
}

// The disk thread: file commands in order, each answered with a kDisk event.
void AsyncWinHttp::Impl::runDisk() {
  std::unique_lock<std::mutex> lock(diskLock);
  for (;;) {
    diskChanged.wait(lock, [&] { return diskStopping || !diskJobs.empty(); });
    if (diskJobs.empty())
      return;
    const Engine::Command job = diskJobs.front();
    diskJobs.pop_front();
    diskBusy = true;
    lock.unlock();
    bool ok;
    switch (job.kind) {
      case Kind::kFlush: ok = file.flushData(); break;
      case Kind::kSave: ok = file.replaceRecord(job.text); break;
      case Kind::kDropRecord: ok = file.dropParts(); break;
      default: ok = file.extend(job.offset, job.text); break;
    }
    Event done{Event::Type::kDisk};
    done.number = ok;
    done.result = static_cast<DWORD_PTR>(job.kind);
    done.text = fileFailure(ok);
    post(done);
    lock.lock();
    diskBusy = false;
    diskChanged.notify_all();
  }
}

// Until every file command given so far is done: the worker's own use of the side files
// and the file's closing come after them.
void AsyncWinHttp::Impl::settleDisk() {
  std::unique_lock<std::mutex> lock(diskLock);
  diskChanged.wait(lock, [&] { return diskJobs.empty() && !diskBusy; });
}

void AsyncWinHttp::Impl::stopDisk(bool wait) {
  {
    std::lock_guard<std::mutex> lock(diskLock);
    diskStopping = true;
  }
  diskChanged.notify_all();
  if (disk.joinable()) {
    if (wait)
      disk.join();
    else
      disk.detach();
  }
}

void AsyncWinHttp::Impl::handle(const Event& event) {
  if (event.type == Event::Type::kDisk) {
    if (ended)
      return;
    const bool ok = event.number != 0;
    switch (static_cast<Kind>(event.result)) {
      case Kind::kFlush: apply(engine->flushed(ok, event.text, now())); break;
      case Kind::kExtend: apply(engine->extended(ok, now())); break;
      default: apply(engine->saved(ok, event.text, now())); break;
    }
    return;
  }
  if (event.type == Event::Type::kStart) {
    apply(engine->start(now()));
    return;
  }
  if (event.type == Event::Type::kStop) {
    stop();
    return;
  }
  const auto found = requests.find(event.request);
  if (found == requests.end())
    return;
  Request& request = *found->second;
  if (event.type == Event::Type::kReleased) {
    requests.erase(found);
    return;
  }
  if (request.over)
    return;  // closed: what it still reports is no one's
  switch (event.type) {
    case Event::Type::kSent:
      request.lastApi = L"WinHttpReceiveResponse";
      if (!http().receiveResponse(request.handle, nullptr)) {
        const DWORD error = GetLastError();
        afterError(request, error, format(L"%ls: Error %lld encountered.", request.lastApi.c_str(), error));
      }
      break;
    case Event::Type::kHeaders:
      onHeaders(request);
      break;
    case Event::Type::kAvailable: {
      if (event.number == 0) {
        requestEnded(request, Engine::Ended::kBodyEnded, std::wstring());
        break;
      }
      if (request.buffer.size() - request.filled < event.number && request.filled > 0)
        handOver(request);
      if (request.over)
        break;
      // Only what is there: WinHTTP under Wine reads on the calling thread while it has
      // bytes at hand, and holds a larger read there until it is filled.
      const DWORD chunk =
          static_cast<DWORD>(std::min<std::size_t>(event.number, request.buffer.size() - request.filled));
      request.lastApi = L"WinHttpReadData";
      if (!http().readData(request.handle, request.buffer.data() + request.filled, chunk, nullptr)) {
        const DWORD error = GetLastError();
        afterError(request, error, format(L"%ls: Error %lld encountered.", request.lastApi.c_str(), error));
      }
      break;
    }
    case Event::Type::kRead:
      if (event.number == 0) {
        requestEnded(request, Engine::Ended::kBodyEnded, std::wstring());
        break;
      }
      request.filled += event.number;
      if (request.buffer.size() - request.filled < kMinRead || now() - request.handedAt >= kHandOverMs)
        handOver(request);
      if (request.over)
        break;
      if (request.asked == 0) {
        // What was at hand is taken: WinHTTP gathers the next piece on its own thread.
        request.asked = static_cast<DWORD>(std::min<std::size_t>(request.piece, request.buffer.size() - request.filled));
        request.askedAt = now();
        request.lastApi = L"WinHttpReadData";
        if (!http().readData(request.handle, request.buffer.data() + request.filled, request.asked, nullptr)) {
          const DWORD error = GetLastError();
          afterError(request, error, format(L"%ls: Error %lld encountered.", request.lastApi.c_str(), error));
        }
        break;
      }
      {
        const std::int64_t took = now() - request.askedAt;
        if (event.number >= request.asked && took * 2 <= kReadMs)
          request.piece = std::min(kLargestRead, request.piece * 2);
        else if (took > kReadMs)
          request.piece = std::max(kSmallestRead, request.piece / 2);
        request.asked = 0;
      }
      // The piece may have left bytes at hand: they are asked for as they are.
      queryNext(request);
      break;
    case Event::Type::kError: {
      wchar_t text[600];
      std::swprintf(text, sizeof text / sizeof text[0], L"%ls: REQUEST_ERROR - error %lu, result %ls",
                    request.lastApi.c_str(), static_cast<unsigned long>(event.number), asyncCallName(event.result));
      afterError(request, event.number, text);
      break;
    }
    case Event::Type::kFailedToSend:
      afterError(request, event.number, request.lastApi);
      break;
    default:
      break;
  }
}

// Carries out `next` in order; what the engine answers on the way (a flush done, a
// record saved, a failed write) is carried out after the commands before it.
void AsyncWinHttp::Impl::apply(Engine::Commands next) {
  commands.insert(commands.end(), next.begin(), next.end());
  if (applying)
    return;
  applying = true;
  while (!commands.empty()) {
    const Engine::Command command = commands.front();
    commands.pop_front();
    if (!ended)
      carryOut(command);
  }
  applying = false;
}

// What the engine is told of a file command: nothing when it worked, else the call that
// failed and its error, for the disk-error path.
std::string AsyncWinHttp::Impl::fileFailure(bool ok) const {
  return ok ? std::string() : narrow(format(L"%ls failed with error %lld", file.failedCall(), GetLastError()));
}

void AsyncWinHttp::Impl::carryOut(const Engine::Command& command) {
  switch (command.kind) {
    case Kind::kOpen:
      open(command);
      break;
    case Kind::kClose: {
      auto found = requests.find(command.request);
      if (found != requests.end()) {
        if (!found->second->over)
          logEnd(*found->second, "closed");
        close(*found->second);
      }
      break;
    }
    case Kind::kWrite: {
      std::int64_t at = command.offset;
      const char* data = handing->buffer.data() + command.skip;
      std::int64_t left = command.count;
      while (left > 0) {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at & 0xFFFFFFFF);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD put = 0;
        // A write that moves nothing would repeat forever (a full disk): it is a failure.
        if (!WriteFile(file.handle(), data, static_cast<DWORD>(left), &put, &where) || put == 0) {
          diskText = format(L"%ls failed with error %lld", L"WriteFile", GetLastError());
          apply(engine->writeFailed(narrow(diskText), now()));
          return;
        }
        data += put;
        at += put;
        left -= put;
      }
      break;
    }
    case Kind::kFlush:
    case Kind::kSave:  // a record that cannot be kept ends the download as a failed write does
    case Kind::kDropRecord:
    case Kind::kExtend:
      {
        std::lock_guard<std::mutex> lock(diskLock);
        diskJobs.push_back(command);
      }
      diskChanged.notify_all();
      break;
    case Kind::kReport:
      downloaded = engine->downloaded();
      // The total is the server's to tell: until it answers, a partial file must not
      // look complete to whoever reads the two counts.
      total = answered ? engine->total() : 0;
      if (engine->total() > 0)
        digest.setSize(engine->total());
      if (engine->map().prefixEnd() < digestPrefix)
        digest.restart();  // the file on the server changed: its bytes come again
      digestPrefix = engine->map().prefixEnd();
      digest.advance(digestPrefix);
      quiet = command.status == 4;
      if (command.status == kProgress)
        logProgress();
      report(command.status);
      break;
    case Kind::kEnd:
      if (command.end == Engine::End::kComplete) {
        end(true, std::wstring());
      } else {
        std::wstring text = widen(command.text);
        if (text.compare(0, 11, L"HTTP status") == 0)
          text = L"WinHttpQueryHeaders: " + text;
        end(false, command.end == Engine::End::kDisk && !diskText.empty() ? diskText : text);
      }
      break;
  }
}

// ---- 3. requests --------------------------------------------------------------------------

void AsyncWinHttp::Impl::open(const Engine::Command& command) {
  auto owned = std::make_unique<Request>();
  Request& request = *owned;
  request.owner = this;
  request.id = command.request;
  request.buffer.resize(kBufferSize);
  request.handedAt = now();
  request.connectionNumber = command.connection;
  request.sentAt = now();
  requests[request.id] = std::move(owned);
  // Resolving may fetch a script or search the network (only the first time): the
  // window's thread never waits for it, it reads only the counts. The proxy says
  // "direct" as soon as a request found it unreachable.
  const std::wstring& url = urls[command.source];
  const SystemProxy::Route next = proxy.routeFor(url);
  if (!routeLogged || !(next == route)) {
    routeLogged = true;
    SupportLog::noteRoute(next.kind == SystemProxy::Kind::kProxy);
    SupportLog::write("route", next.kind == SystemProxy::Kind::kProxy    ? "through the proxy " + SupportLog::utf8(next.proxy)
                               : next.kind == SystemProxy::Kind::kDirect ? std::string("direct (no proxy, or it cannot be reached)")
                                                                         : std::string("the system's own proxy setting"));
  }
  route = next;
  if (command.count > 0)
    SupportLog::writef("download", "request on connection %d: bytes %lld-%lld from %s", command.connection,
                       static_cast<long long>(command.offset), static_cast<long long>(command.offset + command.count - 1),
                       hosts[command.source].c_str());
  else
    SupportLog::writef("download", "request on connection %d: bytes %lld- from %s", command.connection,
                       static_cast<long long>(command.offset), hosts[command.source].c_str());
  wchar_t host[256] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host / sizeof host[0];
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  DWORD error = 0;
  auto step = [&](bool ok) {
    if (!ok)
      error = GetLastError();
    return ok;
  };
  HINTERNET session = proxy.sessionFor(route, kUserAgent, WINHTTP_FLAG_ASYNC, kWinHttpTimeoutMs);
  request.lastApi = L"WinHttpOpen";
  bool ok = step(session != nullptr);
  if (ok) {
    request.lastApi = L"WinHttpCrackURL";
    ok = step(http().crackUrl(url.c_str(), 0, 0, &parts) != FALSE);
  }
  if (ok) {
    request.lastApi = L"WinHttpConnect";
    request.connection = http().connect(session, host, parts.nPort, 0);
    ok = step(request.connection != nullptr);
  }
  if (ok) {
    request.lastApi = L"WinHttpOpenRequest";
    // The path runs from after the host and port to the end: the query is part of it.
    std::wstring path = parts.lpszUrlPath ? parts.lpszUrlPath : L"";
    if (path.empty())
      path = L"/";
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    request.handle = http().openRequest(request.connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    ok = step(request.handle != nullptr);
  }
  if (ok) {
    // The context rides on the handle itself, so even the closing notice of a request
    // that never got sent finds its object.
    DWORD_PTR self = reinterpret_cast<DWORD_PTR>(&request);
    http().setOption(request.handle, WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof self);
  }
  if (ok && !command.headers.empty()) {
    request.lastApi = L"WinHttpAddRequestHeaders";
    const std::wstring headers = widen(command.headers);
    ok = step(http().addRequestHeaders(request.handle, headers.c_str(), static_cast<DWORD>(-1L),
                                       WINHTTP_ADDREQ_FLAG_ADD) != FALSE);
  }
  if (ok) {
    request.lastApi = L"WinHttpSetStatusCallback";
    ok = step(http().setStatusCallback(request.handle, statusCallback, kCallbackFlags, 0) !=
              WINHTTP_INVALID_STATUS_CALLBACK);
    request.awaitingRelease = ok;
  }
  if (ok) {
    request.lastApi = L"WinHttpSendRequest";
    ok = step(http().sendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                 reinterpret_cast<DWORD_PTR>(&request)) != FALSE);
  }
  if (!ok) {
    // Told to the engine as an event, after the commands it gave with this one.
    request.lastApi = format(L"%ls failed with error %lld", request.lastApi.c_str(), error);
    Event event{Event::Type::kFailedToSend, request.id};
    event.number = error;
    post(event);
  }
}

void AsyncWinHttp::Impl::close(Request& request) {
  request.over = true;
  HINTERNET closing = request.handle;
  request.handle = nullptr;
  if (closing)
    http().closeHandle(closing);
  if (request.connection) {
    http().closeHandle(request.connection);
    request.connection = nullptr;
  }
}

// Frees the requests that are over and that WinHTTP never had (nothing will announce
// their release); the others go with their closing notice.
void AsyncWinHttp::Impl::sweep() {
  for (auto it = requests.begin(); it != requests.end();)
    it = it->second->over && !it->second->awaitingRelease ? requests.erase(it) : std::next(it);
}

// The collected body bytes go to the engine, which says where they are written.
void AsyncWinHttp::Impl::handOver(Request& request) {
  if (request.filled == 0)
    return;
  const std::int64_t length = static_cast<std::int64_t>(request.filled);
  request.filled = 0;
  request.handedAt = now();
  handing = &request;
  request.bytes += length;
  apply(engine->data(request.id, length, now()));
}

void AsyncWinHttp::Impl::requestEnded(Request& request, Engine::Ended how, const std::wstring& text) {
  // Bytes already received belong to the package: they are written first.
  handOver(request);
  if (request.over)
    return;
  const int id = request.id;
  logEnd(request, how == Engine::Ended::kBodyEnded ? std::string("complete") : SupportLog::utf8(text));
  close(request);
  apply(engine->ended(id, how, narrow(text), now()));
}

void AsyncWinHttp::Impl::logEnd(const Request& request, const std::string& reason) {
  SupportLog::writef("download", "request on connection %d ended after %lld ms with %lld bytes: %s",
                     request.connectionNumber, static_cast<long long>(now() - request.sentAt),
                     static_cast<long long>(request.bytes), reason.c_str());
}

// At most every 10 s while bytes arrive.
void AsyncWinHttp::Impl::logProgress() {
  const std::int64_t at = now();
  if (at - progressLoggedAt < 10000)
    return;
  const double seconds = static_cast<double>(at - progressLoggedAt) / 1000;
  const std::int64_t onDisk = engine->downloaded();
  const std::int64_t size = engine->total();
  const double rate = static_cast<double>(onDisk - progressLoggedBytes) / seconds;
  SupportLog::writef("download", "progress %lld of %lld bytes, %.0f KB/s, %.0f s left", static_cast<long long>(onDisk),
                     static_cast<long long>(size), rate / 1024,
                     rate > 0 && size > 0 ? static_cast<double>(size - onDisk) / rate : -1.0);
  progressLoggedAt = at;
  progressLoggedBytes = onDisk;
}

void AsyncWinHttp::Impl::afterError(Request& request, DWORD error, const std::wstring& text) {
  const bool unreachable = unreachableError(error);
  if (unreachable && route.kind == SystemProxy::Kind::kProxy) {
    // The proxy itself is not there: the next request goes direct.
    proxy.proxyUnreachable();
  }
  requestEnded(request,
               unreachable ? Engine::Ended::kUnreachable
               : transientError(error) ? Engine::Ended::kTransient
                                       : Engine::Ended::kFinal,
               text);
}

void AsyncWinHttp::Impl::onHeaders(Request& request) {
  request.lastApi = L"WinHttpQueryHeaders";
  auto header = [&](DWORD query, std::string& value) {
    wchar_t text[256] = {};
    DWORD size = sizeof text;
    if (!http().queryHeaders(request.handle, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
      return false;
    value = narrow(text);
    return true;
  };
  Engine::Answer answer;
  DWORD code = 0;
  DWORD size = sizeof code;
  http().queryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
  answer.status = static_cast<int>(code);
  // As text: a package of 4 GiB or more does not fit the header's number form.
  std::string text;
  if (!header(WINHTTP_QUERY_CONTENT_LENGTH, text) || !parseByteCount(text, answer.contentLength))
    answer.contentLength = -1;
  header(WINHTTP_QUERY_CONTENT_RANGE, answer.contentRange);
  header(WINHTTP_QUERY_ETAG, answer.etag);
  header(WINHTTP_QUERY_LAST_MODIFIED, answer.lastModified);
  answer.acceptRanges = header(WINHTTP_QUERY_ACCEPT_RANGES, text) && text.find("bytes") != std::string::npos;
  if (header(WINHTTP_QUERY_RETRY_AFTER, text)) {
    if (const auto wait = RetrySchedule::retryAfterMs(text, static_cast<std::int64_t>(std::time(nullptr))))
      answer.retryAfterMs = *wait;
  }
  SupportLog::writef("download", "answer on connection %d: HTTP %d, Content-Length %lld, Content-Range %s, ETag %s",
                     request.connectionNumber, answer.status, static_cast<long long>(answer.contentLength),
                     answer.contentRange.empty() ? "none" : answer.contentRange.c_str(),
                     answer.etag.empty() ? "none" : answer.etag.c_str());
  answered = true;
  const int id = request.id;

  apply(engine->answered(id, answer, now()));
  auto still = requests.find(id);
  if (still != requests.end() && !still->second->over)
    queryNext(*still->second);
}

void AsyncWinHttp::Impl::queryNext(Request& request) {
  request.lastApi = L"WinHttpQueryDataAvailable";
  if (!http().queryDataAvailable(request.handle, nullptr)) {
    const DWORD error = GetLastError();
    afterError(request, error, format(L"%ls: Error %lld encountered.", request.lastApi.c_str(), error));
  }
}

// ---- 4. the end and the digest --------------------------------------------------------------

// The owner goes: a running transfer ends, keeping what it has (flushed first, so that
// ".parts" claims nothing a power cut could take), with its status-2 report.
void AsyncWinHttp::Impl::stop() {
  stopping = true;
  settleDisk();
  if (!ended && engine) {
    if (engine->total() > 0 && file.flushData())
      file.replaceRecord(engine->recordText(engine->map()));
    end(false, std::wstring());
  }
  for (auto& entry : requests)
    if (!entry.second->over)
      close(*entry.second);
  sweep();
}

// Reports status 2 once. Every failure reports nothing downloaded, so the receiver never
// takes a broken transfer for a complete file.
void AsyncWinHttp::Impl::end(bool fileComplete, const std::wstring& text) {
  if (ended)
    return;
  for (auto& entry : requests)
    if (!entry.second->over)
      close(*entry.second);
  settleDisk();
  {
    std::lock_guard<std::mutex> lock(stateLock);
    ended = true;
    complete = fileComplete;
    failed = !fileComplete && !text.empty();
    failureText = failed ? text : std::wstring();
  }
  file.close();
  if (engine) {
    const std::vector<std::int64_t> bytes = engine->sources().bytes();
    std::string each;
    for (std::size_t i = 0; i < bytes.size() && i < hosts.size(); ++i)
      each += (i ? ", " : "") + hosts[i] + " " + std::to_string(bytes[i]);
    if (bytes.size() > 1)
      SupportLog::write("download", "bytes by source: " + each);
    std::lock_guard<std::mutex> lock(stateLock);
    sourceBytes = bytes;
    fromMirrors = engine->sources().fromMirrors();
  }
  SupportLog::writef("download", "transfer ended: %s, %lld of %lld bytes on disk%s%s", complete ? "complete" : "incomplete",
                     static_cast<long long>(engine ? engine->downloaded() : 0),
                     static_cast<long long>(engine ? engine->total() : 0), failed ? ", " : "",
                     SupportLog::utf8(failureText).c_str());
  downloaded = failed || !engine ? 0 : engine->downloaded();
  if (complete && engine) {
    total = engine->total();
    digest.setSize(total);
    digest.advance(total);
  }
  report(kEnded);
  {
    std::lock_guard<std::mutex> lock(stateLock);
    endReported = true;
  }
  if (complete && (digest.ready() || digest.failed()))
    reportDigestOnce();
}

void AsyncWinHttp::Impl::report(int status) {
  ProgressCallback target;
  void* where;
  {
    std::lock_guard<std::mutex> lock(stateLock);
    target = callback;
    where = context;
  }
  if (target)
    target(where, owner, status, downloaded, total);
}

void AsyncWinHttp::Impl::reportDigestOnce() {
  ProgressCallback target;
  void* where;
  {
    std::lock_guard<std::mutex> lock(stateLock);
    if (digestReported)
      return;
    digestReported = true;
    target = callback;
    where = context;
  }
  if (target)
    target(where, owner, kDigestReady, digest.hashed(), total);
}

// On the digest's thread. Before the transfer's end the report waits for it: status 3
// always follows status 2.
void AsyncWinHttp::Impl::onDigestReady(void* context) {
  auto* impl = static_cast<Impl*>(context);
  bool now;
  {
    std::lock_guard<std::mutex> lock(impl->stateLock);
    now = impl->endReported && impl->complete;
  }
  if (now)
    impl->reportDigestOnce();
}

// ---- 5. public face ---------------------------------------------------------------------

AsyncWinHttp::AsyncWinHttp() : impl_(std::make_unique<Impl>(this)) {}

AsyncWinHttp::~AsyncWinHttp() {
  Impl& d = *impl_;
  if (d.worker.joinable()) {
    d.post(Impl::Event{Impl::Event::Type::kStop});
    // The worker ends once WinHTTP released every request; a request it never lets go
    // of would call into freed state, so past the bound the state is left allocated.
    bool released;
    {
      std::unique_lock<std::mutex> lock(d.queueLock);
      released = d.queued.wait_for(lock, std::chrono::milliseconds(kCloseWaitMs), [&] { return d.finished; });
    }
    if (!released) {
      d.worker.detach();
      d.stopDisk(false);
      impl_.release();
      return;
    }
    d.worker.join();
  } else {
    d.end(false, std::wstring());
  }
  d.stopDisk(true);
  d.digest.stop();
}

bool AsyncWinHttp::init(ProgressCallback callback, void* context) {
  Impl& d = *impl_;
  {
    std::lock_guard<std::mutex> lock(d.stateLock);
    d.callback = callback;
    d.context = context;
  }
  if (!d.firstSession && http().loaded())
    d.firstSession = d.proxy.sessionFor(SystemProxy::Route(), kUserAgent, WINHTTP_FLAG_ASYNC, kWinHttpTimeoutMs);
  return d.firstSession != nullptr;
}

void AsyncWinHttp::setConnections(int count) { impl_->mostConnections = std::clamp(count, 1, kMaxConnections); }

void AsyncWinHttp::setMirrors(const std::vector<std::wstring>& urls) { impl_->mirrors = urls; }

std::vector<std::int64_t> AsyncWinHttp::sourceBytes() const {
  std::lock_guard<std::mutex> lock(impl_->stateLock);
  return impl_->sourceBytes;
}

bool AsyncWinHttp::fromMirrors() const {
  std::lock_guard<std::mutex> lock(impl_->stateLock);
  return impl_->fromMirrors;
}

bool AsyncWinHttp::download(const std::wstring& url, const std::wstring& targetPath, std::int64_t expectedSize,
                            const std::string& expectedMd5) {
  Impl& d = *impl_;
  if (d.started)
    return false;
  d.started = true;
  d.targetPath = targetPath;
  d.expectedMd5 = expectedMd5;
  d.expectedSize = expectedSize > 0 ? expectedSize : 0;
  if (!d.firstSession) {
    d.end(false, format(L"%ls failed with error %lld", L"WinHttpOpen", ERROR_INVALID_HANDLE));
    return false;
  }
  SegmentMap map;
  if (!d.file.open(targetPath, d.expectedSize, expectedMd5, map)) {
    d.end(false, format(L"%ls failed with error %lld", d.file.failedCall(), GetLastError()));
    return false;
  }
  d.downloaded = map.onDisk();
  d.total = 0;
  // What is on disk is hashed at once, off this thread, while the rest is asked for.
  d.digestPrefix = map.prefixEnd();
  d.digest.start(targetPath, d.digestPrefix, d.expectedSize > 0 ? d.expectedSize : -1, &Impl::onDigestReady, &d);
  Engine::Settings settings;
  settings.size = d.expectedSize;
  settings.md5 = expectedMd5;
  settings.connections = d.mostConnections;
  settings.onDisk = map;
  settings.validator = d.file.validator();
  settings.seed = GetTickCount64() ^ GetCurrentProcessId();
  settings.note = [](const Engine::Note& note) {
    SupportLog::write("download", note.text);
    if (note.kind == Engine::Note::Kind::kRetry)
      SupportLog::countRetry();
    else if (note.kind == Engine::Note::Kind::kAdded)
      SupportLog::countConnections(note.active);
  };
  // Each address by its host and port, which is also the unit of politeness; a mirror
  // address that does not parse is left out.
  auto hostOf = [](const std::wstring& address, std::string& host) {
    wchar_t name[256] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = name;
    parts.dwHostNameLength = sizeof name / sizeof name[0];
    if (!http().crackUrl(address.c_str(), 0, 0, &parts))
      return false;
    host = narrow(name) + ":" + std::to_string(parts.nPort);
    return true;
  };
  d.urls.assign(1, url);
  d.hosts.assign(1, std::string());
  hostOf(url, d.hosts[0]);
  for (const std::wstring& mirror : d.expectedSize > 0 ? d.mirrors : std::vector<std::wstring>()) {
    std::string host;
    if (hostOf(mirror, host)) {
      d.urls.push_back(mirror);
      d.hosts.push_back(host);
    } else {
      SupportLog::write("download", "mirror address left out, it does not parse: " + SupportLog::utf8(mirror));
    }
  }
  if (d.urls.size() > 1)
    settings.sources = d.hosts;
  d.engine = std::make_unique<Engine>(settings);
  if (map.complete()) {
    // Already complete: nothing to fetch. The report carries downloaded == total, and the
    // digest of the whole file follows from the digest's thread.
    d.end(true, std::wstring());
    return false;
  }
  // A malformed address fails at once; everything else is for the requests to find.
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  if (!http().crackUrl(url.c_str(), 0, 0, &parts)) {
    d.end(false, format(L"%ls failed with error %lld", L"WinHttpCrackURL", GetLastError()));
    return false;
  }
  d.url = url;
  d.startedAt = std::chrono::steady_clock::now();
  SupportLog::countConnections(1);
  d.post(Impl::Event{Impl::Event::Type::kStart});
  d.worker = std::thread([&d] { d.run(); });
  d.disk = std::thread([&d] { d.runDisk(); });
  return true;
}

void AsyncWinHttp::cancel() {
  {
    std::lock_guard<std::mutex> lock(impl_->stateLock);
    impl_->callback = nullptr;
  }
  if (impl_->worker.joinable())
    impl_->post(Impl::Event{Impl::Event::Type::kStop});
  impl_->digest.stop();
}

const std::wstring& AsyncWinHttp::targetPath() const { return impl_->targetPath; }

const std::wstring& AsyncWinHttp::infoPath() const { return impl_->file.infoPath(); }

bool AsyncWinHttp::failed() const {
  std::lock_guard<std::mutex> lock(impl_->stateLock);
  return impl_->failed;
}

std::wstring AsyncWinHttp::failureText() const {
  std::lock_guard<std::mutex> lock(impl_->stateLock);
  return impl_->failureText;
}

std::int64_t AsyncWinHttp::downloaded() const { return impl_->downloaded; }

bool AsyncWinHttp::reconnecting() const { return impl_->quiet; }

std::int64_t AsyncWinHttp::total() const { return impl_->total; }

std::int64_t AsyncWinHttp::hashedBytes() const { return impl_->digest.hashed(); }

bool AsyncWinHttp::digestReady() const { return impl_->digest.ready(); }

bool AsyncWinHttp::digestFailed() const { return impl_->digest.failed(); }

std::string AsyncWinHttp::digest() const { return impl_->digest.digest(); }

std::int64_t AsyncWinHttp::continuableBytes(const std::wstring& targetPath, std::int64_t expectedSize,
                                            const std::string& expectedMd5) {
  return PackageFile::heldBytes(targetPath, expectedSize, expectedMd5);
}

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
