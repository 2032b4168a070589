#include "app/CacheFolder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cwchar>
#include <cwctype>
#include <memory>

#include "app/SecureRandom.h"

namespace {

// Full control for SYSTEM and Administrators, inherited by everything below, and no
// inheritance from the drive's root, which lets every signed-in user modify.
const wchar_t* const kProtectedAcl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr int kFreshAttempts = 8;

// Rights by which another account could plant, swap or remove what the folder holds.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                     FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL | MAXIMUM_ALLOWED;

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

bool isReparsePoint(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring withoutSlash(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
    path.pop_back();
  return path;
}

// This process's own account: under Wine the system shows a folder's owner and the
// creator's entry as that account rather than as Administrators.
std::unique_ptr<BYTE[]> ownUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::unique_ptr<BYTE[]> buffer(size ? new BYTE[size] : nullptr);
  if (!buffer || !GetTokenInformation(token, TokenUser, buffer.get(), size, &size))
    buffer.reset();
  CloseHandle(token);
  return buffer;
}

bool isTrustedAccount(PSID sid, PSID user) {
  return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         (user && EqualSid(sid, user));
}

bool createProtected(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedAcl, SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const BOOL made = CreateDirectoryW(path.c_str(), &attributes);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  SetLastError(error);
  return made;
}

std::wstring randomSuffix() {
  const std::string digits = SecureRandom::hex(4);
  return std::wstring(digits.begin(), digits.end());
}

} // namespace

bool CacheFolder::isTrusted(const std::wstring& given) {
  const std::wstring path = withoutSlash(given);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  PSID owner = nullptr;
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  std::unique_ptr<void, LocalFreer> held(descriptor);
  const std::unique_ptr<BYTE[]> token = ownUser();
  PSID user = token ? reinterpret_cast<TOKEN_USER*>(token.get())->User.Sid : nullptr;
  // No ACL at all grants everyone everything.
  if (!owner || !acl || !isTrustedAccount(owner, user))
    return false;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&header)))
      return false;
    if (header->AceType == ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
      continue;
    // Entries of other kinds (objects, callbacks) are not read here: not ours.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
      return false;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & kWriteRights) && !isTrustedAccount(reinterpret_cast<PSID>(&ace->SidStart), user))
      return false;
  }
  return true;
}

bool CacheFolder::prepare(const std::wstring& given, std::wstring& folder, bool& reused) {
  const std::wstring base = withoutSlash(given);
  std::wstring candidate = base;
  for (int attempt = 0; attempt < kFreshAttempts; ++attempt) {
    // A link above leads elsewhere for every name beside too.
    const size_t slash = candidate.find_last_of(L"\\/");
    if (slash != std::wstring::npos && crossesReparsePoint(candidate.substr(0, slash)))
      return false;
    const bool made = createProtected(candidate);
    if (made || GetLastError() == ERROR_ALREADY_EXISTS) {
      if (isTrusted(candidate)) {
        folder = candidate + L"\\";
        reused = !made;
        return true;
      }
      if (made) {
        // Made by us yet not as asked: the system could not apply the ACL.
        RemoveDirectoryW(candidate.c_str());
        return false;
      }
      OutputDebugStringW((L"not used, others may write in it: " + candidate).c_str());
    } else {
      return false;
    }
    // The name beside is not guessable, so nobody can have made it in advance.
    candidate = base + L"-" + randomSuffix();
  }
  return false;
}

bool CacheFolder::makeFresh(const std::wstring& parent, const std::wstring& name, std::wstring& folder) {
  for (int attempt = 0; attempt < kFreshAttempts; ++attempt) {
    const std::wstring candidate = parent + name + L"-" + randomSuffix();
    if (createProtected(candidate)) {
      folder = candidate + L"\\";
      return isTrusted(candidate);
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return false;
}

bool CacheFolder::keepsAcls(const std::wstring& root) {
  DWORD flags = 0;
  if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    return true;
#ifdef QX_TEST_HOOKS
  // Wine's drives all keep ACLs: a test names the drive letters to take as FAT ones.
  wchar_t fat[27] = {};
  if (GetEnvironmentVariableW(L"QX_TEST_DRIVES_WITHOUT_ACLS", fat, 27) && !root.empty() &&
      wcschr(fat, towupper(root[0])))
    flags &= ~FILE_PERSISTENT_ACLS;
#endif
  return (flags & FILE_PERSISTENT_ACLS) != 0;
}

std::wstring CacheFolder::programData() {
  // Asked of the system, not of the environment, which the player may set.
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
    return L"C:\\ProgramData\\";
  std::wstring folder(path);
  if (folder.back() != L'\\')
    folder += L'\\';
  return folder;
}

bool CacheFolder::crossesReparsePoint(const std::wstring& given) {
  std::wstring path = withoutSlash(given);
  // Up to the root: "X:\\" (3) or a share's "\\\\server\\share".
  while (path.size() > 3) {
    if (isReparsePoint(path))
      return true;
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash < 2)
      break;
    path.resize(slash);
  }
  return false;
}
