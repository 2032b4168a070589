// The downloader's I/O shell under Wine against nginx and odd-server.py on loopback
// (started by with-servers.sh): real WinHTTP's requests and answers, the side file, one
// refused answer of each kind, the shell's own disk faults, stopping, and the messages
// posted to a window. The engine's policy under every fault is its simulation's.
#include "download/AsyncWinHttp.h"
#include "download/PackageFile.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <memory>
#include <tuple>
#include <vector>

namespace {

constexpr DWORD kTransferTimeoutMs = 30000;

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct Posted {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Messages the test window received; UI thread only.
std::vector<Posted> g_posted;

int countPosted(UINT message) {
  return static_cast<int>(
      std::count_if(g_posted.begin(), g_posted.end(), [&](const Posted& p) { return p.message == message; }));
}

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == AsyncWinHttp::kProgressMessage || message == AsyncWinHttp::kDoneMessage ||
      message == AsyncWinHttp::kDigestMessage) {
    g_posted.push_back({message, wParam, lParam});
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window that receives the downloader's reports, as the installer's does;
// one for the whole program.
HWND testWindow() {
  static const HWND window = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = testWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QxDownloadTestWindow";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }();
  return window;
}

struct Outcome {
  bool sent = false;
  bool failed = false;
  std::wstring failureText;
  std::string digest;
  std::vector<Posted> posted;
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
    g_posted.clear();
    source_ = qxtest::readFile(qxtest::hostPath(qxtest::env("QX_HTTP_ROOT") + "/package.bin"));
    ASSERT_GT(source_.size(), 3u << 20);
    sourceMd5_ = qxtest::digestOf(source_);
    std::transform(sourceMd5_.begin(), sourceMd5_.end(), sourceMd5_.begin(), ::tolower);
    target_ = qxtest::hostPath(qxtest::scratchFolder("download")) + "\\setup.exe";
  }
  void TearDown() override { PackageFile::setStepHook(nullptr); }

  std::int64_t size() const { return static_cast<std::int64_t>(source_.size()); }
  std::string infoText() const { return std::to_string(source_.size()) + sourceMd5_; }

  // A partial target of n source bytes with the side file of this package; npos: neither.
  void leavePartial(size_t n) {
    DeleteFileA(target_.c_str());
    DeleteFileA((target_ + ".info").c_str());
    if (n == std::string::npos)
      return;
    ASSERT_TRUE(qxtest::writeFile(target_, source_.substr(0, n)));
    ASSERT_TRUE(qxtest::writeFile(target_ + ".info", infoText()));
  }

  // Starts the package's download from `url`, reporting to the test window.
  std::unique_ptr<AsyncWinHttp> start(const std::string& url, bool* sent = nullptr) {
    auto downloader = std::make_unique<AsyncWinHttp>();
    EXPECT_TRUE(downloader->init(&AsyncWinHttp::postToWindow, testWindow()));
    const bool wasSent = downloader->download(widen(url), widen(target_), size(), sourceMd5_);
    if (sent) *sent = wasSent;
    return downloader;
  }

  // The end report's (downloaded, total), as the window got it.
  static std::pair<std::int64_t, std::int64_t> ended(const std::vector<Posted>& posted = g_posted) {
    for (auto p = posted.rbegin(); p != posted.rend(); ++p)
      if (p->message == AsyncWinHttp::kDoneMessage) return {static_cast<std::int64_t>(p->wParam), p->lParam};
    return {-1, -1};
  }

  Outcome runPackage(const std::string& url) {
    Outcome out;
    g_posted.clear();
    {
      auto downloader = start(url, &out.sent);
      EXPECT_TRUE(qxtest::pumpUntil([] { return countPosted(AsyncWinHttp::kDoneMessage) > 0; }, kTransferTimeoutMs))
          << "no end report";
      // A complete file's digest follows; an incomplete one's never does.
      if (ended().first > 0 && ended().first == ended().second) {
        EXPECT_TRUE(qxtest::pumpUntil([] { return countPosted(AsyncWinHttp::kDigestMessage) > 0; }, kTransferTimeoutMs));
        EXPECT_EQ(downloader->hashedBytes(), ended().second);
      }
      out.digest = downloader->digest();
      EXPECT_EQ(downloader->downloaded(), ended().first);
      EXPECT_EQ(downloader->total(), ended().second);
      out.failed = downloader->failed();
      out.failureText = downloader->failureText();
    }
    EXPECT_TRUE(qxtest::settle());
    out.posted = g_posted;
    return out;
  }

  // The request lines the server whose log `variable` names logged while `action` ran.
  // nginx writes its line when the request is done, a moment after the client has
  // everything: waits, bounded, for `count` of them.
  template <typename F>
  static Lines requests(const char* variable, size_t count, F action) {
    const std::string path = qxtest::hostPath(qxtest::env(variable));
    const size_t before = readLines(path).size();
    action();
    Lines lines;
    qxtest::pumpUntil([&] { return (lines = readLines(path)).size() >= before + count; }, 5000);
    return Lines(lines.begin() + static_cast<std::ptrdiff_t>(std::min(before, lines.size())), lines.end());
  }

  // The window got progress messages with growing counts (and the total, when `total` is
  // not -1), then exactly one end message, then at most the digest's.
  static void expectWellFormed(const Outcome& out, std::int64_t total) {
    ASSERT_FALSE(out.posted.empty());
    const bool digest = out.posted.back().message == AsyncWinHttp::kDigestMessage;
    ASSERT_GE(out.posted.size(), digest ? 2u : 1u);
    EXPECT_EQ(out.posted[out.posted.size() - (digest ? 2 : 1)].message, AsyncWinHttp::kDoneMessage);
    LPARAM previous = -1;
    for (size_t i = 0; i + (digest ? 2 : 1) < out.posted.size(); ++i) {
      const Posted& p = out.posted[i];
      ASSERT_EQ(p.message, AsyncWinHttp::kProgressMessage) << i;
      EXPECT_GT(p.lParam, previous);
      if (total >= 0) {
        EXPECT_EQ(static_cast<std::int64_t>(p.wParam), total) << "the total, whenever a byte came";
      }
      previous = p.lParam;
    }
  }

  std::string base_, odd_, source_, sourceMd5_, target_;
};

// A complete target sends no request; a fresh download asks for no range; a matching side
// file continues with a range, also from a server that sends no Content-Length (the
// chunked body's end tells where it ends). An unannounced size is the simulation's.
TEST_F(AsyncWinHttpTest, EachRequestAsksForWhatIsMissing) {
  const struct {
    size_t partial;  // npos: no target, no side file
    std::string url;
    const char* log;
    Lines lines;
  } cases[] = {
      {source_.size(), base_ + "/package.bin", kNginx, {}},
      {std::string::npos, base_ + "/package.bin", kNginx, {"/package.bin \"-\" 200"}},
      {1234567, base_ + "/package.bin", kNginx, {"/package.bin \"bytes=1234567-\" 206"}},
      {1234567, odd_ + "/chunked/package.bin", kOdd, {"/chunked/package.bin bytes=1234567-"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + " after " + std::to_string(c.partial));
    leavePartial(c.partial);
    Outcome out;
    EXPECT_EQ(requests(c.log, c.lines.size(), [&] { out = runPackage(c.url); }), c.lines);
    expectWellFormed(out, size());
    EXPECT_FALSE(out.failed) << std::string(out.failureText.begin(), out.failureText.end());
    EXPECT_EQ(ended(out.posted), std::make_pair(size(), size()));
    EXPECT_TRUE(qxtest::readFile(target_) == source_) << "target differs from the source";
    EXPECT_EQ(out.digest, qxtest::digestOf(source_)) << "the digest that followed the file";
    EXPECT_EQ(qxtest::readFile(target_ + ".info"), infoText());
    EXPECT_EQ(out.sent, !c.lines.empty());
    EXPECT_EQ(out.posted.size() == 2, c.lines.empty()) << "the end at once, then the digest; else progress first";
  }
}

// An answer no retry changes, or a disk that refuses a step, ends the transfer at once
// with the call and its error, never complete, and leaves the file and its side file as
// they were: a missing file, an address WinHTTP cannot read (no request at all), a write
// to a full disk (with-servers.sh links the target to the Linux device that refuses every
// write with ENOSPC) and a flush (refused through PackageFile's hook). Which statuses are
// final is RetrySchedule's; wrong answers (a portal's page, a wrong range) are the
// simulation's.
TEST_F(AsyncWinHttpTest, RefusedAnswerOrDiskStepEndsAtOnce) {
  static const wchar_t* refused;
  PackageFile::setStepHook([](const wchar_t* call) { return !refused || std::wcscmp(call, refused) != 0; });
  const struct {
    std::string url, target;
    size_t partial;
    const wchar_t* refused;
    const wchar_t* text;
  } cases[] = {
      {base_ + "/missing.bin", target_, 4096, nullptr, L"WinHttpQueryHeaders: HTTP status 404"},
      {"not a url", target_, 0, nullptr, L"WinHttpCrackURL failed with error 12006"},
      {base_ + "/package.bin", qxtest::hostPath(qxtest::env("QX_FULL_TARGET")), 0, nullptr,
       L"WriteFile failed with error 112"},
      {base_ + "/package.bin", target_, 0, L"FlushFileBuffers", L"FlushFileBuffers failed with error 29"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + " to " + c.target);
    target_ = c.target;
    refused = c.refused;
    if (c.partial)
      leavePartial(c.partial);
    else
      ASSERT_TRUE(qxtest::writeFile(target_ + ".info", infoText()));
    const Outcome out = runPackage(c.url);
    EXPECT_EQ(out.sent, c.url != "not a url");
    expectWellFormed(out, -1);
    EXPECT_TRUE(out.failed);
    EXPECT_EQ(ended(out.posted).first, 0);
    // The digest may have followed every byte by then; it is not reported.
    EXPECT_EQ(out.posted.back().message, AsyncWinHttp::kDoneMessage) << "no digest";
    EXPECT_EQ(out.failureText, c.text);
    EXPECT_EQ(qxtest::readFile(target_ + ".info"), infoText());
    if (c.partial) {
      EXPECT_EQ(out.posted.size(), 1u) << "the end alone: no progress, no wait to try again";
      EXPECT_TRUE(qxtest::readFile(target_) == source_.substr(0, c.partial));
    }
  }
}

// Deleting the downloader mid-transfer ends it with one end report and keeps what
// arrived for the next attempt; cancelled first, it reports nothing more.
TEST_F(AsyncWinHttpTest, DestructionMidTransferReportsOnceAndCancelNothing) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "deleted");
    g_posted.clear();
    auto downloader = start(odd_ + "/slow/package.bin");
    // The slow server's first 64 KiB come at once, but a loaded machine may report
    // them in several pieces: the stop comes once all of them are reported.
    ASSERT_TRUE(qxtest::pumpUntil([] { return !g_posted.empty() && g_posted.back().lParam >= 65536; },
                                  kTransferTimeoutMs))
        << g_posted.size() << " reports, none of 64 KiB";
    if (cancel) downloader->cancel();
    ASSERT_TRUE(qxtest::settle());
    const size_t before = g_posted.size();
    // Once deleted, no thread of it is left to report: what it did not report by then,
    // it never will.
    downloader.reset();
    ASSERT_TRUE(qxtest::settle());
    EXPECT_EQ(countPosted(AsyncWinHttp::kDoneMessage), cancel ? 0 : 1);
    EXPECT_EQ(g_posted.size(), cancel ? before : before + 1);
    if (cancel) continue;
    const std::string partial = qxtest::readFile(target_);
    EXPECT_GE(partial.size(), 65536u);
    EXPECT_LT(partial.size(), source_.size());
    EXPECT_EQ(ended().first, static_cast<std::int64_t>(partial.size()));
    EXPECT_TRUE(partial == source_.substr(0, partial.size()));
  }
}

// Until the server answers, the total is not known: a partial file must not look
// complete, also to the end report of a download that never got an answer.
TEST_F(AsyncWinHttpTest, TotalIsZeroUntilTheServerAnswers) {
  leavePartial(1234567);
  {
    auto downloader = start("http://127.0.0.1:" + qxtest::env("QX_CLOSED_PORT") + "/package.bin");
    EXPECT_EQ(downloader->total(), 0);
    // Refused, it waits to try again.
    ASSERT_TRUE(qxtest::pumpUntil([] { return !g_posted.empty(); }, kTransferTimeoutMs));
    EXPECT_EQ(g_posted[0].message, AsyncWinHttp::kProgressMessage);
    EXPECT_EQ(g_posted[0].wParam, 0u);
  }
  ASSERT_TRUE(qxtest::settle());
  EXPECT_EQ(ended(), std::make_pair(std::int64_t{1234567}, std::int64_t{0}));
}

// The window's messages alone: progress in units of 1000 bytes above 1,000,000,000
// bytes of total, the end's counts as they are.
TEST(AsyncWinHttpPost, ProgressUnitsAndEndMessage) {
  g_posted.clear();
  const struct {
    int status;
    std::int64_t downloaded, total;
    Posted posted;
  } cases[] = {
      {1, 5, 10, {6366, 10, 5}},
      {1, 999999999, 1000000000, {6366, 1000000000, 999999999}},
      {1, 1000000000, 1000000001, {6366, 1000000, 1000000}},
      {4, 1500000000, 2000000000, {6366, 2000000, 1500000}},
      {1, 0, 4000000000LL, {6366, 4000000, 0}},
      {2, 1500000000, 2000000000, {6367, 1500000000, 2000000000}},
      {2, 0, 3000000, {6367, 0, 3000000}},
  };
  for (const auto& c : cases) AsyncWinHttp::postToWindow(testWindow(), nullptr, c.status, c.downloaded, c.total);
  ASSERT_TRUE(qxtest::settle());
  ASSERT_EQ(g_posted.size(), std::size(cases));
  for (size_t i = 0; i < g_posted.size(); ++i) {
    const Posted &got = g_posted[i], &want = cases[i].posted;
    EXPECT_EQ(std::tie(got.message, got.wParam, got.lParam), std::tie(want.message, want.wParam, want.lParam)) << i;
  }
}

} // namespace
