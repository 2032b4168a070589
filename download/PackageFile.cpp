#include "download/PackageFile.h"

#include "download/TransferText.h"

namespace {

// A side file longer than this is none of ours.
constexpr DWORD kInfoLimit = 4096;
constexpr DWORD kPartsLimit = 1024 * 1024;

#ifdef QX_TEST_HOOKS
PackageFile::StepHook stepHook = nullptr;
#endif

// Whether the step that changes the disk with `call` may go ahead.
bool step(const wchar_t* call) {
#ifdef QX_TEST_HOOKS
  if (stepHook && !stepHook(call)) {
    SetLastError(ERROR_WRITE_FAULT);
    return false;
  }
#else
  (void)call;
#endif
  return true;
}

struct ScopedHandle {
  HANDLE handle;
  ~ScopedHandle() {
    if (handle != INVALID_HANDLE_VALUE)
      CloseHandle(handle);
  }
};

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

std::int64_t sizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// What a partial file holds by its side files.
struct Holding {
  SegmentMap map;
  std::string validator;
  bool infoMatches = false;  // ".info" names this package
  bool hasParts = false;     // and ".parts" records ranges of it that the file can hold
  bool partsThere = false;   // a ".parts" file is there, whatever it says
};

// Nothing unless ".info" names this package; the ranges of ".parts" when there is one
// (nothing when it is damaged, names another package or claims bytes past the file's
// end); else the file as a prefix.
Holding held(const std::wstring& path, std::int64_t size, const std::string& md5, std::int64_t fileSize) {
  Holding out;
  out.map = SegmentMap(size > 0 ? size : SegmentMap::kUnknownSize);
  std::string text;
  out.infoMatches = readSideFile(path + L".info", text, kInfoLimit) && text == sideFileText(size, md5);
  out.partsThere = sizeOf(path + L".parts") >= 0;
  if (!out.infoMatches || fileSize <= 0)
    return out;
  if (out.partsThere) {
    // One that cannot be read is no record either: the file may be of full size.
    const std::optional<SegmentMap> map =
        readSideFile(path + L".parts", text, kPartsLimit) ? SegmentMap::parse(text, size, md5, &out.validator)
                                                          : std::nullopt;
    if (map && (map->ranges().empty() || map->ranges().back().end <= fileSize)) {
      out.map = *map;
      out.hasParts = true;
    }
    return out;
  }
  if (size <= 0 || fileSize <= size)
    out.map.add(0, fileSize);
  return out;
}

} // namespace

#ifdef QX_TEST_HOOKS
void PackageFile::setStepHook(StepHook hook) { stepHook = hook; }
#endif

PackageFile::~PackageFile() { close(); }

// Keeps the system's error code for the caller.
bool PackageFile::failed(const wchar_t* call) {
  failedCall_ = call;
  return false;
}

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
    return failed(L"CreateFile");
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(file_, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    close();
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return failed(L"CreateFile");
  }
  LARGE_INTEGER fileSize{};
  GetFileSizeEx(file_, &fileSize);
  const Holding found = held(path, size, md5, fileSize.QuadPart);
  partsInUse_ = found.hasParts;
  validator_ = found.hasParts ? found.validator : std::string();
  if (!found.hasParts && found.map.onDisk() < fileSize.QuadPart) {
    // Bytes that are none of this package's. The file is cut before any side file
    // changes: a stop after any step leaves nothing that passes for this package.
    LARGE_INTEGER zero{};
    if (!step(L"SetEndOfFile") || !SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
      const DWORD error = GetLastError();
      close();
      SetLastError(error);
      return failed(L"SetEndOfFile");
    }
  }
  // Of a run stopped while it saved: the record it replaced still stands.
  DeleteFileW((partsPath_ + L".new").c_str());
  if (!found.hasParts && found.partsThere && step(L"DeleteFileW"))
    DeleteFileW(partsPath_.c_str());  // damaged or another package's: the file is empty now
  if (!found.infoMatches) {
    // Without ".info" a partial target could not be continued next time, but this
    // attempt still works: a failure here is not one of the download.
    writeRecord(infoPath_, sideFileText(size, md5));
  }
  map = found.map;
  return true;
}

bool PackageFile::extend(const SegmentMap& map) {
  // The record must never name bytes a power cut could still take.
  return flushData() && extend(map.size(), recordText(map));
}

bool PackageFile::extend(std::int64_t size, const std::string& text) {
  const bool wasInUse = partsInUse_;
  if (!replaceRecord(text)) {
    partsInUse_ = wasInUse;
    return false;
  }
  LARGE_INTEGER full{};
  full.QuadPart = size;
  LARGE_INTEGER before{};
  if (GetFileSizeEx(file_, &before) && before.QuadPart == size)
    return true;
  if (!step(L"SetEndOfFile") || !SetFilePointerEx(file_, full, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
    const DWORD error = GetLastError();
    SetFilePointerEx(file_, before, nullptr, FILE_BEGIN);
    SetEndOfFile(file_);
    partsInUse_ = wasInUse;
    if (!partsInUse_)
      DeleteFileW(partsPath_.c_str());
    SetLastError(error);
    return failed(L"SetEndOfFile");
  }
  return true;
}

bool PackageFile::flushData() {
  if (!step(L"FlushFileBuffers") || !FlushFileBuffers(file_))
    return failed(L"FlushFileBuffers");
  return true;
}

bool PackageFile::saveRecord(const SegmentMap& map) {
  if (!partsInUse_)
    return true;
  // The record must never name bytes a power cut could still take.
  return flushData() && replaceRecord(recordText(map));
}

bool PackageFile::replaceRecord(const std::string& text) {
  partsInUse_ = true;
  // Written beside, and moved over only once it is on the disk: a stop at any point
  // leaves one whole record, the old or the new.
  const std::wstring fresh = partsPath_ + L".new";
  if (!writeRecord(fresh, text))
    return false;
  if (!step(L"MoveFileExW") ||
      !MoveFileExW(fresh.c_str(), partsPath_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(fresh.c_str());
    SetLastError(error);
    return failed(L"MoveFileExW");
  }
  return true;
}

std::string PackageFile::recordText(const SegmentMap& map) const { return map.text(md5_, validator_); }

void PackageFile::setValidator(const std::string& validator) {
  validator_ = validator.find_first_of("\r\n") == std::string::npos ? validator : std::string();
}

bool PackageFile::dropParts() {
  // A complete file without ".parts" is taken as it is: its bytes go to the disk first,
  // also those of a prefix that never had a record.
  if (!flushData())
    return false;
  if (partsInUse_ && step(L"DeleteFileW"))
    DeleteFileW(partsPath_.c_str());
  partsInUse_ = false;
  return true;
}

void PackageFile::close() {
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
}

// A new side file at `path`, whole and on the disk.
bool PackageFile::writeRecord(const std::wstring& path, const std::string& text) {
  const wchar_t* call = nullptr;
  DWORD error = 0;
  {
    ScopedHandle file{
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE)
      return failed(L"CreateFile");
    DWORD put = 0;
    if (!step(L"WriteFile") ||
        !WriteFile(file.handle, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) || put != text.size())
      call = L"WriteFile";
    else if (!step(L"FlushFileBuffers") || !FlushFileBuffers(file.handle))
      call = L"FlushFileBuffers";
    error = GetLastError();
  }
  if (!call)
    return true;
  DeleteFileW(path.c_str());
  SetLastError(error);
  return failed(call);
}

std::int64_t PackageFile::heldBytes(const std::wstring& path, std::int64_t size, const std::string& md5) {
  const std::int64_t fileSize = sizeOf(path);
  const Holding found = held(path, size, md5, fileSize);
  // An extended file already takes its full size on disk.
  return found.hasParts ? fileSize : found.map.onDisk();
}
