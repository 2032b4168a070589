#pragma once
// One asynchronous WinHTTP GET of a package from a byte offset on, written into an open
// file at 64-bit offsets. It judges the answer before a byte reaches the file: the
// status code, Content-Range against the offset asked for, Content-Length against the
// package's size.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Runs under its owner's lock: send and close on the owner's thread with the lock held,
// the status callback on WinHTTP's threads, which take it.
class RangeRequest {
public:
  // Told on WinHTTP's threads (or inside send/close) with the owner's lock held.
  class Listener {
  public:
    virtual ~Listener() = default;
    // The answer was accepted; the file will be `total` bytes, 0 when not known yet.
    // `rangesHonoured`: the server answered the range, or sent the whole package saying
    // it accepts byte ranges, so other parts of the file may be asked for at once.
    virtual void onAccepted(std::int64_t total, bool rangesHonoured) = 0;
    // The server sends the whole package instead of the range: the file was cut to
    // nothing and is written again from its first byte.
    virtual void onRestarted() = 0;
    // Body bytes arrived (not yet written): for measuring the rate.
    virtual void onReceived(std::int64_t bytes) { (void)bytes; }
    // Bytes [offset, end) of the file are written.
    virtual void onWritten(std::int64_t end) = 0;
    // The request is over, once: the body ended, it failed with `text`, or its owner
    // closed it.
    enum class End { Complete, Failed, Closed };
    virtual void onFinished(End end, const std::wstring& text) = 0;
  };

  // What the request writes into: the file (open for writing, closed by the owner), the
  // first byte to fetch, how many bytes to ask for (-1: all to the end), and the
  // package's final size (0 or less when unknown). It asks with Range unless it wants the
  // whole file. With `mayRestart`, a server that sends the whole package instead of the
  // range has the file cut and written again from its start (every byte before `offset`
  // is then a prefix of the file); without, that answer fails the request.
  struct Target {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::int64_t offset = 0;
    std::int64_t length = -1;
    std::int64_t expectedSize = 0;
    bool mayRestart = true;
  };

  // The body goes through `buffer`, lent by the owner: one request at a time uses it,
  // and it must outlive the request (a read WinHTTP has started writes into it until the
  // request is released). A request that ended complete has no read left.
  RangeRequest(std::recursive_mutex& lock, Listener& listener, std::vector<char>& buffer);
  ~RangeRequest();
  RangeRequest(const RangeRequest&) = delete;
  RangeRequest& operator=(const RangeRequest&) = delete;

  // Connects and sends on `session`. False when that failed; onFinished was told then.
  bool send(HINTERNET session, const std::wstring& url, const Target& target);
  // Ends the request; bytes already received are written first. onFinished is told,
  // unless the request was over already.
  void close();
  // Where the next body byte goes: the file is written up to there, or will be.
  std::int64_t received() const;
  // The request stops at `end` (bytes from there on go to another request), or where
  // it has received already if that is further. Returns where it stops; it ends
  // complete there.
  std::int64_t shortenTo(std::int64_t end);
  // Waits until WinHTTP has let go of the request and will not call it again. Only
  // after that may the request, its owner's lock and its listener be freed.
  bool waitReleased(DWORD timeoutMs);

  // After a failure, under the owner's lock: whether another request may succeed where
  // this one failed (the connection refused, reset or closed before the body was
  // complete, a name that did not resolve, a timeout, HTTP 408, 429 or 5xx), and the
  // server's Retry-After in milliseconds (-1: none).
  bool transient() const;
  std::int64_t retryAfterMs() const;
  // Whether the failure was that no connection could be made at all (refused, or the
  // name did not resolve): through a proxy, that the proxy cannot be reached.
  bool unreachable() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
