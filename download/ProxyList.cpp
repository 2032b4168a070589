#include "download/ProxyList.h"

#include <cwctype>

namespace {

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// "http://proxy:8080/" -> "proxy:8080"
std::wstring server(std::wstring entry) {
  const std::size_t scheme = entry.find(L"://");
  if (scheme != std::wstring::npos) entry.erase(0, scheme + 3);
  const std::size_t slash = entry.find(L'/');
  if (slash != std::wstring::npos) entry.erase(slash);
  return entry;
}

} // namespace

std::wstring ProxyList::forScheme(const std::wstring& list, const std::wstring& scheme) {
  const std::wstring wanted = lower(scheme);
  std::wstring common;
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = list.find_first_of(L"; \t", at);
    const std::wstring entry = list.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    at = end == std::wstring::npos ? list.size() : end + 1;
    if (entry.empty()) continue;
    const std::size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos) {
      if (common.empty()) common = server(entry);
    } else if (lower(entry.substr(0, equals)) == wanted) {
      const std::wstring chosen = server(entry.substr(equals + 1));
      if (!chosen.empty()) return chosen;
    }
  }
  return common;
}
