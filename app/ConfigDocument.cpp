#include "app/ConfigDocument.h"

#include <json/json.h>

#include <memory>

#include "app/SignerPolicy.h"

namespace {

// A text key that holds something other than a string is a broken document, not a text
// to convert: jsoncpp alone would turn a number into its digits.
std::string textOf(const Json::Value& value) {
  if (!value.isString() && !value.isNull())
    throw Json::LogicError("Type is not convertible to string");
  return value.asString();
}

void readText(const Json::Value& root, const char* key, std::string& field) {
  if (root.isMember(key))
    field = textOf(root[key]);
}

void readBool(const Json::Value& root, const char* key, bool& field) {
  if (root.isMember(key))
    field = root[key].asBool();
}

// Reads the keys in their fixed order; returns false with the label of the first
// required key that is missing or of the wrong kind.
bool readKeys(const Json::Value& root, InstallConfig& config, std::string& errorText) {
  readText(root, "installName", config.installName);
  readText(root, "welcomeText", config.welcomeText);
  readText(root, "installFolder", config.installFolder);
  readText(root, "updateServer", config.updateServer);
  readBool(root, "silentInstall", config.silentInstall);
  readBool(root, "runAfterInstall", config.runAfterInstall);
  readText(root, "promoteChannel", config.promoteChannel);
  readBool(root, "installerInRes", config.installerInRes);

  const Json::Value& neededSpace = root["neededSpace"];
  if (!neededSpace.isNumeric()) {
    errorText = "neededSpace";
    return false;
  }
  config.neededSpace = neededSpace.asDouble();

  const Json::Value& options = root["options"];
  if (!root.isMember("options") || !(options.isArray() || options.isNull())) {
    errorText = "options";
    return false;
  }
  for (const Json::Value& element : options) {
    InstallOption option;
    if (!element.isObject() || !element["name"].isString()) {
      errorText = "IMOptions.name";
      return false;
    }
    option.name = element["name"].asString();
    if (!element["desc"].isString()) {
      errorText = "IMOptions.desc";
      return false;
    }
    option.desc = element["desc"].asString();
    if (!element["checked"].isBool()) {
      errorText = "IMOptions.checked";
      return false;
    }
    option.checked = element["checked"].asBool();
    if (!element["type"].isString()) {
      errorText = "IMOptions.type";
      return false;
    }
    option.type = element["type"].asString();
    config.options.push_back(option);
  }

  const Json::Value& pics = root["pics"];
  if (pics.isArray()) {
    for (const Json::Value& element : pics) {
      PicturePosition position;
      position.y = element["y"].asInt();
      position.x = element["x"].asInt();
      config.pictures[textOf(element["name"])] = position;
    }
  }

  const Json::Value& carousel = root["carouselPics"];
  if (!(carousel.isArray() || carousel.isNull())) {
    errorText = "carcouselPics";
    return false;
  }
  config.carouselCount = static_cast<int>(carousel.size());

  if (root.isMember("carouselTime"))
    config.carouselTime = root["carouselTime"].asInt();

  if (root.isMember("userLicense")) {
    const Json::Value& license = root["userLicense"];
    if (!license["url"].isString()) {
      errorText = "userLicense.url";
      return false;
    }
    config.licenseUrl = license["url"].asString();
    if (!license["desc"].isString()) {
      errorText = "userLicense.desc";
      return false;
    }
    config.licenseDesc = license["desc"].asString();
  }

  // Absent: nobody's signature is asked for. Present, it must name at least one
  // certificate: a list that admits nothing would only show at the end of a download.
  if (root.isMember("packageSigners")) {
    const Json::Value& signers = root["packageSigners"];
    std::vector<std::string> fingerprints;
    for (const Json::Value& signer : signers.isArray() ? signers : Json::Value(Json::arrayValue)) {
      if (!signer.isString() || !SignerPolicy::isFingerprint(signer.asString()))
        break;
      fingerprints.push_back(SignerPolicy::normalised(signer.asString()));
    }
    if (!signers.isArray() || signers.empty() || fingerprints.size() != signers.size()) {
      errorText = "packageSigners";
      return false;
    }
    config.packageSigners = std::move(fingerprints);
  }
  return true;
}

} // namespace

bool readConfigDocument(const std::string& document, InstallConfig& config, std::string& errorText) {
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["collectComments"] = false;
  // The document nests three levels; the reader recurses per level and throws past
  // its limit, so a deeply nested document fails here instead of exhausting the stack.
  builder["stackLimit"] = 64;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string parseErrors;
  try {
    // A document cut short still yields what was read before the cut; the first
    // required key it lacks names the failure.
    reader->parse(document.data(), document.data() + document.size(), &root, &parseErrors);
    if (!root.isObject() && !root.isNull())
      throw Json::LogicError("root is not an object");
    return readKeys(root, config, errorText);
  } catch (const Json::Exception&) {
    errorText = "配置文件";
    return false;
  }
}
