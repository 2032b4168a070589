#pragma once
// Sequential reads of a file that other readers, and writers, may have open at the same
// time: the digest reads back a package while the download is still writing it.
// Portable: the Windows and POSIX calls stay in the .cpp.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One reader per thread.
class FileReader {
public:
  // Narrow paths are in the ANSI code page on Windows and native bytes elsewhere.
  explicit FileReader(const std::wstring& path);
  explicit FileReader(const std::string& path);
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  bool isOpen() const;
  // The current size in bytes; -1 when it cannot be taken.
  std::int64_t size() const;
  // Moves the read position; false when that fails.
  bool seek(std::int64_t offset);
  // Bytes read into `buffer`, 0 at the end or on failure.
  std::size_t read(void* buffer, std::size_t size);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
