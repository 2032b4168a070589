// The branding's pictures through the installer's own decoder, held to the sizes its
// widgets are drawn for; the icon file split as the build splits it.
#include <set>

#include "gui/ImageCache.h"
#include "gui/SkinImages.h"
#include "tools/brand/BrandingCheck.h"
#include "tools/brand/IconFile.h"

namespace {

bool isPicture(const std::string& file) {
  const size_t dot = file.rfind('.');
  const std::string ending = dot == std::string::npos ? "" : file.substr(dot);
  return ending == ".png" || ending == ".jpg";
}

std::string size(int width, int height) { return std::to_string(width) + " x " + std::to_string(height) + " pixels"; }

} // namespace

void checkImages(const BrandingSource& source, std::vector<Problem>& problems) {
  ImageCache& decoder = ImageCache::instance();
  std::set<std::string> checked;  // a folder's picture serves both language variants
  for (const BrandingSource::Entry& entry : source.entries()) {
    const std::string origin = source.origin(entry);
    if (!entry.present || !checked.insert(origin).second)
      continue;
    if (entry.item->type == BrandingItem::kIconGroup && !entry.file.empty()) {
      IconResources icon;
      std::string wrong;
      if (!splitIconFile(entry.bytes, icon, wrong))
        problems.push_back({origin, "", wrong, "a Windows icon file (.ico) with at least one image"});
      continue;
    }
    if (entry.item->type != 1056 || !isPicture(entry.item->file))
      continue;
    const auto picture = decoder.decode(entry.bytes.data(), entry.bytes.size());
    if (!picture) {
      problems.push_back({origin, "", "not a picture the installer can read", "a PNG or JPEG picture"});
      continue;
    }
    // An "@2x" picture is its picture at twice the size, for displays from 150 % on.
    std::string name = entry.item->name;
    const size_t twice = name.find("@2X");
    const int factor = twice == std::string::npos ? 1 : 2;
    if (factor == 2) name.erase(twice, 3);
    const SkinImage* skin = skin::find(name.c_str());
    if (skin && (picture->width != factor * skin->width || picture->height != factor * skin->height)) {
      std::string expected = size(factor * skin->width, factor * skin->height);
      if (skin->frames > 1)
        expected += " (" + std::to_string(skin->frames) + " states side by side, each " +
                    size(factor * skin->frameWidth(), factor * skin->height) + ")";
      if (factor == 2) expected += ", twice " + std::string(skin->name);
      problems.push_back({origin, "", "a picture of " + size(picture->width, picture->height), expected});
    }
  }
}
