// The MD5 checksum against RFC 1321's test suite, the chunk boundaries of the file loop
// and md5sum's digests of random files (made by md5sum-cases.sh).
#include "download/CMD5Checksum.h"
#include "download/FileReader.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>

namespace {

struct RfcCase {
  const char* input;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const RfcCase kRfcSuite[] = {
    {"", "D41D8CD98F00B204E9800998ECF8427E"},
    {"a", "0CC175B9C0F1B6A831C399E269772661"},
    {"abc", "900150983CD24FB0D6963F7D28E17F72"},
    {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
    {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "D174AB98D277D9F5A5611C2C9F419D9F"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57EDF4A22BE3C955AC49DA2E2107B67A"},
};

// In memory, after a reset of other bytes, and from a file by an object that had been
// fed other bytes; an empty, missing or unreadable file has the empty digest.
TEST(MD5Checksum, RfcSuiteInMemoryAfterAResetAndFromFiles) {
  const std::string dir = qxtest::scratchFolder("md5-rfc");
  int n = 0;
  for (const RfcCase& c : kRfcSuite) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(qxtest::digestOf(c.input), c.digest);
    CMD5Checksum md5;
    md5.update("garbage", 7);
    md5.reset();
    md5.update(c.input, std::strlen(c.input));
    EXPECT_EQ(CMD5Checksum::toHex(md5.finish()), c.digest);
    const std::string path = dir + "/case" + std::to_string(n++) + ".txt";
    ASSERT_TRUE(qxtest::writeFile(path, c.input));
    md5.update("left over", 9);
    EXPECT_EQ(md5.digestFile(path), c.digest);
  }
  ASSERT_TRUE(qxtest::writeFile(dir + "/empty.bin", ""));
  // A folder is not a file.
  const std::string missing = "no such folder/missing.bin";
  for (const std::string& path : {dir + "/empty.bin", dir + "/missing.bin", missing, dir}) {
    CMD5Checksum md5;
    EXPECT_EQ(md5.digestFile(std::wstring(path.begin(), path.end())), "D41D8CD98F00B204E9800998ECF8427E") << path;
  }
}

// Any split of the input into update calls gives the same digest, also splits that
// leave the block buffer partly filled across calls and those that cross the padding.
TEST(MD5Checksum, SplitUpdatesMatchOneShot) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += static_cast<char>((i * 131 + 7) & 0xFF);
  const std::string whole = qxtest::digestOf(data);
  for (size_t step : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 999u}) {
    SCOPED_TRACE(step);
    CMD5Checksum md5;
    for (size_t at = 0; at < data.size(); at += step)
      md5.update(data.data() + at, std::min(step, data.size() - at));
    EXPECT_EQ(CMD5Checksum::toHex(md5.finish()), whole);
  }
}

// A wide path with characters outside the ANSI code page reaches the file.
TEST(MD5Checksum, WidePathWithChineseName) {
  const std::string dir = qxtest::scratchFolder("md5-wide");
  std::wstring wdir(dir.begin(), dir.end());
  const std::wstring name = wdir + L"/\u5b89\u88c5\u5305.bin";
  {
#ifdef _WIN32
    std::ofstream out(name.c_str(), std::ios::binary);
#else
    std::ofstream out(dir + "/\xe5\xae\x89\xe8\xa3\x85\xe5\x8c\x85.bin", std::ios::binary);
#endif
    out << "message digest";
  }
  CMD5Checksum md5;
  EXPECT_EQ(md5.digestFile(name), "F96B697D7CB7938D525A2F31AAF161D0");
}

// A file whose size says more than it holds (a kernel attribute file: 4096 bytes by its
// size, a few by its contents): the loop ends at the first empty read with the digest of
// what was read, instead of reading nothing forever.
TEST(MD5Checksum, FileShorterThanItsSizeEndsAtTheEmptyRead) {
  const std::string path = qxtest::hostPath("/sys/devices/system/cpu/online");
  const std::string contents = qxtest::readFile(path);
  if (contents.empty()) GTEST_SKIP() << "no " << path;
  auto digest = std::async(std::launch::async, [&] {
    CMD5Checksum md5;
    return md5.digestFile(path);
  });
  if (digest.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    std::fprintf(stderr, "digestFile did not return for %s\n", path.c_str());
    std::_Exit(1);
  }
  EXPECT_EQ(digest.get(), qxtest::digestOf(contents));
}

// Files from md5sum-cases.sh: lengths around the padding and one and two 4 MiB chunks,
// larger ones, and zeros past 512 MiB, where the low word of the bit count carries into
// the high word.
TEST(MD5Checksum, RandomFilesMatchMd5sum) {
  const std::string dir = qxtest::env("QX_MD5_CASES");
  if (dir.empty()) GTEST_SKIP() << "run through md5sum-cases.sh";
  std::ifstream sums(qxtest::hostPath(dir + "/SUMS"));
  ASSERT_TRUE(sums) << "no SUMS in " << dir;
  int checked = 0;
  for (std::string digest, name; sums >> digest >> name; ++checked) {
    CMD5Checksum md5;
    EXPECT_EQ(md5.digestFile(qxtest::hostPath(dir + "/" + name)), digest) << name;
  }
  EXPECT_GE(checked, 12);
}

// The reader behind every digest takes sizes and positions past 4 GiB whole.
TEST(MD5Checksum, ReaderSizeAndPositionPast4GiB) {
  const std::string dir = qxtest::env("QX_MD5_CASES");
  if (dir.empty()) GTEST_SKIP() << "run through md5sum-cases.sh";
  FileReader file(qxtest::hostPath(dir + "/sparse-4g.bin"));
  ASSERT_TRUE(file.isOpen());
  const std::int64_t fourGiB = std::int64_t(1) << 32;
  EXPECT_EQ(file.size(), fourGiB + 10);
  ASSERT_TRUE(file.seek(fourGiB));
  char tail[16] = {};
  EXPECT_EQ(file.read(tail, sizeof tail), 10u);
  EXPECT_EQ(std::string(tail), "tail bytes");
}

} // namespace
