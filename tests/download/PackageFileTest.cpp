// The package file's side files when the program is stopped at any step of opening or
// of saving the record, and when the disk refuses a step: what the next run takes from
// them is always bytes of the package.
#include "download/PackageFile.h"
#include "download/TransferText.h"
#include "tests/download/HostPaths.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

const std::string kMd5 = "0123456789abcdef0123456789abcdef";

struct Killed {};

// What the step hook saw, where it stops the program and which call it fails.
std::vector<std::wstring> g_steps;
int g_killAt = -1;
const wchar_t* g_failing = nullptr;

bool onStep(const wchar_t* call) {
  if (static_cast<int>(g_steps.size()) == g_killAt)
    throw Killed{};
  g_steps.push_back(call);
  return !(g_failing && std::wcscmp(call, g_failing) == 0);
}

class PackageFileTest : public testing::Test {
protected:
  void SetUp() override {
    path_ = qxtest::hostPath(qxtest::scratchFolder("package-file")) + "\\setup.exe";
    wide_ = std::wstring(path_.begin(), path_.end());
    for (size_t i = 0; i < package_.size(); ++i) package_[i] = static_cast<char>((i * 2654435761u) >> 11);
    PackageFile::setStepHook(onStep);
    g_steps.clear();
    g_killAt = -1;
    g_failing = nullptr;
  }
  void TearDown() override { PackageFile::setStepHook(nullptr); }

  std::int64_t size() const { return static_cast<std::int64_t>(package_.size()); }
  std::string info() const { return sideFileText(size(), kMd5); }
  SegmentMap mapOf(std::initializer_list<SegmentMap::Range> ranges) const {
    SegmentMap map(size());
    for (const SegmentMap::Range& range : ranges) map.add(range.first, range.end);
    return map;
  }
  // A file of full size holding the package's bytes in `map` and others elsewhere.
  std::string extendedFile(const SegmentMap& map) const {
    std::string bytes(package_.size(), '\x5A');
    for (const SegmentMap::Range& range : map.ranges())
      bytes.replace(static_cast<size_t>(range.first), static_cast<size_t>(range.length()), package_,
                    static_cast<size_t>(range.first), static_cast<size_t>(range.length()));
    return bytes;
  }
  void leave(const std::string& file, const std::string& info, const std::string& parts) {
    for (const char* side : {"", ".info", ".parts", ".parts.new"}) DeleteFileA((path_ + side).c_str());
    EXPECT_TRUE(qxtest::writeFile(path_, file));
    EXPECT_TRUE(info.empty() || qxtest::writeFile(path_ + ".info", info));
    EXPECT_TRUE(parts.empty() || qxtest::writeFile(path_ + ".parts", parts));
  }

  // What the next run takes from the disk: every byte it counts on is the package's.
  SegmentMap nextRun() {
    PackageFile::setStepHook(nullptr);
    SegmentMap map;
    {
      PackageFile file;
      EXPECT_TRUE(file.open(wide_, size(), kMd5, map));
    }
    PackageFile::setStepHook(onStep);
    const std::string bytes = qxtest::readFile(path_);
    for (const SegmentMap::Range& range : map.ranges()) {
      const size_t first = static_cast<size_t>(range.first);
      const size_t length = static_cast<size_t>(range.length());
      EXPECT_TRUE(bytes.compare(first, length, package_, first, length) == 0)
          << "taken for the package's but not: " << range.first << "-" << range.end;
    }
    return map;
  }

  std::string path_;
  std::wstring wide_;
  std::string package_ = std::string(3 * 1024 * 1024 + 17, '\0');
};

// A stop after any step of open, from every state a run may leave; side files that
// already describe the file are not touched at all.
TEST_F(PackageFileTest, StoppedAtEveryStepOfOpen) {
  const SegmentMap held = mapOf({{0, 1 << 20}, {2 << 20, (2 << 20) + 4096}});
  const std::string heldFile = extendedFile(held);
  const std::string prefix = package_.substr(0, 123457);
  const std::string otherInfo = sideFileText(size() + 1, kMd5);
  SegmentMap otherMap(size() + 1);
  otherMap.add(0, size());
  struct Case {
    const char* label;
    std::string file, info, parts;
    bool matches;  // the side files describe the file: nothing changes
  } cases[] = {
      {"a record of this package", heldFile, info(), held.text(kMd5), true},
      {"a prefix of an earlier build", prefix, info(), "", true},
      {"another package's record", std::string(package_.size(), '\x5A'), otherInfo, otherMap.text(kMd5), false},
      {"a damaged record", heldFile, info(), held.text(kMd5).substr(0, 20), false},
      {"no side files", heldFile, "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    for (g_killAt = 0;; ++g_killAt) {
      SCOPED_TRACE(g_killAt);
      leave(c.file, c.info, c.parts);
      g_steps.clear();
      bool killed = false;
      try {
        PackageFile file;
        SegmentMap map;
        ASSERT_TRUE(file.open(wide_, size(), kMd5, map));
      } catch (const Killed&) {
        killed = true;
      }
      const SegmentMap next = nextRun();
      if (killed)
        continue;
      if (c.matches) {
        EXPECT_TRUE(g_steps.empty());
        EXPECT_EQ(next.ranges(), c.parts.empty() ? mapOf({{0, 123457}}).ranges() : held.ranges());
        EXPECT_EQ(qxtest::readFile(path_ + ".parts"), c.parts);
      } else {
        EXPECT_EQ(next.onDisk(), 0);
      }
      EXPECT_EQ(qxtest::readFile(path_ + ".info"), info());
      break;
    }
  }
  g_killAt = -1;
}

// Data before record, the record whole before it counts, the file's size only after;
// a stop between any two steps leaves the old record or the new, and the next run
// takes only the package's bytes.
TEST_F(PackageFileTest, ExtendAndSaveInOrderAndStoppedAtEveryStep) {
  const SegmentMap before = mapOf({{0, 1 << 20}});
  const SegmentMap after = mapOf({{0, 1 << 20}, {2 << 20, 3 << 20}});
  for (g_killAt = 0;; ++g_killAt) {
    SCOPED_TRACE(g_killAt);
    leave(package_.substr(0, 1 << 20), info(), "");
    g_steps.clear();
    bool killed = false;
    try {
      PackageFile file;
      SegmentMap map;
      ASSERT_TRUE(file.open(wide_, size(), kMd5, map));
      ASSERT_TRUE(file.extend(map));
      ASSERT_TRUE(file.handle() != INVALID_HANDLE_VALUE);
      const std::string bytes = extendedFile(after);
      DWORD put = 0;
      OVERLAPPED at{};
      at.Offset = 2 << 20;
      ASSERT_TRUE(WriteFile(file.handle(), bytes.data() + (2 << 20), 1 << 20, &put, &at));
      ASSERT_TRUE(file.saveRecord(after));
    } catch (const Killed&) {
      killed = true;
    }
    const std::vector<SegmentMap::Range> next = nextRun().ranges();
    EXPECT_TRUE(next == before.ranges() || next == after.ranges());
    if (!killed) {
      const std::vector<std::wstring> save = {L"FlushFileBuffers", L"WriteFile", L"FlushFileBuffers", L"MoveFileExW"};
      std::vector<std::wstring> expected = save;
      expected.push_back(L"SetEndOfFile");
      expected.insert(expected.end(), save.begin(), save.end());
      EXPECT_EQ(g_steps, expected);
      EXPECT_EQ(next, after.ranges());
      break;
    }
  }
  g_killAt = -1;
}

// A step the disk refuses: false with the call's name and error, the record before it
// still there and whole; an extension that cannot be recorded does not happen.
TEST_F(PackageFileTest, RefusedStepsKeepThePreviousRecord) {
  const SegmentMap held = mapOf({{0, 1 << 20}});
  for (const wchar_t* call : {L"FlushFileBuffers", L"WriteFile", L"MoveFileExW"}) {
    SCOPED_TRACE(std::string(call, call + std::wcslen(call)));
    leave(package_.substr(0, 1 << 20), info(), "");
    g_failing = call;
    PackageFile file;
    SegmentMap map;
    ASSERT_TRUE(file.open(wide_, size(), kMd5, map));
    EXPECT_FALSE(file.extend(map));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    EXPECT_STREQ(file.failedCall(), call);
    EXPECT_FALSE(file.partsInUse());
    EXPECT_EQ(qxtest::readFile(path_).size(), 1u << 20) << "extended without a record";

    g_failing = nullptr;
    ASSERT_TRUE(file.extend(map));
    g_failing = call;
    EXPECT_FALSE(file.saveRecord(mapOf({{0, 2 << 20}})));
    EXPECT_STREQ(file.failedCall(), call);
    EXPECT_EQ(qxtest::readFile(path_ + ".parts"), held.text(kMd5));
    EXPECT_FALSE(qxtest::fileExists(path_ + ".parts.new"));
    if (std::wcscmp(call, L"FlushFileBuffers") == 0) {
      EXPECT_FALSE(file.dropParts()) << "a complete file's bytes are on the disk before its record goes";
      EXPECT_TRUE(qxtest::fileExists(path_ + ".parts"));
    }
  }
}

} // namespace
