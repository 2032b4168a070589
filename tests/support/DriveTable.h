#pragma once
// A drive table for the install-path choice: letter → free bytes. A letter missing from
// the table is no fixed drive; a letter in `failing` is one whose free-space query fails.
#include <cstdint>
#include <map>
#include <string>

#include "app/DriveProbe.h"

namespace qxtest {

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

class DriveTable : public DriveProbe {
public:
  explicit DriveTable(std::map<char, std::uint64_t> drives, std::string failing = "")
      : drives_(std::move(drives)), failing_(std::move(failing)) {}
  std::uint32_t logicalDrives() override {
    std::uint32_t mask = 0;
    for (const auto& d : drives_)
      mask |= 1u << (d.first - 'A');
    return mask;
  }
  bool isFixedDrive(char letter) override { return drives_.count(letter) > 0; }
  bool freeBytes(char letter, std::uint64_t& bytes) override {
    ++queries[letter];
    if (failing_.find(letter) != std::string::npos)
      return false;
    bytes = drives_.at(letter);
    return true;
  }
  std::map<char, int> queries;

private:
  std::map<char, std::uint64_t> drives_;
  std::string failing_;
};

} // namespace qxtest
