#include "app/InstallPathChooser.h"

#include <cctype>
#include <cstdint>

#include "app/DriveProbe.h"

double freeGigabytes(DriveProbe& probe, char letter) {
  uint64_t bytes = 0;
  if (!probe.freeBytes(letter, bytes))
    return 0.0;
  const double gigabytes = static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0);
  return static_cast<double>(static_cast<uint64_t>(gigabytes * 100.0 + 0.5)) / 100.0;
}

std::string chooseInstallRoot(const std::string& programFiles, double neededSpaceMb, DriveProbe& probe) {
  const double needed = neededSpaceMb * 2.0 / 1024.0;
  uint32_t mask = probe.logicalDrives();
  char letter = 'A';
  // Drives before the Program Files drive are never considered.
  const char first = programFiles.empty() ? 'A' : static_cast<char>(std::toupper(static_cast<unsigned char>(programFiles[0])));
  if (first > 'A' && first <= 'Z') {
    mask >>= first - 'A';
    letter = first;
  }
  bool found = false;
  char best = 0;
  double bestFree = 0.0;
  for (; mask != 0 && letter <= 'Z'; ++letter, mask >>= 1) {
    if (!probe.isFixedDrive(letter))
      continue;
    const double free = freeGigabytes(probe, letter);
    if (free > needed) {
      found = true;
      if (free > bestFree) {
        best = letter;
        bestFree = free;
      }
    }
  }
  std::string root = programFiles;
  if (found && !root.empty())
    root[0] = best;
  return root;
}
