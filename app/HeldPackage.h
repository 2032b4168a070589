#pragma once
// A package file held from its check to its start: opened once for reading, with others
// allowed to read only, so nobody can write, rename or delete it until the process made
// from it is running. Its digests and its signature are read through this handle, so
// the file that was checked is the file that starts. UI thread, or one reader at a time.
#include <memory>
#include <string>
#include <utility>

class HeldPackage {
public:
  // Null when the file cannot be opened so, or is a reparse point.
  static std::unique_ptr<HeldPackage> open(const std::wstring& path);
  ~HeldPackage();
  HeldPackage(const HeldPackage&) = delete;
  HeldPackage& operator=(const HeldPackage&) = delete;

  const std::wstring& path() const { return path_; }
  // The file's HANDLE.
  void* handle() const { return handle_; }
  // Lowercase hex digests of the whole file, read through the handle; empty on failure.
  std::string md5() const;
  std::string sha256() const;

private:
  HeldPackage(std::wstring path, void* handle) : path_(std::move(path)), handle_(handle) {}
  std::string digest(unsigned algorithm) const;

  std::wstring path_;
  void* handle_;
};
