#pragma once
// Downloads one package over HTTP(S) with WinHTTP in asynchronous mode, continuing a
// partial file when its ".info" side file shows it belongs to the same package, and
// computing the package's MD5 digest on a worker thread as the bytes arrive. Network
// faults are tried again by themselves, through the proxy the user set.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One object per download attempt. init, download, cancel and the destructor run on the
// UI thread; the download's own worker thread (which carries out every decision of its
// transfer engine) and the digest's thread run the callback. The counts and the digest
// may be read from any thread at any time.
class AsyncWinHttp {
public:
  // Status 1: progress after a chunk was written. Status 2: the transfer has ended,
  // complete or not; delivered exactly once per download (unless cancelled). Status 3:
  // the digest of the complete file is ready; at most once, always after a status 2
  // that reported the file complete, and also when the file could not be read back for
  // it (digestFailed). Status 4: the download waits to try again after a network fault,
  // or no byte has come for a few seconds; the next status 1 ends that.
  enum Status { kProgress = 1, kEnded = 2, kDigestReady = 3, kReconnecting = 4 };
  using ProgressCallback = void (*)(void* context, AsyncWinHttp* downloader, int status,
                                    std::int64_t downloaded, std::int64_t total);

  // Posted by postToWindow: 6366 (total, downloaded) for statuses 1 and 4 and 6367
  // (downloaded, total) for anyone who knows these numbers, and a private message for
  // the digest.
  static constexpr UINT kProgressMessage = 6366;
  static constexpr UINT kDoneMessage = 6367;
  static constexpr UINT kDigestMessage = WM_APP + 67;

  AsyncWinHttp();
  // Ends a running transfer (delivering its status-2 report), stops the digest and
  // waits, bounded, until WinHTTP has let go of the request before the state is freed.
  virtual ~AsyncWinHttp();
  AsyncWinHttp(const AsyncWinHttp&) = delete;
  AsyncWinHttp& operator=(const AsyncWinHttp&) = delete;

  // Stores the callback and its context and opens the WinHTTP session.
  bool init(ProgressCallback callback, void* context);
  // How many connections a large package may take at once on a server that honours
  // ranges: 1 to kMaxConnections (clamped), kDefaultConnections unless told. Before
  // download.
  static constexpr int kDefaultConnections = 4;
  static constexpr int kMaxConnections = 8;
  void setConnections(int count);
  // The package's addresses on the publisher's mirrors, tried beside the announced one
  // when its size is announced. Before download.
  void setMirrors(const std::vector<std::wstring>& urls);
  // Prepares the target and side files and sends the request. True when the request
  // was sent; the end is always reported through status 2, also when this fails.
  bool download(const std::wstring& url, const std::wstring& targetPath, std::int64_t expectedSize,
                const std::string& expectedMd5);
  // Ends the transfer without a status-2 report, for a receiver that is going away.
  void cancel();

  const std::wstring& targetPath() const;
  const std::wstring& infoPath() const;
  bool failed() const;
  std::wstring failureText() const;

  // Exact counts of the newest report: bytes of the target so far (0 after a failure)
  // and its expected final size (0 while unknown).
  std::int64_t downloaded() const;
  std::int64_t total() const;
  // Between a status 4 and the next status 1: the window says it is reconnecting.
  bool reconnecting() const;
  // The digest of the file as far as it is hashed: bytes hashed, and once the whole
  // file is, its 32 uppercase hexadecimal digits (empty before).
  std::int64_t hashedBytes() const;
  bool digestReady() const;
  // The file could not be read back for the digest: a disk error, and no digest.
  bool digestFailed() const;
  std::string digest() const;
  // After the end: the bytes each address gave to the file, the announced one first, then
  // the mirrors in the order given; and whether any came from a mirror.
  std::vector<std::int64_t> sourceBytes() const;
  bool fromMirrors() const;

  // Bytes of a partial target that a download of this package would continue: the
  // target's size when its side file matches and it is not longer than the package,
  // else 0. Reads only.
  static std::int64_t continuableBytes(const std::wstring& targetPath, std::int64_t expectedSize,
                                       const std::string& expectedMd5);

  // The callback for a window: context is the HWND. Progress goes out in units of
  // 1000 bytes when the total exceeds 1,000,000,000 bytes.
  static void postToWindow(void* context, AsyncWinHttp* downloader, int status,
                           std::int64_t downloaded, std::int64_t total);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
