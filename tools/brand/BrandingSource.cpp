#include "tools/brand/BrandingSource.h"

#include <algorithm>
#include <cwctype>

namespace {

std::wstring folderPath(const std::wstring& folder, const std::string& file) {
  std::wstring path = folder + L"\\" + wideText(file);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

bool readResource(HMODULE module, const BrandingItem& item, std::string& bytes) {
  const std::wstring name = wideText(item.name);
  LPCWSTR id = item.numbered() ? MAKEINTRESOURCEW(std::stoi(item.name)) : name.c_str();
  HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(item.type), id, item.language());
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data)
    return false;
  bytes.assign(static_cast<const char*>(data), SizeofResource(module, found));
  return true;
}

// Relative paths of every file below `folder`, '/' separated.
void listFiles(const std::wstring& folder, const std::wstring& relative, std::vector<std::wstring>& files) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + relative + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..")
      continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      listFiles(folder, relative + name + L"\\", files);
    else
      files.push_back(relative + name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

bool meantForAnItem(std::wstring relative) {
  for (wchar_t& c : relative)
    c = c == L'\\' ? L'/' : wchar_t(std::towlower(c));
  for (const wchar_t* folder : {L"res/", L"pics/", L"scripts/"})
    if (relative.compare(0, wcslen(folder), folder) == 0)
      return true;
  if (relative.find(L'/') != std::wstring::npos)
    return false;
  for (const wchar_t* ending : {L".json", L".exe", L".ico"}) {
    const size_t n = wcslen(ending);
    if (relative.size() > n && relative.compare(relative.size() - n, n, ending) == 0)
      return true;
  }
  return false;
}

} // namespace

std::string narrowText(const std::wstring& text) {
  if (text.empty())
    return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring wideText(const std::string& text) {
  if (text.empty())
    return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &out[0], n);
  return out;
}

bool readWholeFile(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (LONGLONG(1) << 31);
  if (ok) {
    bytes.assign(size_t(size.QuadPart), '\0');
    DWORD read = 0;
    ok = bytes.empty() || (ReadFile(file, &bytes[0], DWORD(bytes.size()), &read, nullptr) && read == bytes.size());
  }
  CloseHandle(file);
  return ok;
}

BrandingSource::BrandingSource(const std::wstring& folder, HMODULE base, const std::string& baseName)
    : base_(base), baseName_(baseName) {
  for (const BrandingItem& item : BrandingManifest::items()) {
    Entry entry;
    entry.item = &item;
    for (const char* file : {item.file, item.fallback}) {
      if (!*file)
        continue;
      const std::wstring path = folderPath(folder, file);
      if (readWholeFile(path, entry.bytes)) {
        entry.file = file;
        entry.present = true;
        break;
      }
      if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
          std::find(unreadable_.begin(), unreadable_.end(), file) == unreadable_.end())
        unreadable_.push_back(file);
    }
    if (!entry.present)
      entry.present = readResource(base, item, entry.bytes);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::wstring> files;
  listFiles(folder, L"", files);
  for (const std::wstring& file : files) {
    std::string relative = narrowText(file);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    if (meantForAnItem(file) && !BrandingManifest::findFile(relative))
      strays_.push_back(relative);
  }
}

const BrandingSource::Entry* BrandingSource::find(int type, const char* name) const {
  const BrandingItem* item = BrandingManifest::find(type, name);
  for (const Entry& entry : entries_)
    if (entry.item == item)
      return &entry;
  return nullptr;
}

std::string BrandingSource::origin(const Entry& entry) const {
  if (!entry.file.empty())
    return entry.file;
  return std::string(entry.item->name) + " in " + baseName_;
}
