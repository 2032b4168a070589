#include "app/InstallPathChooser.h"

#include <gtest/gtest.h>

#include "tests/support/DriveTable.h"

namespace {

using qxtest::DriveTable;
using qxtest::kGiB;

TEST(InstallPathChooser, PicksTheDriveWithTheMostRoomAtOrAfterTheProgramFilesDrive) {
  const struct {
    const char* what;
    std::map<char, std::uint64_t> drives;
    const char* failing;
    const char* programFiles;
    const char* chosen;
  } cases[] = {
      {"moves to the most free space", {{'D', kGiB * 3 / 2}, {'G', 40 * kGiB}}, "", "D:\\Program Files",
       "G:\\Program Files"},
      {"stays when no drive has enough", {{'D', kGiB * 3 / 2}, {'G', kGiB * 3 / 2}}, "", "D:\\Program Files",
       "D:\\Program Files"},
      {"never a drive before it", {{'C', 500 * kGiB}, {'D', 3 * kGiB}}, "", "D:\\Program Files",
       "D:\\Program Files"},
      {"equal room keeps the earlier letter", {{'C', 10 * kGiB}, {'E', 10 * kGiB}}, "", "C:\\Program Files",
       "C:\\Program Files"},
      {"a failing query counts as no room", {{'C', 10 * kGiB}, {'F', 90 * kGiB}}, "F", "C:\\Program Files",
       "C:\\Program Files"},
      // 1000 MB needs twice that, more than 1.953125 GB: 1.95 GB free is not enough, 1.96 GB is.
      {"1.95 GB is short of twice the need", {{'C', kGiB}, {'D', static_cast<std::uint64_t>(1.95 * kGiB)}}, "",
       "C:\\PF", "C:\\PF"},
      {"1.96 GB is twice the need", {{'C', kGiB}, {'D', static_cast<std::uint64_t>(1.96 * kGiB)}}, "", "C:\\PF",
       "D:\\PF"},
  };
  for (const auto& c : cases) {
    DriveTable probe(c.drives, c.failing);
    EXPECT_EQ(chooseInstallRoot(c.programFiles, 1000, probe), c.chosen) << c.what;
    if (c.programFiles[0] == 'D') {
      EXPECT_EQ(probe.queries.count('C'), 0u) << c.what << ": asked a drive it may not choose";
    }
  }
}

TEST(InstallPathChooser, FreeSpaceIsRoundedHalfUpToTwoDecimalsAndAFailedQueryIsNone) {
  DriveTable probe({{'C', kGiB + kGiB / 160}, {'D', kGiB + kGiB / 250}, {'F', 90 * kGiB}}, "F");
  EXPECT_DOUBLE_EQ(freeGigabytes(probe, 'C'), 1.01);
  EXPECT_DOUBLE_EQ(freeGigabytes(probe, 'D'), 1.0);
  EXPECT_DOUBLE_EQ(freeGigabytes(probe, 'F'), 0.0);
}

} // namespace
