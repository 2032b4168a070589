#pragma once
// Folders the elevated installer writes programs into and starts them from: the package
// cache and the embedded payload's work folder. Only SYSTEM and Administrators may write
// in a folder this class makes; a folder found in place is taken only when nobody else
// may write in it, so nothing a standard user placed there (a DLL beside the package, a
// swapped package, a junction to elsewhere) reaches the elevated installer. UI thread.
#include <string>

class CacheFolder {
public:
  // A folder at `base` of the installer's own, or a fresh one beside it when `base`
  // exists and is not (that one is left as it is). `folder` gets the path with a
  // trailing backslash; `reused` says it existed, so a partial download in it may be
  // continued. False when no folder could be made.
  static bool prepare(const std::wstring& base, std::wstring& folder, bool& reused);
  // A new folder below a trusted `parent` (a trailing backslash on both).
  static bool makeFresh(const std::wstring& parent, const std::wstring& name, std::wstring& folder);

  // Whether `path` is a directory, no reparse point, owned by SYSTEM, Administrators or
  // this process's user, whose ACL lets nobody else write, add, delete or change it.
  static bool isTrusted(const std::wstring& path);
  // Whether the volume of `root` ("X:\\") keeps ACLs; FAT32 and exFAT do not.
  static bool keepsAcls(const std::wstring& root);
  // "%ProgramData%\\" where the cache goes when the install drive keeps no ACLs.
  static std::wstring programData();
  // Whether `path` or a folder above it is a reparse point (a junction, a link): writes
  // through it would land elsewhere. The drive's root is not looked at.
  static bool crossesReparsePoint(const std::wstring& path);
};
