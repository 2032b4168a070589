#pragma once
// What an installer carries from its branding folder, as resources/manifest.txt lists it:
// one entry per resource, with the folder's file it comes from. Portable.
#include <string>
#include <vector>

struct BrandingItem {
  static constexpr int kIconGroup = 14;  // the icon group; its icons are resources of type 3

  int type;              // 1056 documents, images and the package; 1057 scripts; kIconGroup
  const char* name;      // resource name; digits only name a numbered resource
  const char* file;      // relative to the branding folder, '/' separated
  bool chinese;          // the Chinese (PRC) variant, language 0x804; else language neutral
  bool optional;         // no resource when no folder has the file
  const char* fallback;  // the folder's file used when it lacks `file`, or ""

  unsigned short language() const { return chinese ? 0x804 : 0; }
  bool numbered() const;
};

class BrandingManifest {
public:
  static const std::vector<BrandingItem>& items();
  // The item of this resource name and type, in the neutral variant where there are two;
  // names compare without regard to case, as resource lookups do. Null when none.
  static const BrandingItem* find(int type, const std::string& name);
  // The first item taken from this file (paths compare without regard to case, either
  // slash), or null.
  static const BrandingItem* findFile(const std::string& file);
};
