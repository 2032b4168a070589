#include "app/InstallPathChooser.h"

#include <gtest/gtest.h>

#include <map>

#include "app/DriveProbe.h"

namespace {

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;

// A drive table: letter → free bytes; a missing entry is not a fixed drive.
class TableProbe : public DriveProbe {
public:
  explicit TableProbe(std::map<char, uint64_t> drives, std::string failing = "")
      : drives_(std::move(drives)), failing_(std::move(failing)) {}
  uint32_t logicalDrives() override {
    uint32_t mask = 0;
    for (const auto& d : drives_)
      mask |= 1u << (d.first - 'A');
    return mask;
  }
  bool isFixedDrive(char letter) override { return drives_.count(letter) > 0; }
  bool freeBytes(char letter, uint64_t& bytes) override {
    ++queries[letter];
    if (failing_.find(letter) != std::string::npos)
      return false;
    bytes = drives_.at(letter);
    return true;
  }
  std::map<char, int> queries;

private:
  std::map<char, uint64_t> drives_;
  std::string failing_;
};

TEST(InstallPathChooser, MovesToTheDriveWithTheMostFreeSpace) {
  TableProbe probe({{'D', kGiB * 3 / 2}, {'G', 40 * kGiB}});
  EXPECT_EQ(chooseInstallRoot("D:\\Program Files", 1000, probe), "G:\\Program Files");
}

TEST(InstallPathChooser, StaysWhenNoDriveHasEnoughSpace) {
  TableProbe probe({{'D', kGiB * 3 / 2}, {'G', kGiB * 3 / 2}});
  EXPECT_EQ(chooseInstallRoot("D:\\Program Files", 1000, probe), "D:\\Program Files");
}

TEST(InstallPathChooser, DrivesBeforeTheProgramFilesDriveAreNeverChosen) {
  TableProbe probe({{'C', 500 * kGiB}, {'D', 3 * kGiB}});
  EXPECT_EQ(chooseInstallRoot("D:\\Program Files", 1000, probe), "D:\\Program Files");
  EXPECT_EQ(probe.queries.count('C'), 0u);
}

TEST(InstallPathChooser, EqualFreeSpaceKeepsTheEarlierLetter) {
  TableProbe probe({{'C', 10 * kGiB}, {'E', 10 * kGiB}});
  EXPECT_EQ(chooseInstallRoot("C:\\Program Files", 1000, probe), "C:\\Program Files");
}

TEST(InstallPathChooser, AFailingQueryCountsAsNoSpace) {
  TableProbe probe({{'C', 10 * kGiB}, {'F', 90 * kGiB}}, "F");
  EXPECT_EQ(chooseInstallRoot("C:\\Program Files", 1000, probe), "C:\\Program Files");
  EXPECT_DOUBLE_EQ(freeGigabytes(probe, 'F'), 0.0);
}

TEST(InstallPathChooser, FreeSpaceIsRoundedHalfUpToTwoDecimals) {
  TableProbe probe({{'C', kGiB + kGiB / 160}, {'D', kGiB + kGiB / 250}});
  EXPECT_DOUBLE_EQ(freeGigabytes(probe, 'C'), 1.01);
  EXPECT_DOUBLE_EQ(freeGigabytes(probe, 'D'), 1.0);
}

TEST(InstallPathChooser, NeededSpaceIsTwiceTheConfiguredMegabytes) {
  // 1000 MB needs more than 1.953125 GB: 1.95 GB free is not enough, 1.96 GB is.
  TableProbe tooSmall({{'C', 1 * kGiB}, {'D', static_cast<uint64_t>(1.95 * kGiB)}});
  EXPECT_EQ(chooseInstallRoot("C:\\PF", 1000, tooSmall), "C:\\PF");
  TableProbe enough({{'C', 1 * kGiB}, {'D', static_cast<uint64_t>(1.96 * kGiB)}});
  EXPECT_EQ(chooseInstallRoot("C:\\PF", 1000, enough), "D:\\PF");
}

} // namespace
