#include "tests/gui/ScreenTools.h"

#include <cstdlib>
#include <filesystem>

#include "gui/ImageCache.h"

namespace qxtest {

std::wstring windowsPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
  return out;
}

bool runUnixCommand(const std::string& shellCommand, DWORD timeoutMs) {
  static int counter = 0;
  const std::string marker = screenshotFolder() + "/.done-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(++counter);
  std::string commandLine = "/bin/sh -c \"" + shellCommand + "; touch " + marker + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi))
    return false;
  if (pi.hProcess) CloseHandle(pi.hProcess);
  if (pi.hThread) CloseHandle(pi.hThread);
  const DWORD start = GetTickCount();
  std::error_code ec;
  while (!std::filesystem::exists(marker, ec)) {
    if (GetTickCount() - start > timeoutMs) return false;
    pump(20);
  }
  std::filesystem::remove(marker, ec);
  return true;
}

bool screenshot(const std::string& unixPng) {
  std::error_code ec;
  std::filesystem::remove(unixPng, ec);
  const std::string temp = unixPng + ".part.png";
  if (!runUnixCommand("import -window root " + temp + " && mv " + temp + " " + unixPng, 20000))
    return false;
  return std::filesystem::exists(unixPng, ec);
}

bool clickAt(int x, int y) {
  return runUnixCommand("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                            " sleep 0.1 click 1",
                        10000);
}

std::unique_ptr<Gdiplus::Bitmap> loadPng(const std::string& unixPath) {
  ImageCache::instance();
  auto bitmap = std::make_unique<Gdiplus::Bitmap>(windowsPath(unixPath).c_str());
  if (bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
  return bitmap;
}

std::uint32_t rgbAt(Gdiplus::Bitmap& bitmap, int x, int y) {
  Gdiplus::Color c;
  if (x < 0 || y < 0 || x >= int(bitmap.GetWidth()) || y >= int(bitmap.GetHeight()) ||
      bitmap.GetPixel(x, y, &c) != Gdiplus::Ok)
    return 0xFFFFFFFFu;
  return c.GetValue() & 0xFFFFFFu;
}

} // namespace qxtest
