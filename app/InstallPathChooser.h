#pragma once
// The default install folder: the Program Files folder, moved to the fixed drive with the
// most free space at or after its own drive. Portable.
#include <string>

class DriveProbe;

// Free space in gigabytes, rounded half up to two decimals; 0 when the query fails.
double freeGigabytes(DriveProbe& probe, char letter);

// `programFiles` with its drive letter replaced by the chosen drive (unchanged when no
// drive has more than neededSpace × 2 / 1024 GB free).
std::string chooseInstallRoot(const std::string& programFiles, double neededSpaceMb, DriveProbe& probe);
