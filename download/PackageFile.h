#pragma once
// The package file a download writes and its two side files: ".info" names the package
// the partial file belongs to (its size and digest), ".parts" which byte ranges are on
// disk while several connections write the file in place. A file without ".parts" holds
// a prefix of the package, as earlier builds left it.
#include <windows.h>

#include <cstdint>
#include <string>

#include "download/SegmentMap.h"

// Used under its owner's lock.
class PackageFile {
public:
  PackageFile() = default;
  ~PackageFile();
  PackageFile(const PackageFile&) = delete;
  PackageFile& operator=(const PackageFile&) = delete;

  // Opens `path` for writing (readers may share it) and fills `map` with what a partial
  // file of this package holds; a partial file of another package, or whose ".parts" is
  // damaged or names another package, is started over. `size` 0: not known. False, with
  // the system's error code, when the file cannot be opened.
  bool open(const std::wstring& path, std::int64_t size, const std::string& md5, SegmentMap& map);
  HANDLE handle() const { return file_; }
  const std::wstring& infoPath() const { return infoPath_; }

  // Gives the file its full size so that ranges are written in place, after recording
  // `map` in ".parts" (a file of full size without it would pass for complete). False
  // when the disk refused; the file is then as before.
  bool extend(const SegmentMap& map);
  // Whether ".parts" is kept: the file was extended or had one when opened.
  bool partsInUse() const { return partsInUse_; }
  // Records `map` in ".parts" when it is kept; at most once a second unless `now`.
  void saveParts(const SegmentMap& map, bool now);
  // The file holds a prefix again (it was cut to nothing, or is complete).
  void dropParts();
  // Replaces ".parts" with `text`, written beside and moved over; false when the disk
  // refused (the previous record is then whole).
  bool saveRecord(const std::string& text);
  // Gives the file `size` bytes, so that ranges are written in place.
  bool setSize(std::int64_t size);
  // The server's validator the record kept ("" when none).
  const std::string& validator() const { return validator_; }
  void close();

  // The space the target at `path` already takes toward the package: the size of a
  // partial file this package's download would continue, else 0. Reads only.
  static std::int64_t heldBytes(const std::wstring& path, std::int64_t size, const std::string& md5);

private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::wstring path_;
  std::wstring infoPath_;
  std::wstring partsPath_;
  std::string md5_;
  bool partsInUse_ = false;
  ULONGLONG lastSave_ = 0;
  std::string validator_;
};
