// Measures the package download's hot paths for tools/bench/bench.sh:
//   download_bench md5 FILE                 prints "<digest> <seconds>"
//   download_bench get URL TARGET SIZE [CONNECTIONS [MIRROR...]]
//                                           prints "<bytes> <seconds>" (Windows only); with
//                                           CONNECTIONS, the downloader may open that many,
//                                           with MIRRORs, it may also ask those addresses
// and, to tell the downloader's cost from the platform's (Windows only, nothing written):
//   download_bench winhttp URL              synchronous WinHTTP reads of 1 MiB, discarded
//   download_bench winsock PORT PATH        a plain GET on 127.0.0.1:PORT, recv of 1 MiB
// The times cover the work only, not the program's start.
#include "download/CMD5Checksum.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <winhttp.h>

#include <vector>

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

int get(const char* url, const char* target, const char* size, const char* connections,
        const std::vector<std::wstring>& mirrors) {
  const std::wstring path = widen(target);
  DeleteFileW(path.c_str());
  DeleteFileW((path + L".info").c_str());
  DeleteFileW((path + L".parts").c_str());
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  const auto start = std::chrono::steady_clock::now();
  AsyncWinHttp downloader;
  if (!downloader.init(&AsyncWinHttp::postToWindow, window)) return 1;
  if (connections) downloader.setConnections(std::atoi(connections));
  downloader.setMirrors(mirrors);
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

// The fastest any WinHTTP client can be here: no callbacks, no file, the largest reads.
int winhttpGet(const char* url) {
  const std::wstring wide = widen(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  wchar_t host[256] = {}, path[2048] = {};
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return 1;
  const auto start = std::chrono::steady_clock::now();
  HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr, nullptr, nullptr, 0);
  if (!request || !WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr))
    return 1;
  std::vector<char> buffer(1 << 20);
  unsigned long long total = 0;
  for (DWORD got = 0; WinHttpReadData(request, buffer.data(), DWORD(buffer.size()), &got) && got > 0;)
    total += got;
  std::printf("%llu %.6f\n", total, secondsSince(start));
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  return 0;
}

// The socket layer alone: what is left once WinHTTP is out of the way.
int winsockGet(const char* port, const char* path) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
  const auto start = std::chrono::steady_clock::now();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(u_short(std::atoi(port)));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
  const std::string get = std::string("GET ") + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  send(s, get.data(), int(get.size()), 0);
  std::vector<char> buffer(1 << 20);
  unsigned long long total = 0;
  for (int got; (got = recv(s, buffer.data(), int(buffer.size()), 0)) > 0;)
    total += unsigned(got);
  std::printf("%llu %.6f\n", total, secondsSince(start));
  closesocket(s);
  WSACleanup();
  return 0;
}
#endif

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "md5") == 0) return digest(argv[2]);
#ifdef _WIN32
  if (argc >= 5 && std::strcmp(argv[1], "get") == 0) {
    std::vector<std::wstring> mirrors;
    for (int i = 6; i < argc; ++i)
      mirrors.push_back(widen(argv[i]));
    return get(argv[2], argv[3], argv[4], argc >= 6 ? argv[5] : nullptr, mirrors);
  }
  if (argc == 3 && std::strcmp(argv[1], "winhttp") == 0) return winhttpGet(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "winsock") == 0) return winsockGet(argv[2], argv[3]);
#endif
  std::fprintf(stderr, "usage: download_bench md5 FILE | get URL TARGET SIZE [CONNECTIONS [MIRROR...]]\n");
  return 2;
}
