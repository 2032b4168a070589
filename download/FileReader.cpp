#include "download/FileReader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#ifdef _WIN32

struct FileReader::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {
// Readers and writers may share: the download keeps writing while the digest reads,
// and a file being read may still be deleted.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
} // namespace

FileReader::FileReader(const std::wstring& path) : impl_(std::make_unique<Impl>()) {
  impl_->handle = CreateFileW(path.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
}

FileReader::FileReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->handle = CreateFileA(path.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
}

FileReader::~FileReader() {
  if (isOpen())
    CloseHandle(impl_->handle);
}

bool FileReader::isOpen() const { return impl_->handle != INVALID_HANDLE_VALUE; }

std::int64_t FileReader::size() const {
  LARGE_INTEGER size{};
  if (!isOpen() || !GetFileSizeEx(impl_->handle, &size))
    return -1;
  return size.QuadPart;
}

bool FileReader::seek(std::int64_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = offset;
  return isOpen() && SetFilePointerEx(impl_->handle, to, nullptr, FILE_BEGIN);
}

std::size_t FileReader::read(void* buffer, std::size_t size) {
  DWORD got = 0;
  if (!isOpen() || !ReadFile(impl_->handle, buffer, static_cast<DWORD>(size), &got, nullptr))
    return 0;
  return got;
}

#else

struct FileReader::Impl {
  int fd = -1;
};

namespace {

// Native file names are UTF-8 here.
std::string utf8(const std::wstring& text) {
  std::string out;
  for (wchar_t wc : text) {
    const auto c = static_cast<std::uint32_t>(wc);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

} // namespace

FileReader::FileReader(const std::wstring& path) : FileReader(utf8(path)) {}

FileReader::FileReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

FileReader::~FileReader() {
  if (isOpen())
    ::close(impl_->fd);
}

bool FileReader::isOpen() const { return impl_->fd >= 0; }

std::int64_t FileReader::size() const {
  struct stat st {};
  if (!isOpen() || ::fstat(impl_->fd, &st) != 0)
    return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool FileReader::seek(std::int64_t offset) {
  return isOpen() && ::lseek(impl_->fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::size_t FileReader::read(void* buffer, std::size_t size) {
  if (!isOpen())
    return 0;
  for (;;) {
    const ssize_t got = ::read(impl_->fd, buffer, size);
    if (got >= 0)
      return static_cast<std::size_t>(got);
    if (errno != EINTR)
      return 0;
  }
}

#endif
