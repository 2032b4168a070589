// Sections: text encoding; the documents (reader, pictures, carousel, update server,
// package, version); stray files; the whole check.
#include "tools/brand/BrandingCheck.h"

#include <json/json.h>

#include <set>

#include "app/ConfigDocument.h"
#include "tools/brand/HostName.h"
#include "tools/brand/VersionResource.h"
#include "tools/brand/WindowsProgram.h"

namespace {

constexpr int kDocumentType = 1056;

// --- text encoding ----------------------------------------------------------------------

bool validUtf8WithMultibyte(const std::string& bytes) {
  bool multibyte = false;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > bytes.size())
      return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) >> 6) != 2)
        return false;
    multibyte = multibyte || length > 1;
    i += length;
  }
  return multibyte;
}

// The installer takes the document's bytes as GBK text: a document saved in another
// encoding shows garbled texts to every player.
std::string encodingProblem(const std::string& bytes) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    return "saved as UTF-8 (it starts with a byte order mark)";
  if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)
    return "saved as UTF-16";
  if (validUtf8WithMultibyte(bytes))
    return "saved as UTF-8";
  return {};
}

// --- the documents ----------------------------------------------------------------------

class DocumentCheck {
public:
  DocumentCheck(const BrandingSource& source, const BrandingSource::Entry& entry, std::vector<Problem>& problems)
      : source_(source), entry_(entry), origin_(source.origin(entry)), problems_(problems) {}

  void run(bool neutral);

private:
  void add(const std::string& item, const std::string& wrong, const std::string& expected) {
    problems_.push_back({origin_, item, wrong, expected});
  }
  void warn(const std::string& item, const std::string& wrong, const std::string& expected) {
    problems_.push_back({origin_, item, wrong, expected, true});
  }
  bool carried(const BrandingItem* item) const {
    const BrandingSource::Entry* entry = item ? source_.find(item->type, item->name) : nullptr;
    return entry && entry->present;
  }
  void checkPictures(const Json::Value& pics);
  void checkCarousel(const Json::Value& carousel);
  void checkPackage(const Json::Value& root);

  const BrandingSource& source_;
  const BrandingSource::Entry& entry_;
  std::string origin_;
  std::vector<Problem>& problems_;
};

void DocumentCheck::run(bool neutral) {
  const std::string encoding = encodingProblem(entry_.bytes);
  if (!encoding.empty())
    add("", encoding, "GBK text (code page 936), as Notepad saves \"ANSI\" on a Chinese Windows");
  for (const ConfigProblem& p : listConfigProblems(entry_.bytes)) {
    const std::string stop = p.label.empty() ? "" : " (the installer would stop with \"读取" + p.label + "出错。\")";
    add(p.key, p.wrong + stop, p.expected);
  }
  Json::Value root;
  parseConfigDocument(entry_.bytes, root);
  if (!root.isObject())
    return;
  checkPictures(root["pics"]);
  checkCarousel(root["carouselPics"]);
  const Json::Value& server = root["updateServer"];
  if (server.isString() && !isHostNameOrAddress(server.asString()))
    add("updateServer", "\"" + server.asString() + "\" is no host name or IPv4 address (the port is always 8901)",
        "a host name such as update.example.com, or an address such as 203.0.113.7");
  checkPackage(root);
  if (!root.isMember("packageSigners"))
    warn("packageSigners", "missing: without the key, any package the update server names runs with administrator "
                           "rights", "");
  ProductVersion version;
  ConfigProblem problem;
  // The version information comes from the neutral document only.
  if (neutral && !readProductVersion(entry_.bytes, version, problem))
    add(problem.key, problem.wrong, problem.expected);
}

// "pics" places pictures by name; the installer takes each from its own file and never
// reads "path", so a path that names another file is only a warning. The file must be there.
void DocumentCheck::checkPictures(const Json::Value& pics) {
  if (!pics.isArray())
    return;
  for (Json::ArrayIndex i = 0; i < pics.size(); ++i) {
    const Json::Value& element = pics[i];
    if (!element.isObject() || !element["path"].isString())
      continue;
    const std::string name = element["name"].isString() ? element["name"].asString() : "";
    const std::string path = element["path"].asString();
    const std::string item = "pics[" + std::to_string(i) + "] \"" + name + "\"";
    const BrandingItem* file = BrandingManifest::findFile(path);
    const BrandingItem* slot =
        name == "icon" ? BrandingManifest::find(BrandingItem::kIconGroup, "32512") : BrandingManifest::find(kDocumentType, name);
    if (slot && file != slot)
      warn(item, "the path \"" + path + "\" is not where the installer takes this picture from (it never reads it)",
           slot->file);
    else if (!file)
      warn(item, "the path \"" + path + "\" names no picture the installer carries (it never reads it)",
           "a picture file the README lists, such as pics/logo.png");
    else if (!carried(file))
      add(item, "names " + std::string(file->file) + ", which is missing", std::string(file->file) + " in the branding folder");
  }
}

// The installer shows carousel picture i from resource CAROUSELPIC<i>, for as many
// pictures as the list holds; it reads no name from the list.
void DocumentCheck::checkCarousel(const Json::Value& carousel) {
  if (!carousel.isArray())
    return;
  for (Json::ArrayIndex i = 0; i < carousel.size(); ++i) {
    const std::string item = "carouselPics[" + std::to_string(i) + "]";
    const BrandingItem* slot = BrandingManifest::find(kDocumentType, "CAROUSELPIC" + std::to_string(i));
    if (!slot) {
      add(item, "a carousel of " + std::to_string(carousel.size()) + " pictures",
          "at most " + std::to_string(i) + " carousel pictures");
      return;
    }
    const Json::Value& value = carousel[i];
    const std::string path = value.isString() ? value.asString() : "";
    if (BrandingManifest::findFile(path) != slot)
      warn(item,
           (value.isString() ? "the path \"" + path + "\" is not where the installer takes this picture from"
                             : std::string("not a file name")) +
               " (it never reads it)",
           slot->file);
    if (!carried(slot))
      add(item, "names " + std::string(slot->file) + ", which is missing", std::string(slot->file) + " in the branding folder");
  }
}

void DocumentCheck::checkPackage(const Json::Value& root) {
  const BrandingSource::Entry* package = source_.find(kDocumentType, "SETUP.EXE");
  const bool embedded = package && package->present;
  const bool wanted = root["installerInRes"].isBool() && root["installerInRes"].asBool();
  if (wanted && !embedded)
    add("installerInRes", "true, but there is no SETUP.EXE to extract (the installer would stop with \"无法提取安装包\")",
        "SETUP.EXE in the branding folder, or \"installerInRes\": false");
  else if (!wanted && embedded)
    add("installerInRes", "false or missing, so the installer downloads the game and never uses SETUP.EXE",
        "\"installerInRes\": true, or no SETUP.EXE");
}

} // namespace

// --- the whole check --------------------------------------------------------------------

std::vector<Problem> checkBranding(const BrandingSource& source) {
  std::vector<Problem> problems;
  for (const std::string& file : source.unreadableFiles())
    problems.push_back({file, "", "cannot be read (is it open in another program?)", "a file brand.exe can read"});
  // Both variants of the document, once each: a folder with one document uses it for both.
  std::set<std::string> checked;
  for (const BrandingSource::Entry& entry : source.entries()) {
    if (entry.item->type != kDocumentType || std::string(entry.item->name) != "CONFIG.JSON" || !entry.present)
      continue;
    if (checked.insert(source.origin(entry)).second)
      DocumentCheck(source, entry, problems).run(!entry.item->chinese);
  }
  const BrandingSource::Entry* package = source.find(kDocumentType, "SETUP.EXE");
  std::string wrong;
  if (package && package->present && !isWindowsProgram(package->bytes, wrong))
    problems.push_back({source.origin(*package), "", wrong, "the game's Windows setup program (.exe)"});
  checkImages(source, problems);
  checkScripts(source, problems);
  for (const std::string& stray : source.strayFiles())
    problems.push_back({stray, "", "the installer carries no item from this file",
                        "a file name the README lists, such as res/bg.jpg"});
  return problems;
}
