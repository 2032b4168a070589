#include "gui/GbkText.h"

#include <windows.h>

namespace {
constexpr UINT kGbk = 936;
}

std::wstring gbkToWide(const std::string& text) {
  if (text.empty())
    return {};
  const int length = MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0)
    MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string wideToGbk(const std::wstring& text) {
  if (text.empty())
    return {};
  const int length =
      WideCharToMultiByte(kGbk, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    WideCharToMultiByte(kGbk, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
  return bytes;
}
