#include "download/PackageFile.h"

#include "download/TransferText.h"

namespace {

// A side file longer than this is none of ours.
constexpr DWORD kInfoLimit = 4096;
constexpr DWORD kPartsLimit = 1024 * 1024;
constexpr ULONGLONG kSaveIntervalMs = 1000;

// The whole side file, or false when there is none to read.
bool readSideFile(const std::wstring& path, std::string& text, DWORD limit) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= limit;
  if (ok) {
    text.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    ok = text.empty() || (ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) &&
                          got == text.size());
  }
  CloseHandle(file);
  return ok;
}

// A link in the package's place is replaced, never written through.
bool writeSideFile(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD put = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) && put == text.size();
  CloseHandle(file);
  return ok;
}

std::int64_t sizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// What a partial file holds by its side files: nothing unless ".info" names this
// package; the ranges of ".parts" when there is one (nothing when it is damaged, names
// another package or claims bytes past the file's end); else the file as a prefix.
SegmentMap held(const std::wstring& path, std::int64_t size, const std::string& md5, std::int64_t fileSize,
                bool& hasParts) {
  hasParts = false;
  SegmentMap none(size > 0 ? size : SegmentMap::kUnknownSize);
  std::string text;
  if (fileSize <= 0 || !readSideFile(path + L".info", text, kInfoLimit) || text != sideFileText(size, md5))
    return none;
  if (readSideFile(path + L".parts", text, kPartsLimit)) {
    const std::optional<SegmentMap> map = SegmentMap::parse(text, size, md5);
    if (!map || (!map->ranges().empty() && map->ranges().back().end > fileSize))
      return none;
    hasParts = true;
    return *map;
  }
  if (size > 0 && fileSize > size)
    return none;
  SegmentMap prefix(size > 0 ? size : SegmentMap::kUnknownSize);
  prefix.add(0, fileSize);
  return prefix;
}

} // namespace

PackageFile::~PackageFile() { close(); }

bool PackageFile::open(const std::wstring& path, std::int64_t size, const std::string& md5, SegmentMap& map) {
  path_ = path;
  infoPath_ = path + L".info";
  partsPath_ = path + L".parts";
  md5_ = md5;
  // Others may read, never write or delete, while the package is written. A link in its
  // place is opened as itself and refused: the package is not written through it.
  file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file_ == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(file_, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    close();
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  LARGE_INTEGER fileSize{};
  GetFileSizeEx(file_, &fileSize);
  map = held(path, size, md5, fileSize.QuadPart, partsInUse_);
  if (!partsInUse_ && map.onDisk() < fileSize.QuadPart) {
    // Bytes that are none of this package's: start over.
    LARGE_INTEGER zero{};
    SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN);
    SetEndOfFile(file_);
  }
  DeleteFileW(partsPath_.c_str());
  DeleteFileW((partsPath_ + L".new").c_str());  // of a run stopped while it saved
  // Without the side files a partial target could not be continued next time, but this
  // attempt still works: a failure here is not one of the download.
  writeSideFile(infoPath_, sideFileText(size, md5));
  if (partsInUse_)
    saveParts(map, true);
  return true;
}

bool PackageFile::extend(const SegmentMap& map) {
  const bool wasInUse = partsInUse_;
  partsInUse_ = true;
  saveParts(map, true);
  LARGE_INTEGER size{};
  size.QuadPart = map.size();
  LARGE_INTEGER before{};
  if (GetFileSizeEx(file_, &before) && before.QuadPart == map.size())
    return true;
  if (!SetFilePointerEx(file_, size, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
    SetFilePointerEx(file_, before, nullptr, FILE_BEGIN);
    SetEndOfFile(file_);
    partsInUse_ = wasInUse;
    if (!partsInUse_)
      DeleteFileW(partsPath_.c_str());
    return false;
  }
  return true;
}

void PackageFile::saveParts(const SegmentMap& map, bool now) {
  if (!partsInUse_)
    return;
  const ULONGLONG tick = GetTickCount64();
  if (!now && tick - lastSave_ < kSaveIntervalMs)
    return;
  lastSave_ = tick;
  // Written beside and moved over: a stop mid-write leaves the previous record whole.
  const std::wstring fresh = partsPath_ + L".new";
  if (writeSideFile(fresh, map.text(md5_)))
    MoveFileExW(fresh.c_str(), partsPath_.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void PackageFile::dropParts() {
  partsInUse_ = false;
  DeleteFileW(partsPath_.c_str());
}

void PackageFile::close() {
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
}

std::int64_t PackageFile::heldBytes(const std::wstring& path, std::int64_t size, const std::string& md5) {
  const std::int64_t fileSize = sizeOf(path);
  bool hasParts = false;
  const SegmentMap map = held(path, size, md5, fileSize, hasParts);
  // An extended file already takes its full size on disk.
  return hasParts ? fileSize : map.onDisk();
}
