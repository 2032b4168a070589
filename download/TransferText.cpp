#include "download/TransferText.h"

#include <cstddef>
#include <limits>

namespace {

// Digits from `at` up to the first non-digit; false on none or on overflow.
bool digitsAt(const std::string& text, std::size_t& at, std::int64_t& value) {
  const std::size_t start = at;
  std::int64_t result = 0;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const int digit = text[at] - '0';
    if (result > (kMax - digit) / 10)
      return false;
    result = result * 10 + digit;
  }
  if (at == start)
    return false;
  value = result;
  return true;
}

} // namespace

bool parseByteCount(const std::string& text, std::int64_t& count) {
  std::size_t at = 0;
  std::int64_t value = 0;
  if (!digitsAt(text, at, value) || at != text.size())
    return false;
  count = value;
  return true;
}

bool parseContentRange(const std::string& text, ContentRange& range) {
  static const std::string kUnit = "bytes ";
  if (text.compare(0, kUnit.size(), kUnit) != 0)
    return false;
  std::size_t at = kUnit.size();
  ContentRange parsed;
  if (!digitsAt(text, at, parsed.first) || at >= text.size() || text[at++] != '-')
    return false;
  if (!digitsAt(text, at, parsed.last) || at >= text.size() || text[at++] != '/')
    return false;
  if (text.compare(at, std::string::npos, "*") == 0) {
    parsed.total = -1;
  } else if (!digitsAt(text, at, parsed.total) || at != text.size()) {
    return false;
  }
  if (parsed.last < parsed.first || (parsed.total >= 0 && parsed.last >= parsed.total))
    return false;
  range = parsed;
  return true;
}

std::int64_t unsatisfiedSize(const std::string& text) {
  static const std::string kUnsatisfied = "bytes */";
  std::size_t at = kUnsatisfied.size();
  std::int64_t size = -1;
  if (text.compare(0, at, kUnsatisfied) != 0 || !digitsAt(text, at, size) || at != text.size())
    return -1;
  return size;
}

std::string rangeHeader(std::int64_t from) { return "Range: bytes=" + std::to_string(from) + "-\r\n"; }

std::string rangeHeader(std::int64_t from, std::int64_t last) {
  return "Range: bytes=" + std::to_string(from) + "-" + std::to_string(last) + "\r\n";
}

std::string mirrorAddress(const std::string& base, const std::string& announced) {
  const std::string path = announced.substr(0, announced.find_first_of("?#"));
  const std::size_t scheme = path.find("://");
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size() || (scheme != std::string::npos && slash < scheme + 3))
    return std::string();
  return base + path.substr(slash + 1);
}

std::string sideFileText(std::int64_t size, const std::string& md5) { return std::to_string(size) + md5; }
