// The package file's side files when the program is stopped at any step of opening or
// of saving the record, and when the disk refuses a step: what the next run takes from
// them is always bytes of the package.
#include "download/PackageFile.h"
#include "download/TransferText.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

using Ranges = std::vector<SegmentMap::Range>;
const std::string kMd5 = "0123456789abcdef0123456789abcdef";
struct Killed {};

// The steps the hook saw; the program is stopped before step g_killAt, and g_failing's
// call is refused.
std::vector<std::wstring> g_steps;
int g_killAt = -1;
const wchar_t* g_failing = nullptr;

bool onStep(const wchar_t* call) {
  if (static_cast<int>(g_steps.size()) == g_killAt) throw Killed{};
  g_steps.push_back(call);
  return !(g_failing && std::wcscmp(call, g_failing) == 0);
}

class PackageFileTest : public testing::Test {
protected:
  void SetUp() override {
    for (size_t i = 0; i < package_.size(); ++i) package_[i] = static_cast<char>((i * 2654435761u) >> 11);
    g_steps.clear();
    g_killAt = -1;
    g_failing = nullptr;
  }
  void TearDown() override { PackageFile::setStepHook(nullptr); }

  std::int64_t size() const { return static_cast<std::int64_t>(package_.size()); }
  std::string info() const { return sideFileText(size(), kMd5); }
  SegmentMap map(const Ranges& ranges, std::int64_t of = 0) const {
    SegmentMap out(of ? of : size());
    for (const SegmentMap::Range& range : ranges) out.add(range.first, range.end);
    return out;
  }
  // A file of full size with the package's bytes in `ranges` and others elsewhere.
  std::string fileWith(const Ranges& ranges) const {
    std::string bytes(package_.size(), 'Z');
    for (const SegmentMap::Range& r : ranges)
      bytes.replace(r.first, r.length(), package_, r.first, r.length());
    return bytes;
  }
  void leave(const std::string& file, const std::string& info, const std::string& parts) {
    for (const char* side : {".info", ".parts", ".parts.new"}) DeleteFileA((path_ + side).c_str());
    EXPECT_TRUE(qxtest::writeFile(path_, file));
    EXPECT_TRUE(info.empty() || qxtest::writeFile(path_ + ".info", info));
    EXPECT_TRUE(parts.empty() || qxtest::writeFile(path_ + ".parts", parts));
    g_steps.clear();
    PackageFile::setStepHook(onStep);
  }
  // Opens the file as a download does and runs `steps` on it, stopped where g_killAt
  // says; true when it ran to its end.
  template <typename F>
  bool runUntilKilled(F steps) try {
    PackageFile file;
    SegmentMap held;
    EXPECT_TRUE(file.open(wide_, size(), kMd5, held));
    steps(file, held);
    return true;
  } catch (const Killed&) {
    return false;
  }
  // What the next run takes from the disk: every byte it counts on is the package's.
  Ranges nextRun() {
    PackageFile::setStepHook(nullptr);
    SegmentMap held;
    PackageFile file;
    EXPECT_TRUE(file.open(wide_, size(), kMd5, held));
    validator_ = file.validator();
    const std::string bytes = qxtest::readFile(path_);
    for (const SegmentMap::Range& r : held.ranges())
      EXPECT_TRUE(bytes.compare(r.first, r.length(), package_, r.first, r.length()) == 0)
          << "taken for the package's but not: " << r.first << "-" << r.end;
    return held.ranges();
  }

  std::string path_ = qxtest::hostPath(qxtest::scratchFolder("package-file")) + "\\setup.exe";
  std::wstring wide_ = std::wstring(path_.begin(), path_.end());
  std::string package_ = std::string(3 * 1024 * 1024 + 17, '\0');
  std::string validator_;  // the next run's
};

// Stopped after any step of open, from each state a run may leave. Side files that
// already describe the file are not touched; anything else is started over.
TEST_F(PackageFileTest, StoppedAtEveryStepOfOpen) {
  const Ranges held = {{0, 1 << 20}, {2 << 20, (2 << 20) + 4096}};
  const std::string prefix = package_.substr(0, 123457);
  const std::string other = "fedcba9876543210fedcba9876543210";
  const struct {
    const char* label;
    std::string file, info, parts;
    Ranges kept;  // empty: started over
  } cases[] = {
      {"its record", fileWith(held), info(), map(held).text(kMd5), held},
      {"a prefix of an earlier build", prefix, info(), "", {{0, 123457}}},
      {"another package's record", fileWith({}), sideFileText(size() + 1, kMd5),
       map({{0, size()}}, size() + 1).text(kMd5), {}},
      {"a damaged record", fileWith(held), info(), map(held).text(kMd5).substr(0, 20), {}},
      {"no side files", fileWith(held), "", "", {}},
      {"another digest", prefix, sideFileText(size(), other), "", {}},
      {"the digest in other case", prefix, sideFileText(size(), "0123456789ABCDEF0123456789ABCDEF"), "", {}},
      {"a line feed after the info", prefix, info() + "\n", "", {}},
      {"longer than the package", package_ + "tail", info(), "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    for (g_killAt = 0;; ++g_killAt) {
      SCOPED_TRACE(g_killAt);
      leave(c.file, c.info, c.parts);
      const bool ran = runUntilKilled([](PackageFile&, SegmentMap&) {});
      const Ranges next = nextRun();
      if (!ran) continue;
      EXPECT_EQ(next, c.kept);
      EXPECT_EQ(g_steps.empty(), !c.kept.empty()) << "side files that matched were touched";
      EXPECT_EQ(qxtest::readFile(path_ + ".info"), info());
      EXPECT_EQ(qxtest::readFile(path_ + ".parts"), c.parts.empty() || c.kept.empty() ? "" : c.parts);
      break;
    }
  }
}

// Data before record, the record whole before it counts, the file's size only after:
// a stop between any two steps of an extension and a save leaves the old record or the
// new, and the next run takes only the package's bytes, and the server's validator.
TEST_F(PackageFileTest, ExtendedAndSavedStoppedAtEveryStep) {
  const Ranges before = {{0, 1 << 20}};
  const Ranges after = {{0, 1 << 20}, {2 << 20, 3 << 20}};
  for (g_killAt = 0;; ++g_killAt) {
    SCOPED_TRACE(g_killAt);
    leave(package_.substr(0, 1 << 20), info(), "");
    const bool ran = runUntilKilled([&](PackageFile& file, SegmentMap& held) {
      file.setValidator("W/\"5f-1a\"");
      ASSERT_TRUE(file.extend(held));
      DWORD put = 0;
      OVERLAPPED at{};
      at.Offset = 2 << 20;
      ASSERT_TRUE(WriteFile(file.handle(), package_.data() + (2 << 20), 1 << 20, &put, &at));
      ASSERT_TRUE(file.saveRecord(map(after)));
    });
    const Ranges next = nextRun();
    EXPECT_TRUE(next == before || next == after);
    if (ran) {
      EXPECT_EQ(next, after);
      EXPECT_EQ(validator_, "W/\"5f-1a\"");
      EXPECT_EQ(qxtest::readFile(path_ + ".parts"), map(after).text(kMd5, "W/\"5f-1a\""));
      EXPECT_EQ(g_steps, (std::vector<std::wstring>{L"FlushFileBuffers", L"WriteFile", L"FlushFileBuffers",
                                                    L"MoveFileExW", L"SetEndOfFile", L"FlushFileBuffers",
                                                    L"WriteFile", L"FlushFileBuffers", L"MoveFileExW"}));
      break;
    }
  }
}

// A step the disk refuses: false, with the call's name and error, and the record before
// it still whole; an extension that cannot be recorded does not happen.
TEST_F(PackageFileTest, RefusedStepsKeepThePreviousRecord) {
  for (const wchar_t* call : {L"FlushFileBuffers", L"WriteFile", L"MoveFileExW"}) {
    SCOPED_TRACE(std::string(call, call + std::wcslen(call)));
    leave(package_.substr(0, 1 << 20), info(), "");
    PackageFile file;
    SegmentMap held;
    ASSERT_TRUE(file.open(wide_, size(), kMd5, held));
    g_failing = call;
    EXPECT_FALSE(file.extend(held));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    EXPECT_STREQ(file.failedCall(), call);
    EXPECT_EQ(qxtest::readFile(path_).size(), 1u << 20) << "extended without a record";
    EXPECT_FALSE(qxtest::fileExists(path_ + ".parts"));

    g_failing = nullptr;
    ASSERT_TRUE(file.extend(held));
    g_failing = call;
    EXPECT_FALSE(file.saveRecord(map({{0, 2 << 20}})));
    EXPECT_STREQ(file.failedCall(), call);
    EXPECT_EQ(qxtest::readFile(path_ + ".parts"), held.text(kMd5));
    EXPECT_FALSE(qxtest::fileExists(path_ + ".parts.new"));
    // A complete file's bytes reach the disk before its record goes.
    EXPECT_EQ(file.dropParts(), std::wcscmp(call, L"FlushFileBuffers") != 0);
  }
}

} // namespace
