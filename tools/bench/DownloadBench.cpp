// Measures the package download's two hot paths for download-bench.sh:
//   download_bench md5 FILE                 prints "<digest> <seconds>"
//   download_bench get URL TARGET SIZE      prints "<bytes> <seconds>" (Windows only)
// The times cover the work only, not the program's start.
#include "download/CMD5Checksum.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include "download/AsyncWinHttp.h"
#endif

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int digest(const char* path) {
  const auto start = std::chrono::steady_clock::now();
  CMD5Checksum md5;
  const std::string text = md5.digestFile(std::string(path));
  std::printf("%s %.6f\n", text.c_str(), secondsSince(start));
  return 0;
}

#ifdef _WIN32
std::wstring widen(const char* text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], n);
  return out;
}

int get(const char* url, const char* target, const char* size) {
  const std::wstring path = widen(target);
  DeleteFileW(path.c_str());
  DeleteFileW((path + L".info").c_str());
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  const auto start = std::chrono::steady_clock::now();
  AsyncWinHttp downloader;
  if (!downloader.init(&AsyncWinHttp::postToWindow, window)) return 1;
  downloader.download(widen(url), path, std::atoll(size), "00000000000000000000000000000000");
  MSG msg;
  WPARAM downloaded = 0;
  // Bounded: a stalled transfer ends the measurement after two minutes.
  const ULONGLONG deadline = GetTickCount64() + 120000;
  for (bool done = false; !done && GetTickCount64() < deadline;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == AsyncWinHttp::kDoneMessage) {
        downloaded = msg.wParam;
        done = true;
      }
    }
  }
  std::printf("%llu %.6f\n", static_cast<unsigned long long>(downloaded), secondsSince(start));
  DestroyWindow(window);
  return 0;
}
#endif

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "md5") == 0) return digest(argv[2]);
#ifdef _WIN32
  if (argc == 5 && std::strcmp(argv[1], "get") == 0) return get(argv[2], argv[3], argv[4]);
#endif
  std::fprintf(stderr, "usage: download_bench md5 FILE | get URL TARGET SIZE\n");
  return 2;
}
