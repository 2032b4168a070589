#pragma once
// What the install-path choice asks of the machine's drives; the Windows answer is in
// InstallManager.cpp, tests answer with a table of their own.
#include <cstdint>

class DriveProbe {
public:
  virtual ~DriveProbe() = default;
  // Bit 0 is drive "A".
  virtual uint32_t logicalDrives() = 0;
  // True for a fixed disk whose root exists.
  virtual bool isFixedDrive(char letter) = 0;
  // Bytes available to the caller; false when the query fails.
  virtual bool freeBytes(char letter, uint64_t& bytes) = 0;
};
