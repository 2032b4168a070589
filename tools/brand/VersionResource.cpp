#include "tools/brand/VersionResource.h"

#include <json/json.h>


#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

std::u16string fromGbk(const std::string& text) {
  std::u16string wide;
  if (text.empty())
    return wide;
#ifdef _WIN32
  const int n = MultiByteToWideChar(936, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring units(size_t(n), L'\0');
  MultiByteToWideChar(936, 0, text.data(), int(text.size()), &units[0], n);
  wide.assign(units.begin(), units.end());
#else
  iconv_t cd = iconv_open("UTF-16LE", "CP936");
  if (cd == iconv_t(-1))
    return wide;
  std::string in = text;
  char* inp = &in[0];
  size_t inLeft = in.size();
  std::string out(in.size() * 4 + 4, '\0');
  char* outp = &out[0];
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1))
      break;
    // A byte that is no GBK character becomes the replacement character, as Windows
    // converts it.
    ++inp;
    --inLeft;
    *outp++ = '\xFD';
    *outp++ = '\xFF';
    outLeft -= 2;
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  for (size_t i = 0; i + 1 < out.size(); i += 2)
    wide.push_back(char16_t(static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1]) << 8));
#endif
  return wide;
}

bool readParts(const Json::Value& value, std::uint16_t (&parts)[4]) {
  std::vector<long long> numbers;
  if (value.isString()) {
    // Up to four dot-separated runs of digits.
    const std::string text = value.asString() + ".";
    std::string digits;
    for (char c : text) {
      if (c >= '0' && c <= '9' && digits.size() < 6) {
        digits.push_back(c);
      } else if (c == '.' && !digits.empty() && numbers.size() < 4) {
        numbers.push_back(std::stoll(digits));
        digits.clear();
      } else {
        return false;
      }
    }
  } else if (value.isArray() && value.size() >= 1 && value.size() <= 4) {
    for (const Json::Value& part : value) {
      if (!part.isIntegral() || part.isBool())
        return false;
      numbers.push_back(part.asLargestInt());
    }
  } else {
    return false;
  }
  for (size_t i = 0; i < 4; ++i) {
    const long long n = i < numbers.size() ? numbers[i] : 0;
    if (n < 0 || n > 65535)
      return false;
    parts[i] = static_cast<std::uint16_t>(n);
  }
  return true;
}

// --- the binary layout: blocks of length, value length, type, key, value, children,
// each part starting on a 32-bit boundary.

void put16(std::string& out, unsigned value) {
  out.push_back(char(value & 0xFF));
  out.push_back(char(value >> 8 & 0xFF));
}

void put32(std::string& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

void align(std::string& out) {
  while (out.size() % 4)
    out.push_back('\0');
}

void putText(std::string& out, const std::u16string& text) {
  for (char16_t unit : text)
    put16(out, unit);
  put16(out, 0);
}

// `valueLength` counts bytes for binary values and UTF-16 units for texts (type 1).
std::string block(const std::u16string& key, const std::string& value, unsigned valueLength, unsigned type,
                  const std::vector<std::string>& children) {
  std::string out(6, '\0');
  putText(out, key);
  if (!value.empty()) {
    align(out);
    out += value;
  }
  for (const std::string& child : children) {
    align(out);
    out += child;
  }
  std::string head;
  put16(head, unsigned(out.size()));
  put16(head, valueLength);
  put16(head, type);
  out.replace(0, 6, head);
  return out;
}

std::string textBlock(const std::u16string& key, const std::u16string& text) {
  std::string value;
  putText(value, text);
  return block(key, value, unsigned(text.size() + 1), 1, {});
}

} // namespace

bool readProductVersion(const std::string& document, ProductVersion& version, ConfigProblem& problem) {
  version = ProductVersion();
  version.name = InstallConfig().installName;
  // A document the reader gives up on is the configuration's to report.
  Json::Value root;
  if (!parseConfigDocument(document, root) || !root.isObject())
    return true;
  if (root["installName"].isString())
    version.name = root["installName"].asString();
  if (!root.isMember("version"))
    return true;
  if (readParts(root["version"], version.parts))
    return true;
  const Json::Value& value = root["version"];
  std::string wrong = value.isString()  ? "the text \"" + value.asString() + "\""
                      : value.isArray() ? "a list of " + std::to_string(value.size()) + " values"
                                        : "not a version";
  problem = {"", "version", wrong, "\"1.2.3.4\" or [1, 2, 3, 4], each part 0 to 65535"};
  return false;
}

std::string encodeVersionResource(const ProductVersion& version) {
  const std::uint16_t* p = version.parts;
  std::string fixed;
  put32(fixed, 0xFEEF04BD);                  // signature
  put32(fixed, 0x00010000);                  // structure version
  put32(fixed, std::uint32_t(p[0]) << 16 | p[1]);  // file version
  put32(fixed, std::uint32_t(p[2]) << 16 | p[3]);
  put32(fixed, std::uint32_t(p[0]) << 16 | p[1]);  // product version
  put32(fixed, std::uint32_t(p[2]) << 16 | p[3]);
  put32(fixed, 0x3F);                        // flags mask
  put32(fixed, 0);                           // flags
  put32(fixed, 0x40004);                     // VOS_NT_WINDOWS32
  put32(fixed, 1);                           // VFT_APP
  put32(fixed, 0);                           // subtype
  put32(fixed, 0);                           // date
  put32(fixed, 0);

  std::u16string dotted;
  for (int i = 0; i < 4; ++i) {
    if (i)
      dotted += u'.';
    for (char c : std::to_string(p[i]))
      dotted += char16_t(c);
  }
  const std::u16string name = fromGbk(version.name);
  const std::string table = block(u"080404B0", "", 0, 1,
                                  {textBlock(u"FileDescription", name + u"安装"), textBlock(u"FileVersion", dotted),
                                   textBlock(u"ProductName", name), textBlock(u"ProductVersion", dotted)});
  std::string translation;
  put16(translation, 0x0804);
  put16(translation, 1200);
  return block(u"VS_VERSION_INFO", fixed, unsigned(fixed.size()), 0,
               {block(u"StringFileInfo", "", 0, 1, {table}),
                block(u"VarFileInfo", "", 0, 1, {block(u"Translation", translation, 4, 0, {})})});
}
