// The downloader's face. Sections: 1. state  2. connections and their work  3. requests,
// retries and the watchdog  4. what the requests and the digest report  5. public face.
// The transfer is a RangeRequest per range asked for (a few in a row for a large
// package, one more after each network fault), on one connection, or on several at once
// when the package is large and the server honours ranges; a ConnectionRamp says how
// many, a SegmentMap which bytes are on disk, the PackageFile keeps both side files. The
// digest is a DigestFollower that reads back the file's prefix as it grows. Each
// connection's RequestPacer says when its next request starts and when a silent one is
// given up, and every start waits on the deadline thread.
#include "download/AsyncWinHttp.h"

#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "app/SupportLog.h"
#include "download/ConnectionRamp.h"
#include "download/DeadlineThread.h"
#include "download/DigestFollower.h"
#include "download/PackageFile.h"
#include "download/RangeRequest.h"
#include "download/RequestPacer.h"
#include "download/SegmentMap.h"
#include "download/SystemProxy.h"
#include "download/WinHttpLibrary.h"

namespace {

const WinHttpLibrary& http() { return WinHttpLibrary::get(); }

constexpr wchar_t kUserAgent[] = L"Asynchronous WinHTTP/1.0";
// How long destruction waits for WinHTTP to release the request.
constexpr DWORD kCloseWaitMs = 5000;
// WinHTTP under Wine ends every body after 2^31 - 1 bytes, whatever its Content-Length
// says. So while more than that is missing, each request asks for a piece of 1 GiB;
// the last one asks for the rest.
constexpr std::int64_t kLargestAnswer = 0x7FFFFFFF;
constexpr std::int64_t kPiece = 1ll << 30;
// Several connections only pay on a package this large.
constexpr std::int64_t kSeveralFrom = 32ll << 20;
// With several connections each asks for a segment at a time, in order, so the file's
// prefix (which the digest follows) stays close behind the newest bytes; the last
// segments are split between connections that have nothing left.
constexpr std::int64_t kSmallestSegment = 4ll << 20;
constexpr std::int64_t kLargestSegment = 16ll << 20;
constexpr std::int64_t kSmallestSplit = 512ll << 10;
// No WinHTTP timeout waits longer than the pacer's stall watchdog.
constexpr int kWinHttpTimeoutMs = static_cast<int>(RequestPacer::kStall.count());
using Clock = RequestPacer::Clock;
using Range = SegmentMap::Range;

std::wstring format(const wchar_t* pattern, const wchar_t* api, long long number) {
  wchar_t text[600];
  std::swprintf(text, sizeof text / sizeof text[0], pattern, api, number);
  return text;
}

} // namespace

// ---- 1. state ----------------------------------------------------------------------

struct AsyncWinHttp::Impl {
  using End = RangeRequest::Listener::End;
  // One connection: the range it fetches now, its requests one after the other, and
  // when the next starts.
  struct Connection : RangeRequest::Listener {
    Connection(Impl& o, bool first) : owner(o), added(!first) {}
    Impl& owner;
    const bool added;  // opened beside the first
    // Its body buffer, used by one request at a time; freed with the state.
    std::vector<char> buffer;
    RangeRequest* request = nullptr;  // the running request, owned by Impl::requests
    Range claim{};                    // the bytes it fetches now
    std::int64_t written = 0;         // its request has written up to here
    bool active = false;              // it has a claim (a request runs or is due)
    bool gotByte = false;             // the running request received a byte
    bool stalled = false;             // the watchdog closed the running request
    RequestPacer pacer;
    std::int64_t sentFrom = 0;  // for the log: where its request began, and when
    Clock::time_point sentAt;

    // Where the bytes it has not received yet begin.
    std::int64_t receivedTo() const { return request ? request->received() : written; }

    void onAccepted(std::int64_t total, bool ranges) override { owner.onAccepted(*this, total, ranges); }
    void onRestarted() override { owner.onRestarted(*this); }
    void onReceived(std::int64_t bytes) override { owner.onReceived(*this, bytes); }
    void onWritten(std::int64_t end) override { owner.onWritten(*this, end); }
    void onFinished(End how, const std::wstring& text) override { owner.onFinished(*this, how, text); }
  };

  explicit Impl(AsyncWinHttp* o) : owner(o) {}

  AsyncWinHttp* const owner;
  // Recursive: WinHTTP may complete a call inline, running the callback on the thread
  // that already holds the lock. The requests run under it too.
  std::recursive_mutex mutex;

  std::wstring targetPath;
  std::string expectedMd5;
  std::int64_t expectedSize = 0;

  HINTERNET session = nullptr;
  PackageFile file;
  SegmentMap map;
  std::wstring url;
  // The requests of this download; each is kept until WinHTTP has let go of it.
  std::vector<std::unique_ptr<RangeRequest>> requests;
  std::vector<std::unique_ptr<Connection>> connections;
  int mostConnections = kDefaultConnections;
  bool several = false;  // ranges go over several connections, written in place
  ConnectionRamp ramp;
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

  // Recovery. The proxy also keeps one session per route taken (the first by init),
  // closed with the state once WinHTTP has let go of every request.
  SystemProxy proxy;
  SystemProxy::Route route;
  bool routeLogged = false;  // the route taken is logged once, and again when it changes
  // Every active connection is quiet, for the window's thread.
  std::atomic<bool> quiet{false};
  Clock::time_point progressLogged = Clock::now();
  std::int64_t progressLoggedBytes = 0;
  // Last: its thread calls into everything above, and is stopped before they go.
  std::unique_ptr<DeadlineThread> deadlines;

  bool sizeKnown() const { return map.size() != SegmentMap::kUnknownSize; }
  int number(const Connection& c) const {
    for (std::size_t i = 0; i < connections.size(); ++i)
      if (connections[i].get() == &c) return static_cast<int>(i) + 1;
    return 0;
  }
  int activeConnections() const;
  std::vector<Range> busy(const Connection* except) const;
  std::int64_t segmentLength() const;
  std::optional<Range> nextClaim(const Connection& c);
  std::optional<Range> split();
  bool claimNext(Connection& c);
  void startSeveral();
  void rampStep();
  void addConnection();
  void drop(Connection& c);
  bool takeNextClaim(Connection& c);

  void startRequest(Connection& c);
  void send(Connection& c);
  bool retryLater(Connection& c, End how, bool endedShort);
  void setQuietIfAll();
  void armDeadline();
  static void onDeadline(void* context);
  void closeRequests();
  bool releaseRequests();
  void end(bool fileComplete);
  void report(int status);
  void reportDigestOnce();
  static void onDigestReady(void* context);

  void onAccepted(Connection& c, std::int64_t newTotal, bool ranges);
  void onRestarted(Connection& c);
  void onReceived(Connection& c, std::int64_t bytes);
  void onWritten(Connection& c, std::int64_t end);
  void onFinished(Connection& c, End how, const std::wstring& text);
};

// ---- 2. connections and their work ------------------------------------------------------

int AsyncWinHttp::Impl::activeConnections() const {
  return static_cast<int>(std::count_if(connections.begin(), connections.end(),
                                        [](const std::unique_ptr<Connection>& c) { return c->active; }));
}

// The bytes active connections still fetch (or will after a wait).
std::vector<Range> AsyncWinHttp::Impl::busy(const Connection* except) const {
  std::vector<Range> ranges;
  for (const auto& c : connections)
    if (c->active && c.get() != except && c->written < c->claim.end)
      ranges.push_back(Range{c->written, c->claim.end});
  return ranges;
}

// Shorter as less is missing: at the end the digest has to catch up with whatever the
// other connections wrote past the prefix, and that is a few segments.
std::int64_t AsyncWinHttp::Impl::segmentLength() const {
  return std::clamp((map.size() - map.onDisk()) / (4ll * mostConnections), kSmallestSegment, kLargestSegment);
}

// The next bytes for `c`: a segment while several connections run; else all that is
// missing from the first gap on (a piece at a time where WinHTTP needs it).
std::optional<Range> AsyncWinHttp::Impl::nextClaim(const Connection& c) {
  if (several && ramp.wanted() > 1) {
    if (auto claim = map.nextClaim(busy(&c), segmentLength()))
      return claim;
    return split();
  }
  const std::vector<Range> others = busy(&c);
  const std::optional<Range> gap = map.nextClaim(others, SegmentMap::kUnknownSize);
  if (gap && sizeKnown() && gap->end - gap->first > kLargestAnswer)
    return Range{gap->first, gap->first + kPiece};
  return gap;
}

// When nothing is left to claim: the back half of the largest range a running request
// still fetches, which that request gives up.
std::optional<Range> AsyncWinHttp::Impl::split() {
  Connection* largest = nullptr;
  std::int64_t most = 2 * kSmallestSplit;
  for (const auto& c : connections) {
    if (c->active && c->request && c->claim.end - c->receivedTo() >= most) {
      largest = c.get();
      most = c->claim.end - c->receivedTo();
    }
  }
  if (!largest)
    return std::nullopt;
  const std::int64_t end = largest->claim.end;
  largest->claim.end = largest->request->shortenTo(largest->receivedTo() + most / 2);
  if (largest->claim.end >= end)
    return std::nullopt;
  return Range{largest->claim.end, end};
}

// The first answer showed that the server honours ranges: the file takes its full size
// and more connections may follow.
void AsyncWinHttp::Impl::startSeveral() {
  if (!file.extend(map))
    return;  // a full disk shows itself on the one connection, as before
  several = true;
  ramp = ConnectionRamp(mostConnections);
  ramp.begin(Clock::now());
}

void AsyncWinHttp::Impl::rampStep() {
  switch (ramp.due(Clock::now())) {
    case ConnectionRamp::Action::kAdd:
      addConnection();
      break;
    case ConnectionRamp::Action::kDropNewest:
      // Near the end the newest may be the one connection still fetching: it stays, and
      // goes when its range is done (more are running than wanted by then).
      if (activeConnections() < 2)
        break;
      for (auto c = connections.rbegin(); c != connections.rend(); ++c) {
        if ((*c)->active) {
          drop(**c);
          break;
        }
      }
      break;
    case ConnectionRamp::Action::kNone:
      break;
  }
}

void AsyncWinHttp::Impl::addConnection() {
  // A connection fetching all the rest makes room: it stops a segment further on.
  for (const auto& c : connections)
    if (c->active && c->request && c->claim.end - c->receivedTo() > segmentLength())
      c->claim.end = c->request->shortenTo(c->receivedTo() + segmentLength());
  connections.push_back(std::make_unique<Connection>(*this, false));
  Connection& added = *connections.back();
  if (!claimNext(added)) {
    connections.pop_back();
    return;
  }
  added.active = true;
  SupportLog::writef("download", "connection %d added: the ramp opens one more (%d active)", number(added), activeConnections());
  SupportLog::countConnections(activeConnections());
  send(added);
}

// Ends `c` for the rest of the download; the bytes it did not fetch go to the others.
void AsyncWinHttp::Impl::drop(Connection& c) {
  SupportLog::writef("download", "connection %d dropped: the newest connection did not raise the rate", number(c));
  c.active = false;
  c.pacer.ended();
  if (c.request)
    c.request->close();
}

// Gives `c` the next range for it; false when there is none.
bool AsyncWinHttp::Impl::claimNext(Connection& c) {
  const std::optional<Range> claim = nextClaim(c);
  if (!claim)
    return false;
  c.claim = *claim;
  c.written = claim->first;
  return true;
}

// After `c`'s request ended complete: its next range, if one is left for it. False when
// it has nothing more to do.
bool AsyncWinHttp::Impl::takeNextClaim(Connection& c) {
  return !(several && activeConnections() > ramp.wanted()) && claimNext(c);
}

// ---- 3. requests, retries and the watchdog -----------------------------------------------

// On the deadline thread, when a request is due: continues the file from the bytes on
// disk, on the route the user's proxy settings give for the URL.
void AsyncWinHttp::Impl::startRequest(Connection& c) {
  if (c.request) {
    // A request given up mid-body may still have a read of WinHTTP's under way into the
    // body buffer the next one uses: that one waits until WinHTTP has let go. Not under
    // the lock, which the old request's last callbacks take.
    RangeRequest& last = *c.request;
    mutex.unlock();
    const bool released = last.waitReleased(kCloseWaitMs);
    mutex.lock();
    if (ended || !c.active)
      return;
    if (!released) {
      failed = true;
      failureText = format(L"%ls failed with error %lld", L"WinHttpCloseHandle", WAIT_TIMEOUT);
      end(false);
      return;
    }
    c.request = nullptr;
  }
  // Resolving may fetch a script or search the network (only the first time): not under
  // the lock, so the window's thread never waits for it. The proxy says "direct" as soon
  // as a request found it unreachable, also while this resolved.
  mutex.unlock();
  const SystemProxy::Route next = proxy.routeFor(url);
  mutex.lock();
  if (ended || !c.active)
    return;
  if (!routeLogged || !(next == route)) {
    routeLogged = true;
    SupportLog::noteRoute(next.kind == SystemProxy::Kind::kProxy);
    SupportLog::write("route", next.kind == SystemProxy::Kind::kProxy    ? "through the proxy " + SupportLog::utf8(next.proxy)
                               : next.kind == SystemProxy::Kind::kDirect ? std::string("direct (no proxy, or it cannot be reached)")
                                                                         : std::string("the system's own proxy setting"));
  }
  route = next;
  HINTERNET onRoute = proxy.sessionFor(route, kUserAgent, WINHTTP_FLAG_ASYNC, kWinHttpTimeoutMs);
  if (!onRoute) {
    failed = true;
    failureText = format(L"%ls failed with error %lld", L"WinHttpOpen", GetLastError());
    end(false);
    return;
  }
  session = onRoute;
  // What is missing may have changed while it waited (another connection took its place).
  if (claimNext(c))
    send(c);
  else
    c.active = false;
}

// Sends the request for `c`'s claim.
void AsyncWinHttp::Impl::send(Connection& c) {
  RangeRequest::Target target;
  target.file = file.handle();
  target.offset = c.claim.first;
  target.length = c.claim.end >= map.size() ? -1 : c.claim.length();
  target.expectedSize = expectedSize;
  // Starting over is for a file that only this connection writes.
  target.mayRestart = activeConnections() == 1;
  // Requests WinHTTP has let go of are freed as the download goes: a package of
  // thousands of segments keeps no more of them than connections.
  requests.erase(std::remove_if(requests.begin(), requests.end(),
                                [&](const std::unique_ptr<RangeRequest>& request) {
                                  for (const auto& other : connections)
                                    if (other->request == request.get()) return false;
                                  return request->waitReleased(0);
                                }),
                 requests.end());
  requests.push_back(std::make_unique<RangeRequest>(mutex, c, c.buffer));
  c.request = requests.back().get();
  c.gotByte = false;
  c.stalled = false;
  c.pacer.sent(Clock::now());
  c.sentFrom = c.claim.first;
  c.sentAt = Clock::now();
  SupportLog::writef("download", "request on connection %d: bytes %lld-%lld", number(c),
                     static_cast<long long>(c.claim.first), static_cast<long long>(c.claim.end - 1));
  armDeadline();
  // The request may end inside send (a refused connection): onFinished has run then.
  c.request->send(session, url, target);
}

// After `c`'s request failed: when the fault is transient and the budget lasts, the
// next request is due after the schedule's wait, and true is returned.
bool AsyncWinHttp::Impl::retryLater(Connection& c, End how, bool endedShort) {
  const RangeRequest& request = *c.request;
  const bool transient = how == End::Failed ? request.transient() : how == End::Closed ? c.stalled : endedShort;
  if (!transient || ended)
    return false;
  if (route.kind == SystemProxy::Kind::kProxy && request.unreachable()) {
    // The proxy itself is not there: the next request goes direct.
    proxy.proxyUnreachable();
  }
  const std::int64_t retryAfter = request.retryAfterMs();
  if (!c.pacer.failed(Clock::now(), retryAfter >= 0 ? std::optional<std::int64_t>(retryAfter) : std::nullopt))
    return false;
  setQuietIfAll();
  armDeadline();
  return true;
}

// The window says it is reconnecting while no active connection receives anything.
void AsyncWinHttp::Impl::setQuietIfAll() {
  for (const auto& c : connections)
    if (c->active && !c->pacer.quiet())
      return;
  if (!quiet.exchange(true))
    report(kReconnecting);
}

void AsyncWinHttp::Impl::armDeadline() {
  if (ended || !deadlines)
    return;
  std::optional<Clock::time_point> soonest;
  for (const auto& c : connections) {
    if (!c->active)
      continue;
    if (const std::optional<Clock::time_point> when = c->pacer.deadline())
      if (!soonest || *when < *soonest)
        soonest = when;
  }
  if (soonest)
    deadlines->wakeAt(*soonest);
  else
    deadlines->cancel();
}

void AsyncWinHttp::Impl::onDeadline(void* context) {
  auto* impl = static_cast<Impl*>(context);
  std::lock_guard<std::recursive_mutex> lock(impl->mutex);
  // By index: starting a request lets go of the lock, and connections may be added.
  for (std::size_t i = 0; i < impl->connections.size() && !impl->ended; ++i) {
    Connection& c = *impl->connections[i];
    if (!c.active)
      continue;
    switch (c.pacer.due(Clock::now())) {
      case RequestPacer::Action::kStart:
        impl->startRequest(c);
        break;
      case RequestPacer::Action::kStalled:
        c.stalled = true;
        SupportLog::writef("download", "connection %d stalled: no byte for %lld s", impl->number(c),
                           static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(RequestPacer::kStall).count()));
        if (c.request)
          c.request->close();  // its end schedules the next request
        break;
      case RequestPacer::Action::kBecameQuiet:
        impl->setQuietIfAll();
        break;
      case RequestPacer::Action::kNone:
        break;
    }
  }
  impl->armDeadline();
}

void AsyncWinHttp::Impl::closeRequests() {
  for (const auto& c : connections)
    if (c->request)
      c->request->close();
}

// Waits for WinHTTP to let go of every request; false when one is still held.
bool AsyncWinHttp::Impl::releaseRequests() {
  for (auto& request : requests)
    if (!request->waitReleased(kCloseWaitMs))
      return false;
  return true;
}

// ---- 4. what the requests and the digest report --------------------------------------------

void AsyncWinHttp::Impl::onAccepted(Connection& c, std::int64_t newTotal, bool ranges) {
  if (newTotal > 0 && !sizeKnown()) {
    // The answer tells the size the caller did not know.
    map = map.resized(newTotal);
    if (c.claim.end > newTotal)
      c.claim.end = newTotal;
  }
  total = newTotal;
  if (newTotal > 0)
    digest.setSize(newTotal);
  if (!several && ranges && mostConnections > 1 && expectedSize > kSeveralFrom && newTotal == expectedSize &&
      activeConnections() == 1)
    startSeveral();
}

void AsyncWinHttp::Impl::onRestarted(Connection& c) {
  // The server ignores ranges: the file holds a prefix again, written by one connection.
  // It is empty now, so a record that stays behind names bytes past its end and is
  // no record.
  file.dropParts();
  several = false;
  ramp = ConnectionRamp(1);
  map = SegmentMap(map.size());
  c.claim = Range{0, map.size()};
  c.written = 0;
  downloaded = 0;
  digest.restart();
}

void AsyncWinHttp::Impl::onReceived(Connection& c, std::int64_t bytes) {
  if (!several)
    return;
  ramp.received(bytes);
  if (!c.gotByte) {
    c.gotByte = true;
    if (c.added)
      ramp.firstByte(Clock::now());
  }
  rampStep();
}

void AsyncWinHttp::Impl::onWritten(Connection& c, std::int64_t end) {
  map.add(c.written, end);
  c.written = end;
  downloaded = map.onDisk();
  // New bytes: the retry budget starts afresh, and the silence marks move on.
  c.pacer.progressed(Clock::now());
  quiet = false;
  if (Clock::now() - progressLogged >= std::chrono::seconds(10)) {
    const double seconds = std::chrono::duration<double>(Clock::now() - progressLogged).count();
    const double rate = static_cast<double>(map.onDisk() - progressLoggedBytes) / seconds;
    SupportLog::writef("download", "progress %lld of %lld bytes, %.0f KB/s, %.0f s left",
                       static_cast<long long>(map.onDisk()), static_cast<long long>(map.size()), rate / 1024,
                       rate > 0 && sizeKnown() ? static_cast<double>(map.size() - map.onDisk()) / rate : -1.0);
    progressLogged = Clock::now();
    progressLoggedBytes = map.onDisk();
  }
  digest.advance(map.prefixEnd());
  if (!file.saveRecordIfDue(map)) {
    // Bytes that no record vouches for would be fetched again by every later run.
    failed = true;
    failureText = format(L"%ls failed with error %lld", file.failedCall(), GetLastError());
    this->end(false);
    return;
  }
  report(kProgress);
}

void AsyncWinHttp::Impl::onFinished(Connection& c, End how, const std::wstring& text) {
  if (!c.active || ended)
    return;  // dropped, or the download is over
  c.pacer.ended();
  SupportLog::writef("download", "request on connection %d ended after %lld ms with %lld bytes: %s", number(c),
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - c.sentAt).count()),
                     static_cast<long long>(c.written - c.sentFrom),
                     how == End::Complete ? "complete" : how == End::Closed ? "closed" : SupportLog::utf8(text).c_str());
  // A body without a told length may also end before the range does.
  const bool done = how == End::Complete && (c.written >= c.claim.end || !sizeKnown());
  if (!done && several && activeConnections() > 1) {
    // The server closed a connection, refused it or let it fall silent while others
    // run: one connection fewer from now on, and the others fetch what it left.
    c.active = false;
    ramp.refused();
    SupportLog::writef("download", "connection %d dropped: the server ended it while others run", number(c));
    if (how == End::Failed)
      OutputDebugStringW((L"download connection given up: " + text).c_str());
    armDeadline();
    return;
  }
  if (!done) {
    if (retryLater(c, how, how == End::Complete)) {
      SupportLog::countRetry();
      SupportLog::writef("download", "retry on connection %d in %lld ms: %s", number(c),
                         static_cast<long long>(c.pacer.deadline() ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                           *c.pacer.deadline() - Clock::now()).count()
                                                                   : 0),
                         how == End::Failed   ? SupportLog::utf8(text).c_str()
                         : how == End::Closed ? "no byte came in time"
                                              : "the body ended short");
      return;
    }
    if (how == End::Failed) {
      failed = true;
      failureText = text;
    }
    end(false);
    return;
  }
  if (!sizeKnown()) {
    // Without Content-Length and an expected size, the end of the body tells the size.
    map = map.resized(c.written);
    total = map.size();
  }
  if (map.complete()) {
    end(true);
    return;
  }
  if (takeNextClaim(c)) {
    // Asked for right away (from WinHTTP's thread).
    send(c);
    return;
  }
  c.active = false;
  armDeadline();
}

// Reports status 2 once. Every failure reports nothing downloaded, so the receiver
// never takes a broken transfer for a complete file.
void AsyncWinHttp::Impl::end(bool fileComplete) {
  if (ended)
    return;
  ended = true;
  complete = fileComplete && !failed && map.complete();
  SupportLog::writef("download", "transfer ended: %s, %lld of %lld bytes on disk%s%s", complete ? "complete" : "incomplete",
                     static_cast<long long>(map.onDisk()), static_cast<long long>(map.size()), failed ? ", " : "",
                     SupportLog::utf8(failureText).c_str());
  // The other connections' requests may still run: they write nothing more.
  closeRequests();
  // A record that cannot be kept is a disk error like a failed write; the one before it
  // still holds for the next run.
  if (!(complete ? file.dropParts() : file.saveRecord(map)) && !failed) {
    failed = true;
    failureText = format(L"%ls failed with error %lld", file.failedCall(), GetLastError());
    complete = false;
  }
  file.close();
  if (failed)
    downloaded = 0;
  else
    downloaded = map.onDisk();
  if (complete) {
    total = map.size();
    digest.setSize(total);
  }
  report(kEnded);
  if (complete && (digest.ready() || digest.failed()))
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
    impl_->end(false);
  }
  // Outside the lock: the digest's thread may be waiting for it, and so may WinHTTP's
  // and the deadline thread.
  impl_->deadlines.reset();
  impl_->digest.stop();
  if (!impl_->releaseRequests()) {
    // WinHTTP still holds a request and may call into the state: leaking it is the
    // lesser harm than freeing it under a running callback.
    impl_.release();
    return;
  }
}

bool AsyncWinHttp::init(ProgressCallback callback, void* context) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  impl_->callback = callback;
  impl_->context = context;
  if (!impl_->session && http().loaded())
    impl_->session = impl_->proxy.sessionFor(SystemProxy::Route(), kUserAgent, WINHTTP_FLAG_ASYNC, kWinHttpTimeoutMs);
  return impl_->session != nullptr;
}

void AsyncWinHttp::setConnections(int count) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  impl_->mostConnections = std::clamp(count, 1, kMaxConnections);
}

bool AsyncWinHttp::download(const std::wstring& url, const std::wstring& targetPath, std::int64_t expectedSize,
                            const std::string& expectedMd5) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  Impl& d = *impl_;
  if (d.started) return false;
  d.started = true;
  d.targetPath = targetPath;
  d.expectedMd5 = expectedMd5;
  d.expectedSize = expectedSize > 0 ? expectedSize : 0;
  if (!d.session) {
    d.failed = true;
    d.failureText = format(L"%ls failed with error %lld", L"WinHttpOpen", ERROR_INVALID_HANDLE);
    d.end(false);
    return false;
  }
  if (!d.file.open(targetPath, d.expectedSize, expectedMd5, d.map)) {
    d.failed = true;
    d.failureText = format(L"%ls failed with error %lld", d.file.failedCall(), GetLastError());
    d.end(false);
    return false;
  }
  // The total is the server's to tell: until it answers, a partial file must not look
  // complete to whoever reads the two counts.
  d.downloaded = d.map.onDisk();
  d.total = 0;
  // What is on disk is hashed at once, off this thread, while the rest is asked for.
  d.digest.start(targetPath, d.map.prefixEnd(), d.expectedSize > 0 ? d.expectedSize : -1, &Impl::onDigestReady,
                 &d);
  if (d.map.complete()) {
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
  d.connections.push_back(std::make_unique<Impl::Connection>(d, true));
  Impl::Connection& first = *d.connections.back();
  first.active = true;
  SupportLog::countConnections(1);
  first.pacer.begin(Clock::now());
  d.deadlines = std::make_unique<DeadlineThread>(&Impl::onDeadline, &d);
  d.armDeadline();
  return true;
}

void AsyncWinHttp::cancel() {
  {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->callback = nullptr;
    impl_->end(false);
  }
  impl_->digest.stop();
}

const std::wstring& AsyncWinHttp::targetPath() const { return impl_->targetPath; }

const std::wstring& AsyncWinHttp::infoPath() const { return impl_->file.infoPath(); }

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
