// Sections: the signature; the resources to write; reading back; writing.
#include "tools/brand/BrandingWriter.h"

#include <wincrypt.h>

#include <cstdint>
#include <cstring>
#include <deque>

#include "tools/brand/IconFile.h"
#include "tools/brand/VersionResource.h"

namespace {

constexpr WORD kNeutral = 0;
constexpr WORD kChinese = 0x804;

// The digest the installer checks its extracted payload against, as 64 lowercase hex
// digits; empty when the system cannot make it.
std::string sha256Hex(const std::string& bytes) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return {};
  std::string text;
  HCRYPTHASH hash = 0;
  if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    BYTE value[32];
    DWORD size = sizeof value;
    if (CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0)) {
      static const char digits[] = "0123456789abcdef";
      for (DWORD i = 0; i < size; ++i) {
        text += digits[value[i] >> 4];
        text += digits[value[i] & 15];
      }
    }
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  return text;
}

// --- the signature --------------------------------------------------------------------

// A signed base would come out with a signature that no longer matches its bytes, which
// Windows treats worse than none, and the certificate table would lie where the grown
// resources now are. So the copy loses it; the publisher signs the branded installer.
bool dropSignature(const std::wstring& path) {
  std::string bytes;
  if (!readWholeFile(path, bytes) || bytes.size() < 0x40)
    return false;
  std::uint32_t pe = 0;
  std::memcpy(&pe, &bytes[0x3C], 4);
  const size_t optional = size_t(pe) + 24;
  if (optional + 2 > bytes.size())
    return false;
  const bool wide = static_cast<unsigned char>(bytes[optional + 1]) == 0x02;  // 0x20B
  const size_t security = optional + (wide ? 112 : 96) + 4 * 8;
  if (security + 8 > bytes.size())
    return false;
  std::uint32_t offset = 0, size = 0;
  std::memcpy(&offset, &bytes[security], 4);
  std::memcpy(&size, &bytes[security + 4], 4);
  if (size == 0)
    return true;
  std::memset(&bytes[security], 0, 8);
  std::memset(&bytes[optional + 64], 0, 4);  // the checksum covered the table too
  if (offset <= bytes.size())
    bytes.resize(offset);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
  CloseHandle(file);
  return ok;
}

// --- the resources to write ------------------------------------------------------------

// A resource's type and name are each a number or a text.
struct Id {
  WORD number = 0;
  std::wstring text;

  static Id of(LPCWSTR id) { return IS_INTRESOURCE(id) ? Id{WORD(reinterpret_cast<ULONG_PTR>(id)), L""} : Id{0, id}; }
  LPCWSTR get() const { return text.empty() ? MAKEINTRESOURCEW(number) : text.c_str(); }
  bool operator==(const Id& other) const { return number == other.number && text == other.text; }
};

struct Resource {
  Id type;
  Id name;
  WORD language;
  const std::string* bytes;
};

// Every resource of the base, with its bytes. The copy is written from this whole set:
// the system's update calls cannot be trusted to drop a resource of the base (Wine keeps
// them), so the copy starts empty and gets every resource it is to carry.
struct BaseResources {
  HMODULE module;
  std::deque<std::string>& store;
  std::vector<Resource>& list;
};

BOOL CALLBACK addLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR context) {
  auto& base = *reinterpret_cast<BaseResources*>(context);
  HRSRC found = FindResourceExW(module, type, name, language);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data) {
    base.store.emplace_back(static_cast<const char*>(data), SizeofResource(module, found));
    base.list.push_back({Id::of(type), Id::of(name), language, &base.store.back()});
  }
  return TRUE;
}

BOOL CALLBACK addName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
  EnumResourceLanguagesW(module, type, name, addLanguage, context);
  return TRUE;
}

BOOL CALLBACK addType(HMODULE module, LPWSTR type, LONG_PTR context) {
  EnumResourceNamesW(module, type, addName, context);
  return TRUE;
}

// Puts `r` in place of the resource with its type, name and language; a resource without
// bytes only takes the old one away.
void place(std::vector<Resource>& resources, const Resource& r) {
  for (auto it = resources.begin(); it != resources.end(); ++it) {
    if (it->type == r.type && it->name == r.name && it->language == r.language) {
      resources.erase(it);
      break;
    }
  }
  if (r.bytes)
    resources.push_back(r);
}

// --- reading back ----------------------------------------------------------------------

// Every resource as written, and no other.
bool readsBack(const std::wstring& path, const std::vector<Resource>& resources, std::string& failure) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) {
    failure = "the written program cannot be read back";
    return false;
  }
  std::deque<std::string> store;
  std::vector<Resource> found;
  BaseResources written{module, store, found};
  EnumResourceTypesW(module, addType, reinterpret_cast<LONG_PTR>(&written));
  FreeLibrary(module);
  bool ok = found.size() == resources.size();
  for (const Resource& r : resources) {
    bool same = false;
    for (const Resource& f : found)
      same = same || (f.type == r.type && f.name == r.name && f.language == r.language && *f.bytes == *r.bytes);
    ok = ok && same;
  }
  if (!ok)
    failure = "the written program's resources did not read back as written";
  return ok;
}

} // namespace

bool writeBranding(const std::wstring& basePath, const BrandingSource& source, const std::wstring& output,
                   std::string& failure) {
  std::deque<std::string> store;  // bytes of the base's resources and of those made here
  std::vector<Resource> resources;
  BaseResources base{source.base(), store, resources};
  EnumResourceTypesW(source.base(), addType, reinterpret_cast<LONG_PTR>(&base));
  const bool versioned = FindResourceExW(source.base(), MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), kChinese);

  const BrandingSource::Entry* document = nullptr;
  for (const BrandingSource::Entry& entry : source.entries()) {
    const BrandingItem& item = *entry.item;
    if (item.type == 1056 && std::string(item.name) == "CONFIG.JSON" && !item.chinese)
      document = &entry;
    if (entry.file.empty())
      continue;
    const Id type{WORD(item.type), L""};
    const Id name = item.numbered() ? Id{WORD(std::stoi(item.name)), L""} : Id{0, wideText(item.name)};
    if (item.type != BrandingItem::kIconGroup) {
      place(resources, {type, name, item.language(), &entry.bytes});
      if (item.type == 1056 && std::string(item.name) == "SETUP.EXE") {
        // Without its digest the installer refuses to start the package it carries.
        store.push_back(sha256Hex(entry.bytes));
        if (store.back().empty()) {
          failure = "cannot compute the digest of SETUP.EXE";
          return false;
        }
        place(resources, {type, Id{0, L"SETUP.SHA256"}, item.language(), &store.back()});
      }
      continue;
    }
    // The icon file replaces the group and every icon: a new file may have fewer images.
    IconResources icon;
    if (!splitIconFile(entry.bytes, icon, failure))
      return false;
    std::vector<Resource> kept;
    for (const Resource& r : resources)
      if (!(r.type == Id{3, L""}))
        kept.push_back(r);
    resources = kept;
    store.push_back(icon.group);
    place(resources, {type, name, item.language(), &store.back()});
    for (size_t i = 0; i < icon.icons.size(); ++i) {
      store.push_back(icon.icons[i]);
      place(resources, {Id{3, L""}, Id{WORD(i + 1), L""}, kNeutral, &store.back()});
    }
  }
  if (document && versioned) {
    ProductVersion version;
    ConfigProblem problem;
    readProductVersion(document->bytes, version, problem);
    store.push_back(encodeVersionResource(version));
    place(resources, {Id{16, L""}, Id{1, L""}, kChinese, &store.back()});
  }

  const std::wstring partial = output + L".partial";
  if (!CopyFileW(basePath.c_str(), partial.c_str(), FALSE)) {
    failure = "cannot create " + narrowText(partial) + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  bool ok = dropSignature(partial);
  if (!ok)
    failure = "cannot remove the base's signature";
  HANDLE handle = ok ? BeginUpdateResourceW(partial.c_str(), TRUE) : nullptr;
  if (ok && !handle) {
    failure = "the system cannot update the copy's resources (error " + std::to_string(GetLastError()) + ")";
    ok = false;
  }
  for (size_t i = 0; ok && i < resources.size(); ++i) {
    const Resource& r = resources[i];
    if (!UpdateResourceW(handle, r.type.get(), r.name.get(), r.language, const_cast<char*>(r.bytes->data()),
                         DWORD(r.bytes->size()))) {
      failure = "writing a resource failed (error " + std::to_string(GetLastError()) + ")";
      ok = false;
    }
  }
  if (handle && !EndUpdateResourceW(handle, !ok) && ok) {
    failure = "the system could not finish the copy (error " + std::to_string(GetLastError()) + ")";
    ok = false;
  }
  ok = ok && readsBack(partial, resources, failure);
  if (ok && !MoveFileExW(partial.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    failure = "cannot create " + narrowText(output) + " (error " + std::to_string(GetLastError()) + ")";
    ok = false;
  }
  if (!ok)
    DeleteFileW(partial.c_str());
  return ok;
}
