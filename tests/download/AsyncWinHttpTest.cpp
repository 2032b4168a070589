// The downloader against nginx and odd-server.py on loopback (started by
// with-servers.sh): fresh, continued, restarted and already complete downloads, answers
// without Content-Length, error statuses, an answer that is not the range asked for, a
// cut-off transfer, failed writes, the digest that follows the file, and the reports
// posted to a window. The engine's policy under every fault is its simulation's.
#include "download/AsyncWinHttp.h"
#include "download/CMD5Checksum.h"
#include "download/PackageFile.h"
#include "download/SegmentMap.h"
#include "tests/download/HostPaths.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

namespace {

constexpr DWORD kTransferTimeoutMs = 30000;

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct Report {
  int status;
  std::int64_t downloaded;
  std::int64_t total;
};

struct Posted {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Messages the test window received; UI thread only.
std::vector<Posted> g_posted;

// Dispatches messages until `message` (by default a 6367) arrives; false after
// timeoutMs without one.
bool pumpUntilPosted(DWORD timeoutMs, UINT message = AsyncWinHttp::kDoneMessage) {
  return qxtest::pumpUntil([&] {
    return std::any_of(g_posted.begin(), g_posted.end(), [&](const Posted& p) { return p.message == message; });
  }, timeoutMs);
}

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == AsyncWinHttp::kProgressMessage || message == AsyncWinHttp::kDoneMessage ||
      message == AsyncWinHttp::kDigestMessage) {
    g_posted.push_back({message, wParam, lParam});
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window that receives the downloader's posted reports.
class TestWindow {
public:
  TestWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = testWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QxDownloadTestWindow";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                              nullptr);
  }
  ~TestWindow() { DestroyWindow(window_); }
  HWND handle() const { return window_; }

private:
  HWND window_ = nullptr;
};

// Records every report (on WinHTTP's threads) and passes it on to the window.
struct Recorder {
  std::mutex mutex;
  std::vector<Report> reports;
  HWND window = nullptr;

  static void callback(void* context, AsyncWinHttp* downloader, int status, std::int64_t downloaded,
                       std::int64_t total) {
    auto* self = static_cast<Recorder*>(context);
    {
      std::lock_guard<std::mutex> lock(self->mutex);
      self->reports.push_back({status, downloaded, total});
    }
    AsyncWinHttp::postToWindow(self->window, downloader, status, downloaded, total);
  }
  std::vector<Report> snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return reports;
  }
};

struct Outcome {
  bool sent = false;
  bool doneInTime = false;
  bool failed = false;
  std::wstring failureText;
  std::string digest;
  std::vector<Report> reports;
  std::vector<Posted> posted;

  // The last report of the transfer (the digest's comes after it).
  const Report& last() const {
    for (auto r = reports.rbegin(); r != reports.rend(); ++r)
      if (r->status != AsyncWinHttp::kDigestReady) return *r;
    return reports.back();
  }
  int count(int status) const {
    return static_cast<int>(std::count_if(reports.begin(), reports.end(),
                                          [&](const Report& r) { return r.status == status; }));
  }
};

using Lines = std::vector<std::string>;
const char kNginx[] = "QX_HTTP_LOG";
const char kOdd[] = "QX_ODD_LOG";

Lines readLines(const std::string& path) {
  std::ifstream in(path);
  Lines lines;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

class AsyncWinHttpTest : public testing::Test {
protected:
  void SetUp() override {
    base_ = qxtest::env("QX_HTTP_BASE");
    odd_ = qxtest::env("QX_ODD_BASE");
    if (base_.empty() || odd_.empty()) GTEST_SKIP() << "run through with-servers.sh";
    source_ = qxtest::readFile(qxtest::hostPath(qxtest::env("QX_HTTP_ROOT") + "/package.bin"));
    ASSERT_GT(source_.size(), 3u << 20);
    sourceMd5_ = md5Lower(source_);
    dir_ = qxtest::hostPath(qxtest::scratchFolder("download"));
    target_ = dir_ + "\\setup.exe";
    g_posted.clear();
  }

  static std::string md5Lower(const std::string& bytes) {
    CMD5Checksum md5;
    md5.update(bytes.data(), bytes.size());
    std::string text = CMD5Checksum::toHex(md5.finish());
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
  }

  std::string infoText() const { return std::to_string(source_.size()) + sourceMd5_; }

  // A partial target of n source bytes with the side file of this package.
  void leavePartial(size_t n) {
    ASSERT_TRUE(qxtest::writeFile(target_, source_.substr(0, n)));
    ASSERT_TRUE(qxtest::writeFile(target_ + ".info", infoText()));
  }

  Outcome run(const std::string& url, std::int64_t size, const std::string& md5) {
    Outcome out;
    Recorder recorder;
    recorder.window = window_.handle();
    {
      auto downloader = std::make_unique<AsyncWinHttp>();
      EXPECT_TRUE(downloader->init(&Recorder::callback, &recorder));
      out.sent = downloader->download(widen(url), widen(target_), size, md5);
      out.doneInTime = pumpUntilPosted(kTransferTimeoutMs);
      // A complete file's digest follows; an incomplete one's never does.
      const Report end = recorder.snapshot().back();
      if (end.status == AsyncWinHttp::kEnded && end.downloaded > 0 && end.downloaded == end.total) {
        EXPECT_TRUE(pumpUntilPosted(kTransferTimeoutMs, AsyncWinHttp::kDigestMessage));
        EXPECT_TRUE(downloader->digestReady());
        EXPECT_EQ(downloader->hashedBytes(), end.total);
      }
      out.digest = downloader->digest();
      EXPECT_EQ(downloader->downloaded(), end.downloaded);
      EXPECT_EQ(downloader->total(), end.total);
      out.failed = downloader->failed();
      out.failureText = downloader->failureText();
      EXPECT_EQ(downloader->targetPath(), widen(target_));
      EXPECT_EQ(downloader->infoPath(), widen(target_ + ".info"));
    }
    // The reports of the last moments are still queued.
    qxtest::pump(20);
    out.reports = recorder.snapshot();
    out.posted = g_posted;
    g_posted.clear();
    return out;
  }

  // A download from the server that sends a little at a time, left running.
  void startSlow(Recorder& recorder, std::unique_ptr<AsyncWinHttp>& downloader) {
    recorder.window = window_.handle();
    downloader = std::make_unique<AsyncWinHttp>();
    ASSERT_TRUE(downloader->init(&Recorder::callback, &recorder));
    ASSERT_TRUE(downloader->download(widen(odd_ + "/slow/package.bin"), widen(target_),
                                     static_cast<std::int64_t>(source_.size()), sourceMd5_));
  }

  Outcome runPackage(const std::string& url) {
    return run(url, static_cast<std::int64_t>(source_.size()), sourceMd5_);
  }

  // The request lines the server whose log `variable` names logged while `action` ran.
  // nginx writes its line when the request is done, a moment after the client has
  // everything: waits, bounded, for `count` of them.
  template <typename F>
  static Lines requests(const char* variable, size_t count, F action) {
    const size_t before = waitForLog(variable, 0).size();
    action();
    const Lines lines = waitForLog(variable, before + count);
    return Lines(lines.begin() + static_cast<std::ptrdiff_t>(std::min(before, lines.size())), lines.end());
  }
  static Lines waitForLog(const char* variable, size_t atLeast) {
    const std::string path = qxtest::hostPath(qxtest::env(variable));
    Lines lines = readLines(path);
    for (int i = 0; i < 100 && lines.size() < atLeast; ++i) {
      Sleep(20);
      lines = readLines(path);
    }
    return lines;
  }

  // The reports form one well-made sequence: progress reports with growing counts and
  // the right total, then exactly one end report, then at most the digest's; and the
  // window got the same, in order.
  void expectWellFormed(const Outcome& out) {
    ASSERT_TRUE(out.doneInTime);
    ASSERT_FALSE(out.reports.empty());
    EXPECT_EQ(out.count(AsyncWinHttp::kEnded), 1);
    EXPECT_EQ(out.last().status, AsyncWinHttp::kEnded);
    EXPECT_LE(out.count(AsyncWinHttp::kDigestReady), 1);
    if (out.count(AsyncWinHttp::kDigestReady) == 1) {
      EXPECT_EQ(out.reports.back().status, AsyncWinHttp::kDigestReady);
    }
    std::int64_t previous = -1;
    for (const Report& r : out.reports) {
      if (r.status != AsyncWinHttp::kProgress) continue;
      EXPECT_GT(r.downloaded, previous);
      // A total of 0 is unknown: no Content-Length and no size from the caller.
      if (r.total != 0) {
        EXPECT_LE(r.downloaded, r.total);
      }
      previous = r.downloaded;
    }
    ASSERT_EQ(out.posted.size(), out.reports.size());
    for (size_t i = 0; i < out.reports.size(); ++i) {
      const Report& r = out.reports[i];
      const Posted& p = out.posted[i];
      if (r.status == AsyncWinHttp::kProgress || r.status == AsyncWinHttp::kReconnecting) {
        EXPECT_EQ(p.message, 6366u);
        EXPECT_EQ(p.wParam, static_cast<WPARAM>(r.total));
        EXPECT_EQ(p.lParam, static_cast<LPARAM>(r.downloaded));
      } else if (r.status == AsyncWinHttp::kDigestReady) {
        EXPECT_EQ(p.message, AsyncWinHttp::kDigestMessage);
      } else {
        EXPECT_EQ(p.message, 6367u);
        EXPECT_EQ(p.wParam, static_cast<WPARAM>(r.downloaded));
        EXPECT_EQ(p.lParam, static_cast<LPARAM>(r.total));
      }
    }
  }

  void expectComplete(const Outcome& out) {
    expectWellFormed(out);
    EXPECT_FALSE(out.failed) << std::string(out.failureText.begin(), out.failureText.end());
    EXPECT_EQ(out.last().downloaded, static_cast<std::int64_t>(source_.size()));
    EXPECT_EQ(out.last().total, static_cast<std::int64_t>(source_.size()));
    EXPECT_TRUE(qxtest::readFile(target_) == source_) << "target differs from the source";
    EXPECT_EQ(out.digest, upper(sourceMd5_)) << "the digest that followed the file";
  }

  void expectFailedWithNothing(const Outcome& out) {
    expectWellFormed(out);
    EXPECT_TRUE(out.failed);
    EXPECT_EQ(out.last().downloaded, 0);
    EXPECT_EQ(out.count(AsyncWinHttp::kDigestReady), 0);
    EXPECT_EQ(out.digest, "");
  }

  TestWindow window_;
  std::string base_, odd_, source_, sourceMd5_, dir_, target_;
};

TEST_F(AsyncWinHttpTest, FreshDownloadHasNoRangeAndWritesTheSideFile) {
  Outcome out;
  EXPECT_EQ(requests(kNginx, 1, [&] { out = runPackage(base_ + "/package.bin"); }),
            Lines{"/package.bin \"-\" 200"});
  EXPECT_TRUE(out.sent);
  expectComplete(out);
  EXPECT_GE(out.count(AsyncWinHttp::kProgress), 1);
  EXPECT_EQ(out.reports.front().total, static_cast<std::int64_t>(source_.size()));
  // The side file: the size in decimal, then the digest text as passed, no terminator.
  EXPECT_EQ(qxtest::readFile(target_ + ".info"), infoText());
}

TEST_F(AsyncWinHttpTest, MatchingSideFileContinuesWithRange) {
  leavePartial(1234567);
  Outcome out;
  EXPECT_EQ(requests(kNginx, 1, [&] { out = runPackage(base_ + "/package.bin"); }),
            Lines{"/package.bin \"bytes=1234567-\" 206"});
  expectComplete(out);
  // Total is what was on disk plus the Content-Length of the rest.
  for (const Report& r : out.reports) EXPECT_EQ(r.total, static_cast<std::int64_t>(source_.size()));
}

TEST_F(AsyncWinHttpTest, CompleteTargetSendsNoRequest) {
  leavePartial(source_.size());
  Outcome out;
  EXPECT_EQ(requests(kNginx, 0, [&] {
              out = runPackage(base_ + "/package.bin");
              Sleep(200);
            }),
            Lines{});
  EXPECT_FALSE(out.sent);
  expectComplete(out);
  // The end at once, then the digest of the whole file from the digest's thread.
  ASSERT_EQ(out.reports.size(), 2u);
  EXPECT_EQ(out.reports[0].status, AsyncWinHttp::kEnded);
}

// Without a size from the caller the end of the body tells the total; continued, the
// count includes what was on disk and the range continues the file.
TEST_F(AsyncWinHttpTest, ChunkedAnswerWithoutContentLength) {
  expectComplete(run(odd_ + "/chunked/package.bin", 0, sourceMd5_));
  leavePartial(777777);
  Outcome out;
  EXPECT_EQ(requests(kOdd, 1, [&] { out = runPackage(odd_ + "/chunked/package.bin"); }),
            Lines{"/chunked/package.bin bytes=777777-"});
  expectComplete(out);
}

// Client errors other than 408 and 429 are final at once: one request, no retry.
TEST_F(AsyncWinHttpTest, ClientErrorWritesNothingAndFailsAtOnce) {
  struct Case {
    std::string url;
    const wchar_t* text;
  };
  const Case cases[] = {
      {base_ + "/missing.bin", L"WinHttpQueryHeaders: HTTP status 404"},
      {odd_ + "/status/403", L"WinHttpQueryHeaders: HTTP status 403"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    DeleteFileA(target_.c_str());
    DeleteFileA((target_ + ".info").c_str());
    Outcome out = runPackage(c.url);
    expectFailedWithNothing(out);
    EXPECT_EQ(out.count(AsyncWinHttp::kReconnecting), 0);
    EXPECT_EQ(out.failureText, c.text);
    EXPECT_EQ(qxtest::readFile(target_), "");
    // A continued download keeps its partial file as it was.
    leavePartial(1000);
    out = runPackage(c.url);
    expectFailedWithNothing(out);
    EXPECT_TRUE(qxtest::readFile(target_) == source_.substr(0, 1000));
  }
}

// An answer to a range request that is not that range (a portal's page) leaves the
// partial file and its side file as they were. Another part, the rest of another file, a
// body past its range and a server ignoring ranges are the simulation's.
TEST_F(AsyncWinHttpTest, AnswerThatIsNotTheRangeLeavesThePartialFile) {
  leavePartial(4096);
  const Outcome out = runPackage(odd_ + "/portal/package.bin");
  expectFailedWithNothing(out);
  EXPECT_EQ(out.failureText, L"WinHttpQueryHeaders: HTTP status 200 of 47 bytes for a range request");
  EXPECT_TRUE(qxtest::readFile(target_) == source_.substr(0, 4096));
  EXPECT_EQ(qxtest::readFile(target_ + ".info"), infoText());
}

TEST_F(AsyncWinHttpTest, BadUrlFailsAtOnce) {
  const Outcome out = runPackage("not a url");
  EXPECT_FALSE(out.sent);
  expectFailedWithNothing(out);
  EXPECT_EQ(out.failureText, L"WinHttpCrackURL failed with error 12006");
}

// A full disk: with-servers.sh links the target to the Linux device that refuses every
// write with ENOSPC.
TEST_F(AsyncWinHttpTest, FailedWriteEndsTheTransfer) {
  const std::string full = qxtest::env("QX_FULL_TARGET");
  ASSERT_FALSE(full.empty());
  target_ = qxtest::hostPath(full);
  ASSERT_TRUE(qxtest::writeFile(target_ + ".info", infoText()));
  const Outcome out = runPackage(base_ + "/package.bin");
  expectFailedWithNothing(out);
  EXPECT_EQ(out.failureText, L"WriteFile failed with error 112");
}

// Deleting the downloader mid-transfer ends it with one end report, keeps what arrived
// for the next attempt, and leaves no callback running into freed state.
TEST_F(AsyncWinHttpTest, DestructionMidTransferReportsOnceAndKeepsThePrefix) {
  Recorder recorder;
  std::unique_ptr<AsyncWinHttp> downloader;
  ASSERT_NO_FATAL_FAILURE(startSlow(recorder, downloader));
  // The server's first 64 KiB come at once, but a loaded machine may report them in
  // several pieces: the stop comes once all of them are reported.
  const auto hasPrefix = [&recorder] {
    const std::vector<Report> seen = recorder.snapshot();
    return !seen.empty() && seen.back().downloaded >= 65536;
  };
  const ULONGLONG deadline = GetTickCount64() + kTransferTimeoutMs;
  while (!hasPrefix() && GetTickCount64() < deadline) Sleep(10);
  ASSERT_TRUE(hasPrefix()) << "the slow server's first 64 KiB were not reported";
  downloader.reset();
  const std::vector<Report> reports = recorder.snapshot();
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.back().status, AsyncWinHttp::kEnded);
  EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                          [](const Report& r) { return r.status == AsyncWinHttp::kEnded; }),
            1);
  const std::string partial = qxtest::readFile(target_);
  EXPECT_GE(partial.size(), 65536u);
  EXPECT_LT(partial.size(), source_.size());
  EXPECT_EQ(reports.back().downloaded, static_cast<std::int64_t>(partial.size()));
  EXPECT_TRUE(partial == source_.substr(0, partial.size()));
  qxtest::dropQueued();
}

// Until the server answers, the total is not known: a partial file must not look
// complete, also to the end report of a download that never got an answer.
TEST_F(AsyncWinHttpTest, TotalIsZeroUntilTheServerAnswers) {
  leavePartial(1234567);
  Recorder recorder;
  recorder.window = window_.handle();
  {
    AsyncWinHttp downloader;
    ASSERT_TRUE(downloader.init(&Recorder::callback, &recorder));
    ASSERT_TRUE(downloader.download(widen("http://127.0.0.1:" + qxtest::env("QX_CLOSED_PORT") + "/package.bin"),
                                    widen(target_), static_cast<std::int64_t>(source_.size()), sourceMd5_));
    EXPECT_EQ(downloader.total(), 0);
  }
  const Report end = recorder.snapshot().back();
  EXPECT_EQ(end.status, AsyncWinHttp::kEnded);
  EXPECT_EQ(end.downloaded, 1234567);
  EXPECT_EQ(end.total, 0);
  qxtest::dropQueued();
}

TEST_F(AsyncWinHttpTest, CancelEndsWithoutAReport) {
  Recorder recorder;
  std::unique_ptr<AsyncWinHttp> downloader;
  ASSERT_NO_FATAL_FAILURE(startSlow(recorder, downloader));
  downloader->cancel();
  const size_t afterCancel = recorder.snapshot().size();
  Sleep(300);
  downloader.reset();
  const std::vector<Report> reports = recorder.snapshot();
  EXPECT_EQ(reports.size(), afterCancel);
  for (const Report& r : reports) EXPECT_EQ(r.status, AsyncWinHttp::kProgress);
  EXPECT_FALSE(pumpUntilPosted(100));
}

// A package large enough for several connections, from nginx shaping each connection
// (with-servers.sh). Several connections end to end: e2e_transfer_killed_twice.
class AsyncWinHttpSegments : public AsyncWinHttpTest {
protected:
  void SetUp() override {
    AsyncWinHttpTest::SetUp();
    slow_ = qxtest::env("QX_SLOW_BASE");
    if (IsSkipped() || slow_.empty()) GTEST_SKIP() << "run through with-servers.sh";
    source_ = qxtest::readFile(qxtest::hostPath(qxtest::env("QX_HTTP_ROOT") + "/slow/package.bin"));
    ASSERT_GT(source_.size(), 32u << 20);
    sourceMd5_ = md5Lower(source_);
  }

  // What a stopped download left: ".parts" names ranges that hold the package's bytes,
  // or (before a second connection) the file is a prefix of it. Returns the bytes held.
  std::int64_t expectOnlyPackageBytes() {
    const std::string file = qxtest::readFile(target_);
    const std::string parts = qxtest::readFile(target_ + ".parts");
    if (parts.empty()) {
      EXPECT_TRUE(file == source_.substr(0, file.size()));
      return static_cast<std::int64_t>(file.size());
    }
    const std::optional<SegmentMap> map =
        SegmentMap::parse(parts, static_cast<std::int64_t>(source_.size()), sourceMd5_);
    EXPECT_TRUE(map) << parts;
    if (!map) return 0;
    EXPECT_EQ(file.size(), source_.size()) << "written in place in a file of full size";
    for (const SegmentMap::Range& range : map->ranges()) {
      const size_t first = static_cast<size_t>(range.first);
      const size_t length = static_cast<size_t>(range.length());
      EXPECT_TRUE(file.compare(first, length, source_, first, length) == 0) << range.first << "-" << range.end;
    }
    return map->onDisk();
  }

  std::string slow_;
};

// Once the file is extended, no record can be saved (every flush fails): the download
// ends on the disk error, never complete with bytes no record vouches for.
TEST_F(AsyncWinHttpSegments, ARecordThatCannotBeSavedEndsTheDownload) {
  static std::atomic<int> moves;
  moves = 0;
  PackageFile::setStepHook([](const wchar_t* call) {
    if (std::wcscmp(call, L"MoveFileExW") == 0)
      ++moves;
    return moves == 0 || std::wcscmp(call, L"FlushFileBuffers") != 0;
  });
  const Outcome out = runPackage(slow_ + "/package.bin");
  PackageFile::setStepHook(nullptr);
  EXPECT_EQ(moves, 1) << "extended once, with its record";
  // The digest may have followed every byte by then; it is not reported.
  expectWellFormed(out);
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(out.last().downloaded, 0);
  EXPECT_EQ(out.count(AsyncWinHttp::kDigestReady), 0);
  EXPECT_EQ(out.failureText, L"FlushFileBuffers failed with error 29");
  expectOnlyPackageBytes();
}

// The window callback alone: units of 1000 bytes above 1,000,000,000 bytes of total.
TEST(AsyncWinHttpPost, ProgressUnitsAndEndMessage) {
  TestWindow window;
  g_posted.clear();
  struct Case {
    std::int64_t downloaded, total;
    WPARAM wParam;
    LPARAM lParam;
  };
  const Case progress[] = {
      {5, 10, 10, 5},
      {999999999, 1000000000, 1000000000, 999999999},
      {1000000000, 1000000001, 1000000, 1000000},
      {1500000000, 2000000000, 2000000, 1500000},
      {0, 4000000000LL, 4000000, 0},
  };
  for (const Case& c : progress) AsyncWinHttp::postToWindow(window.handle(), nullptr, 1, c.downloaded, c.total);
  AsyncWinHttp::postToWindow(window.handle(), nullptr, 2, 1500000000, 2000000000);
  AsyncWinHttp::postToWindow(window.handle(), nullptr, 2, 0, 3000000);
  qxtest::pump(20);
  ASSERT_EQ(g_posted.size(), 7u);
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(g_posted[i].message, 6366u);
    EXPECT_EQ(g_posted[i].wParam, progress[i].wParam);
    EXPECT_EQ(g_posted[i].lParam, progress[i].lParam);
  }
  EXPECT_EQ(g_posted[5].message, 6367u);
  EXPECT_EQ(g_posted[5].wParam, 1500000000u);
  EXPECT_EQ(g_posted[5].lParam, 2000000000);
  EXPECT_EQ(g_posted[6].wParam, 0u);
  EXPECT_EQ(g_posted[6].lParam, 3000000);
}

} // namespace
