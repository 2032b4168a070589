// The digest that follows a file being written: what was on disk first, then each
// stretch as the writer reports it, restarts, an unknown size, and stopping early.
#include "download/DigestFollower.h"

#include "download/CMD5Checksum.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

std::string pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
  return bytes;
}

// Waits, bounded, for the follower's thread to get there.
template <typename F>
bool eventually(F done) {
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

class DigestFollowerTest : public testing::Test {
protected:
  static void onReady(void* context) { ++static_cast<DigestFollowerTest*>(context)->readyCalls_; }

  void start(std::int64_t onDisk, std::int64_t size) { follower_.start(wide_, onDisk, size, &onReady, this); }

  void append(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  const std::string path_ = qxtest::scratchFolder("follower") + "/package.bin";
  const std::wstring wide_{path_.begin(), path_.end()};
  std::atomic<int> readyCalls_{0};
  DigestFollower follower_;
};

// A resumed download: the part on disk is hashed at once, the rest as it is written,
// in pieces that straddle the reader's chunks; the digest is of the whole file.
TEST_F(DigestFollowerTest, HashesThePrefixThenFollowsTheWriter) {
  const std::string whole = pattern(3 * CMD5Checksum::kChunkSize + 12345, 1);
  const size_t prefix = CMD5Checksum::kChunkSize + 7;
  append(whole.substr(0, prefix));
  start(static_cast<std::int64_t>(prefix), static_cast<std::int64_t>(whole.size()));
  for (size_t at = prefix; at < whole.size();) {
    const size_t n = std::min<size_t>(whole.size() - at, 999983);
    append(whole.substr(at, n));
    at += n;
    EXPECT_FALSE(follower_.ready() && at < whole.size()) << "ready before the last byte";
    follower_.advance(static_cast<std::int64_t>(at));
  }
  ASSERT_TRUE(eventually([&] { return follower_.ready(); }));
  EXPECT_EQ(follower_.digest(), qxtest::digestOf(whole));
  EXPECT_EQ(follower_.hashed(), static_cast<std::int64_t>(whole.size()));
  EXPECT_EQ(readyCalls_, 1);
}

// A file complete on disk needs no writer at all; an empty one has the empty digest.
TEST_F(DigestFollowerTest, CompleteFileAndEmptyFile) {
  const std::string whole = pattern(5000000, 2);
  append(whole);
  start(static_cast<std::int64_t>(whole.size()), static_cast<std::int64_t>(whole.size()));
  ASSERT_TRUE(eventually([&] { return follower_.ready(); }));
  EXPECT_EQ(follower_.digest(), qxtest::digestOf(whole));
  EXPECT_EQ(std::remove(path_.c_str()), 0) << "the package must be free to delete once verified";

  const std::string empty = qxtest::scratchFolder("follower-empty") + "/empty.bin";
  ASSERT_TRUE(qxtest::writeFile(empty, ""));
  DigestFollower other;
  other.start(std::wstring(empty.begin(), empty.end()), 0, 0, nullptr, nullptr);
  ASSERT_TRUE(eventually([&] { return other.ready(); }));
  EXPECT_EQ(other.digest(), "D41D8CD98F00B204E9800998ECF8427E");
}

// The server sent everything again: the bytes hashed so far are forgotten.
TEST_F(DigestFollowerTest, RestartForgetsWhatWasHashed) {
  const std::string stale = pattern(2 * CMD5Checksum::kChunkSize, 3);
  const std::string whole = pattern(2 * CMD5Checksum::kChunkSize + 99, 4);
  append(stale);
  start(static_cast<std::int64_t>(stale.size()), static_cast<std::int64_t>(whole.size()));
  ASSERT_TRUE(eventually([&] { return follower_.hashed() == static_cast<std::int64_t>(stale.size()); }));
  ASSERT_TRUE(qxtest::writeFile(path_, ""));
  follower_.restart();
  EXPECT_EQ(follower_.hashed(), 0);
  append(whole);
  follower_.advance(static_cast<std::int64_t>(whole.size()));
  ASSERT_TRUE(eventually([&] { return follower_.ready(); }));
  EXPECT_EQ(follower_.digest(), qxtest::digestOf(whole));
  EXPECT_EQ(readyCalls_, 1);
}

// Without a known size the digest waits for the writer to say where the file ends.
TEST_F(DigestFollowerTest, UnknownSizeWaitsForTheEnd) {
  const std::string whole = pattern(300000, 5);
  append(whole);
  start(0, -1);
  follower_.advance(static_cast<std::int64_t>(whole.size()));
  EXPECT_TRUE(eventually([&] { return follower_.hashed() == static_cast<std::int64_t>(whole.size()); }));
  EXPECT_FALSE(follower_.ready());
  follower_.setSize(static_cast<std::int64_t>(whole.size()));
  ASSERT_TRUE(eventually([&] { return follower_.ready(); }));
  EXPECT_EQ(follower_.digest(), qxtest::digestOf(whole));
}

// Bytes said to be on disk that cannot be read back: after its tries the follower tells
// of a disk error, never of a digest of what it could read. Stopped before the last byte
// instead: never ready, no callback, and the worker ends at once.
TEST_F(DigestFollowerTest, ReadBackFailureOrAStopIsNoDigest) {
  append(pattern(1000, 7));
  follower_.setReadPatience(3, 1);
  start(1000, 2000);
  follower_.advance(2000);
  ASSERT_TRUE(eventually([&] { return readyCalls_ == 1; }));
  EXPECT_TRUE(follower_.failed());
  EXPECT_EQ(follower_.hashed(), 1000);

  DigestFollower stopped;
  stopped.start(wide_, 1000, 2000, &onReady, this);
  stopped.stop();
  for (const DigestFollower* f : {&follower_, &stopped}) {
    EXPECT_FALSE(f->ready());
    EXPECT_EQ(f->digest(), "");
  }
  EXPECT_EQ(readyCalls_, 1) << "no callback after the stop";
}

} // namespace
