#include "tools/brand/BrandingManifest.h"

#include <cctype>

namespace {

const std::vector<BrandingItem> kItems = {
#include "branding_manifest.inc"
};

char folded(char c) {
  return c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool sameName(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (folded(a[i]) != folded(b[i]))
      return false;
  return i == a.size() && !b[i];
}

} // namespace

bool BrandingItem::numbered() const {
  for (const char* c = name; *c; ++c)
    if (!std::isdigit(static_cast<unsigned char>(*c)))
      return false;
  return *name != '\0';
}

const std::vector<BrandingItem>& BrandingManifest::items() { return kItems; }

const BrandingItem* BrandingManifest::find(int type, const std::string& name) {
  for (const BrandingItem& item : kItems)
    if (item.type == type && sameName(name, item.name))
      return &item;
  return nullptr;
}

const BrandingItem* BrandingManifest::findFile(const std::string& file) {
  for (const BrandingItem& item : kItems)
    if (sameName(file, item.file))
      return &item;
  return nullptr;
}
