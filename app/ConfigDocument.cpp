#include "app/ConfigDocument.h"

#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "app/OutcomeReport.h"
#include "app/SignerPolicy.h"

namespace {

// The value's kind, as a publisher would name it.
std::string describe(const Json::Value* value) {
  if (!value)
    return "missing";
  switch (value->type()) {
  case Json::nullValue:
    return "null";
  case Json::intValue:
  case Json::uintValue:
  case Json::realValue:
    return "the number " + value->asString();
  case Json::stringValue:
    return "the text \"" + value->asString() + "\"";
  case Json::booleanValue:
    return value->asBool() ? "true" : "false";
  case Json::arrayValue:
    return "a list";
  case Json::objectValue:
    return "an object";
  }
  return "unreadable";
}

// Reads the keys in their fixed order into the record. The installer stops at the first
// failure; the branding tool lists them all, so each failure either ends the reading or
// is recorded and the reading goes on with the next key (or list element).
class Reader {
public:
  Reader(InstallConfig& config, std::vector<ConfigProblem>* problems) : config_(config), problems_(problems) {}

  const std::string& errorText() const { return errorText_; }

  bool readKeys(const Json::Value& root);

private:
  // Records a failure; true when the reading goes on.
  bool fail(const char* label, const std::string& key, const Json::Value* value, const char* expected) {
    if (errorText_.empty())
      errorText_ = label;
    if (!problems_)
      return false;
    problems_->push_back({label, key, describe(value), expected});
    return true;
  }

  // A jsoncpp conversion (asInt, asBool, ...) that throws on a value of the wrong kind:
  // the whole document then fails as "配置文件", as the installer has always reported it.
  template <typename Read>
  bool convert(const std::string& key, const Json::Value& value, const char* expected, Read read) {
    try {
      read();
      return true;
    } catch (const Json::Exception&) {
      return fail("配置文件", key, &value, expected);
    }
  }

  // A text key that holds something other than a string is a broken document, not a text
  // to convert: jsoncpp alone would turn a number into its digits.
  bool readText(const Json::Value& parent, const char* key, const std::string& path, std::string& field) {
    if (!parent.isMember(key))
      return true;
    const Json::Value& value = parent[key];
    if (!value.isString() && !value.isNull())
      return fail("配置文件", path, &value, "text");
    field = value.asString();
    return true;
  }

  bool readBool(const Json::Value& root, const char* key, bool& field) {
    if (!root.isMember(key))
      return true;
    return convert(key, root[key], "true or false", [&] { field = root[key].asBool(); });
  }

  // "what" of a required key: the value when the key is present, else null.
  static const Json::Value* present(const Json::Value& parent, const char* key) {
    return parent.isObject() && parent.isMember(key) ? &parent[key] : nullptr;
  }

  bool readOptions(const Json::Value& root);
  bool readPictures(const Json::Value& root);
  bool readLicense(const Json::Value& root);
  bool readSigners(const Json::Value& root);
  bool readConnections(const Json::Value& root);
  bool readReportUrl(const Json::Value& root);
  bool readMirrors(const Json::Value& root);

  InstallConfig& config_;
  std::vector<ConfigProblem>* problems_;
  std::string errorText_;
};

bool Reader::readKeys(const Json::Value& root) {
  for (const auto& [key, field] : {std::pair<const char*, std::string*>{"installName", &config_.installName},
                                   {"welcomeText", &config_.welcomeText},
                                   {"installFolder", &config_.installFolder},
                                   {"updateServer", &config_.updateServer}}) {
    if (!readText(root, key, key, *field))
      return false;
  }
  if (!readBool(root, "silentInstall", config_.silentInstall) ||
      !readBool(root, "runAfterInstall", config_.runAfterInstall) ||
      !readText(root, "promoteChannel", "promoteChannel", config_.promoteChannel) ||
      !readBool(root, "installerInRes", config_.installerInRes))
    return false;

  const Json::Value& neededSpace = root["neededSpace"];
  if (neededSpace.isNumeric())
    config_.neededSpace = neededSpace.asDouble();
  else if (!fail("neededSpace", "neededSpace", present(root, "neededSpace"), "a number of megabytes"))
    return false;

  if (!readOptions(root) || !readPictures(root))
    return false;

  const Json::Value& carousel = root["carouselPics"];
  if (carousel.isArray() || carousel.isNull())
    config_.carouselCount = static_cast<int>(carousel.size());
  else if (!fail("carcouselPics", "carouselPics", &carousel, "a list of picture files"))
    return false;

  if (root.isMember("carouselTime") &&
      !convert("carouselTime", root["carouselTime"], "a whole number of milliseconds",
               [&] { config_.carouselTime = root["carouselTime"].asInt(); }))
    return false;

  return readLicense(root) && readSigners(root) && readConnections(root) && readReportUrl(root) &&
         readMirrors(root);
}

bool Reader::readOptions(const Json::Value& root) {
  const Json::Value& options = root["options"];
  if (!root.isMember("options") || !(options.isArray() || options.isNull()))
    return fail("options", "options", present(root, "options"), "a list of options");
  for (Json::ArrayIndex i = 0; i < options.size(); ++i) {
    const Json::Value& element = options[i];
    const std::string at = "options[" + std::to_string(i) + "].";
    InstallOption option;
    if (!element.isObject() || !element["name"].isString()) {
      if (!fail("IMOptions.name", at + "name", present(element, "name"), "text"))
        return false;
      continue;
    }
    option.name = element["name"].asString();
    if (!element["desc"].isString()) {
      if (!fail("IMOptions.desc", at + "desc", present(element, "desc"), "text"))
        return false;
      continue;
    }
    option.desc = element["desc"].asString();
    if (!element["checked"].isBool()) {
      if (!fail("IMOptions.checked", at + "checked", present(element, "checked"), "true or false"))
        return false;
      continue;
    }
    option.checked = element["checked"].asBool();
    if (!element["type"].isString()) {
      if (!fail("IMOptions.type", at + "type", present(element, "type"), "text"))
        return false;
      continue;
    }
    option.type = element["type"].asString();
    config_.options.push_back(option);
  }
  return true;
}

bool Reader::readPictures(const Json::Value& root) {
  const Json::Value& pics = root["pics"];
  if (!pics.isArray())
    return true;
  for (Json::ArrayIndex i = 0; i < pics.size(); ++i) {
    const Json::Value& element = pics[i];
    const std::string at = "pics[" + std::to_string(i) + "].";
    if (!element.isObject() && !element.isNull()) {
      if (!fail("配置文件", "pics[" + std::to_string(i) + "]", &element, "an object with name, x and y"))
        return false;
      continue;
    }
    PicturePosition position;
    std::string name;
    if (!convert(at + "y", element["y"], "a whole number", [&] { position.y = element["y"].asInt(); }) ||
        !convert(at + "x", element["x"], "a whole number", [&] { position.x = element["x"].asInt(); }) ||
        (element.isObject() && !readText(element, "name", at + "name", name)))
      return false;
    config_.pictures[name] = position;
  }
  return true;
}

bool Reader::readLicense(const Json::Value& root) {
  if (!root.isMember("userLicense"))
    return true;
  const Json::Value& license = root["userLicense"];
  if (!license.isObject() && !license.isNull())
    return fail("配置文件", "userLicense", &license, "an object with \"url\" and \"desc\"");
  if (license["url"].isString())
    config_.licenseUrl = license["url"].asString();
  else if (!fail("userLicense.url", "userLicense.url", present(license, "url"), "text"))
    return false;
  if (license["desc"].isString())
    config_.licenseDesc = license["desc"].asString();
  else if (!fail("userLicense.desc", "userLicense.desc", present(license, "desc"), "text"))
    return false;
  return true;
}

// Absent: nobody's signature is asked for. Present, it must name at least one
// certificate: a list that admits nothing would only show at the end of a download.
bool Reader::readSigners(const Json::Value& root) {
  if (!root.isMember("packageSigners"))
    return true;
  const Json::Value& signers = root["packageSigners"];
  std::vector<std::string> fingerprints;
  for (const Json::Value& signer : signers.isArray() ? signers : Json::Value(Json::arrayValue)) {
    if (!signer.isString() || !SignerPolicy::isFingerprint(signer.asString()))
      return fail("packageSigners", "packageSigners[" + std::to_string(fingerprints.size()) + "]", &signer,
                  "a SHA-256 fingerprint of 64 hexadecimal digits");
    fingerprints.push_back(SignerPolicy::normalised(signer.asString()));
  }
  if (!signers.isArray() || signers.empty())
    return fail("packageSigners", "packageSigners", &signers, "a list of SHA-256 fingerprints");
  config_.packageSigners = std::move(fingerprints);
  return true;
}

// Absent: the default. A count outside 1 to 8 is refused rather than clamped: a build
// that asked for 20 connections should learn so before it ships, not at a player's.
bool Reader::readConnections(const Json::Value& root) {
  if (!root.isMember("downloadConnections"))
    return true;
  const Json::Value& count = root["downloadConnections"];
  if (!count.isInt() || count.asInt() < 1 || count.asInt() > 8)
    return fail("downloadConnections", "downloadConnections", &count, "a whole number from 1 to 8");
  config_.downloadConnections = count.asInt();
  return true;
}

// Absent: nothing is reported. A report in clear text could be read on the way, so plain
// HTTP goes only to this machine, where the tests listen.
bool Reader::readReportUrl(const Json::Value& root) {
  if (!root.isMember("reportUrl"))
    return true;
  const Json::Value& url = root["reportUrl"];
  if (!url.isString() || !OutcomeReport::isReportUrl(url.asString()))
    return fail("reportUrl", "reportUrl", &url, "an https:// address (http:// only to a loopback address)");
  config_.reportUrl = url.asString();
  return true;
}

// A base the package's name is appended to: the scheme, a host, nothing a request line
// could not carry, and the closing "/" (without it the name would join the last segment).
bool isMirrorBase(const std::string& base) {
  std::string lower = base;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::size_t scheme = lower.rfind("https://", 0) == 0 ? 8 : lower.rfind("http://", 0) == 0 ? 7 : 0;
  if (scheme == 0 || base.size() > 1024 || base.back() != '/')
    return false;
  const std::size_t hostEnd = base.find('/', scheme);
  if (hostEnd == scheme || base.find_first_of("?#@\\", scheme) != std::string::npos)
    return false;
  return std::none_of(base.begin(), base.end(), [](unsigned char c) { return c <= ' ' || c >= 0x7F; });
}

// Absent: the announced address alone. Any entry that is not a base fails the whole key,
// so a typo never silently leaves a mirror out.
bool Reader::readMirrors(const Json::Value& root) {
  if (!root.isMember("packageMirrors"))
    return true;
  const Json::Value& mirrors = root["packageMirrors"];
  if (!mirrors.isArray() || mirrors.size() > 8)
    return fail("packageMirrors", "packageMirrors", &mirrors, "a list of at most 8 http:// or https:// addresses");
  std::vector<std::string> bases;
  for (const Json::Value& base : mirrors) {
    if (!base.isString() || !isMirrorBase(base.asString()))
      return fail("packageMirrors", "packageMirrors[" + std::to_string(bases.size()) + "]", &base,
                  "an http:// or https:// address ending with \"/\"");
    bases.push_back(base.asString());
  }
  config_.packageMirrors = std::move(bases);
  return true;
}

// Parses the document as the installer does; false only when the reader gave up
// altogether (nesting beyond its limit). `syntax` receives the first syntax error.
bool parse(const std::string& document, Json::Value& root, std::string* syntax) {
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["collectComments"] = false;
  // The document nests three levels; the reader recurses per level and throws past
  // its limit, so a deeply nested document fails here instead of exhausting the stack.
  builder["stackLimit"] = 64;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    // A document cut short still yields what was read before the cut; the first
    // required key it lacks names the failure.
    if (!reader->parse(document.data(), document.data() + document.size(), &root, &errors) && syntax) {
      // "* Line 3, Column 5\n  Missing ',' or '}' in object declaration\n..."
      std::string first = errors.substr(0, errors.find('\n', errors.find('\n') + 1));
      for (char& c : first)
        if (c == '\n') c = ':';
      const size_t start = first.find_first_not_of("* ");
      *syntax = start == std::string::npos ? errors : first.substr(start);
    }
  } catch (const Json::Exception& e) {
    if (syntax)
      *syntax = e.what();
    return false;
  }
  return true;
}

} // namespace

bool parseConfigDocument(const std::string& document, Json::Value& root) { return parse(document, root, nullptr); }

bool readConfigDocument(const std::string& document, InstallConfig& config, std::string& errorText) {
  Json::Value root;
  Reader reader(config, nullptr);
  try {
    if (parse(document, root, nullptr) && (root.isObject() || root.isNull())) {
      if (reader.readKeys(root))
        return true;
      errorText = reader.errorText();
      return false;
    }
  } catch (const Json::Exception&) {
  }
  errorText = "配置文件";
  return false;
}

std::vector<ConfigProblem> listConfigProblems(const std::string& document) {
  std::vector<ConfigProblem> problems;
  Json::Value root;
  std::string syntax;
  const bool parsed = parse(document, root, &syntax);
  if (!syntax.empty())
    problems.push_back({"", "", "not a JSON document (" + syntax + ")", "JSON text, // comments allowed"});
  if (!parsed || !(root.isObject() || root.isNull())) {
    problems.push_back({"配置文件", "", parsed ? describe(&root) : "unreadable", "an object of keys"});
    return problems;
  }
  InstallConfig config;
  try {
    Reader(config, &problems).readKeys(root);
  } catch (const Json::Exception& e) {
    problems.push_back({"配置文件", "", std::string("unreadable (") + e.what() + ")", "a document the reader accepts"});
  }
  return problems;
}
