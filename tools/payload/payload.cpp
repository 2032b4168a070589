// A stand-in for a game's install package, for the installer's tests. It behaves as the
// installer expects of a package, steered by environment variables the test sets:
//   QX_PAYLOAD_RECORD  file that receives this process's command line, byte for byte
//   QX_PAYLOAD_ARGV    file that receives the arguments as the system's parser splits
//                      them, one a line, in GBK whatever this process's code page
//   QX_PAYLOAD_EXIT    exit code (default 0)
//   QX_PAYLOAD_STEPS   progress messages to send (default 5), QX_PAYLOAD_DELAY ms apart (default 40)
//   QX_PAYLOAD_GAME    program copied to <install path>\Vantor.exe
//   QX_PAYLOAD_RATE    messages per second instead of the delay (a progress flood), and
//   QX_PAYLOAD_HOLD    ms to wait after the last message before ending (default 0)
//   QX_PAYLOAD_LOAD    a DLL to load by name, as a setup program loads one from its folder
//   QX_PAYLOAD_PARENTS file that receives "<parent id> <grandparent id>" of this process
// It creates <install path>\Vantor_Data\StreamingAssets and posts message 6365
// (done, total) to the window whose title follows "-notify_wnd".
// Started without "-installPath" (copied into the install path as the game, or standing in
// for any program a test has started), it only writes its own path, its working folder and
// its command line, one a line, to "started.txt" and its parent's process id to
// "parent.txt" beside itself, and ends with 0.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string environment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value ? value : fallback;
}

std::string argumentAfter(const char* key) {
  for (int i = 1; i + 1 < __argc; ++i)
    if (std::string(__argv[i]) == key)
      return __argv[i + 1];
  return {};
}

void writeText(const std::string& file, const std::string& text) {
  if (FILE* out = std::fopen(file.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
  }
}

void recordArguments(const std::string& file) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments)
    return;
  std::string text;
  for (int i = 0; i < count; ++i) {
    const int length = WideCharToMultiByte(936, 0, arguments[i], -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(936, 0, arguments[i], -1, &bytes[0], length, nullptr, nullptr);
    text += bytes.c_str();
    text += '\n';
  }
  LocalFree(arguments);
  writeText(file, text);
}

DWORD parentOf(DWORD process) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == process)
      parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  return parent;
}

} // namespace

void recordGameStart() {
  char path[MAX_PATH] = {}, folder[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  GetCurrentDirectoryA(MAX_PATH, folder);
  const std::string beside = std::string(path).substr(0, std::string(path).find_last_of('\\') + 1);
  writeText(beside + "started.txt", std::string(path) + "\n" + folder + "\n" + GetCommandLineA() + "\n");
  writeText(beside + "parent.txt", std::to_string(parentOf(GetCurrentProcessId())));
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (argumentAfter("-installPath").empty()) {
    recordGameStart();
    return 0;
  }
  const std::string record = environment("QX_PAYLOAD_RECORD", "");
  if (!record.empty())
    writeText(record, GetCommandLineA());

  const std::string parents = environment("QX_PAYLOAD_PARENTS", "");
  if (!parents.empty()) {
    const DWORD parent = parentOf(GetCurrentProcessId());
    writeText(parents, std::to_string(parent) + " " + std::to_string(parentOf(parent)));
  }
  const std::string library = environment("QX_PAYLOAD_LOAD", "");
  if (!library.empty())
    LoadLibraryA(library.c_str());

  const std::string argv = environment("QX_PAYLOAD_ARGV", "");
  if (!argv.empty())
    recordArguments(argv);

  // Every level, as a real package would: the chosen folder need not exist yet. A drive
  // root ("D:\") comes with its backslash.
  const std::string installPath = argumentAfter("-installPath");
  const std::string base = installPath.back() == '\\' ? installPath.substr(0, installPath.size() - 1) : installPath;
  const std::string data = base + "\\Vantor_Data\\StreamingAssets\\";
  for (size_t at = data.find('\\', 3); at != std::string::npos; at = data.find('\\', at + 1))
    CreateDirectoryA(data.substr(0, at).c_str(), nullptr);
  const std::string game = environment("QX_PAYLOAD_GAME", "");
  if (!game.empty())
    CopyFileA(game.c_str(), (base + "\\Vantor.exe").c_str(), FALSE);

  const int steps = std::atoi(environment("QX_PAYLOAD_STEPS", "5").c_str());
  const int delay = std::atoi(environment("QX_PAYLOAD_DELAY", "40").c_str());
  const std::string title = argumentAfter("-notify_wnd");
  HWND target = title.empty() ? nullptr : FindWindowA(nullptr, title.c_str());
  const int rate = std::atoi(environment("QX_PAYLOAD_RATE", "0").c_str());
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int done = 1; done <= steps; ++done) {
    if (target)
      PostMessageA(target, 6365, static_cast<WPARAM>(done), static_cast<LPARAM>(steps));
    if (rate <= 0) {
      Sleep(static_cast<DWORD>(delay));
      continue;
    }
    // Paced by the clock, not by Sleep, whose granularity is far coarser than the rate:
    // behind time, the next message goes at once.
    while (done < steps && QueryPerformanceCounter(&now) &&
           (now.QuadPart - start.QuadPart) * rate / frequency.QuadPart + 1 <= done)
      Sleep(1);
  }
  Sleep(static_cast<DWORD>(std::atoi(environment("QX_PAYLOAD_HOLD", "0").c_str())));
  return std::atoi(environment("QX_PAYLOAD_EXIT", "0").c_str());
}
