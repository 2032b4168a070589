#pragma once
// The package file a download writes and its two side files: ".info" names the package
// the partial file belongs to (its size and digest), ".parts" which byte ranges are on
// disk while several connections write the file in place, and which version of the
// server's file they are of (SegmentMap's text: an "If-Range: " line with the ETag or
// Last-Modified; records of earlier builds have none). A file without ".parts" holds a
// prefix of the package, as earlier builds left it.
//
// What the side files say must hold after a stop at any instant, a power cut included:
// a file is cut before the record that vouched for its bytes goes, a record never names
// bytes that are not flushed yet, and a record is replaced whole or not at all.
#include <windows.h>

#include <cstdint>
#include <string>

#include "download/SegmentMap.h"

// Used under its owner's lock. Calls that return false leave the system's error code
// (GetLastError) and name the call that failed in failedCall().
class PackageFile {
public:
  PackageFile() = default;
  ~PackageFile();
  PackageFile(const PackageFile&) = delete;
  PackageFile& operator=(const PackageFile&) = delete;

  // Opens `path` for writing (readers may share it) and fills `map` with what a partial
  // file of this package holds. Side files that already describe it are left as they
  // are; a partial file of another package, or whose ".parts" is damaged or names
  // another package, is cut to nothing before its side files change. `size` 0: not
  // known. False when the file cannot be opened or cut.
  bool open(const std::wstring& path, std::int64_t size, const std::string& md5, SegmentMap& map);
  HANDLE handle() const { return file_; }
  const std::wstring& infoPath() const { return infoPath_; }

  // Gives the file its full size so that ranges are written in place, after recording
  // `map` in ".parts" (a file of full size without it would pass for complete). False
  // when the disk refused either; the file and its side files are then as before.
  bool extend(const SegmentMap& map);
  // Whether ".parts" is kept: the file was extended or had one when opened.
  bool partsInUse() const { return partsInUse_; }
  // The same with the record's text made by the caller (the transfer engine), who made
  // the bytes it names durable first: `text` is recorded, then the file takes `size`.
  bool extend(std::int64_t size, const std::string& text);
  // The server's validator the record keeps, as opened or last set; empty for none.
  // One with a line break is none: no header holds one.
  const std::string& validator() const { return validator_; }
  void setValidator(const std::string& validator);
  // The ".parts" text of `map` with the validator.
  std::string recordText(const SegmentMap& map) const;

  // The bytes written so far reach the disk.
  bool flushData();
  // When ".parts" is kept, records `map` in it for good: the data is flushed first, then
  // the record is replaced as replaceRecord does. False when the disk refused; the
  // previous record then still stands, and holds.
  bool saveRecord(const SegmentMap& map);
  // ".parts" becomes `text`, whose bytes the caller made durable: written beside the old
  // record, flushed, and moved over it with write-through. False when the disk refused.
  bool replaceRecord(const std::string& text);
  // The file holds a prefix again (it was cut to nothing, or is complete): its data is
  // flushed, then ".parts", if kept, goes. False when the flush failed; ".parts" stays.
  bool dropParts();
  void close();

  // The system call that failed last.
  const wchar_t* failedCall() const { return failedCall_; }

  // The space the target at `path` already takes toward the package: the size of a
  // partial file this package's download would continue, else 0. Reads only.
  static std::int64_t heldBytes(const std::wstring& path, std::int64_t size, const std::string& md5);

#ifdef QX_TEST_HOOKS
  // Before each step that changes the disk the hook is told the system call's name. It
  // returns false to fail that step as the system would, or throws to stop the program
  // there as a kill would. Null removes it.
  using StepHook = bool (*)(const wchar_t* call);
  static void setStepHook(StepHook hook);
#endif

private:
  bool writeRecord(const std::wstring& path, const std::string& text);
  bool failed(const wchar_t* call);

  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::wstring path_;
  std::wstring infoPath_;
  std::wstring partsPath_;
  std::string md5_;
  std::string validator_;
  bool partsInUse_ = false;
  const wchar_t* failedCall_ = L"";
};
