// Sections: the request; the unelevated side; the elevated side.
#include "app/UserLauncher.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <vector>

#include "app/SecureRandom.h"

namespace {

constexpr DWORD kRequestLimit = 64 * 1024;
constexpr DWORD kAnswerTimeoutMs = 20000;
constexpr char kStart = 'R';
constexpr char kOpen = 'O';
constexpr char kHandOver = 'H';

std::string adoptedPipe;

// --- the request -----------------------------------------------------------------------

// A kind, then two texts, each ended by a zero byte (ANSI, as both copies share it).
std::string request(char kind, const std::string& first, const std::string& second) {
  std::string bytes(1, kind);
  bytes += '\0';
  bytes += first;
  bytes += '\0';
  bytes += second;
  bytes += '\0';
  return bytes;
}

bool carryOut(const std::string& bytes) {
  std::vector<std::string> fields;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = bytes.find('\0', at);
    if (end == std::string::npos)
      return false;
    fields.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  if (fields.size() != 3 || fields[0].size() != 1)
    return false;
  if (fields[0][0] == kOpen)
    return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", fields[1].c_str(), nullptr, nullptr,
                                                   SW_SHOWMAXIMIZED)) > 32;
  if (fields[0][0] != kStart)
    return false;
  std::vector<char> command(fields[1].begin(), fields[1].end());
  command.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      fields[2].empty() ? nullptr : fields[2].c_str(), &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Waits for an overlapped operation on `pipe`, or for `process` to end (false).
bool finish(HANDLE pipe, OVERLAPPED& overlapped, HANDLE process, DWORD& moved) {
  HANDLE waits[] = {overlapped.hEvent, process};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
    return false;
  }
  return GetOverlappedResult(pipe, &overlapped, &moved, FALSE);
}

} // namespace

// --- the unelevated side ---------------------------------------------------------------

UserLauncher::UserLauncher() {
  const std::string random = SecureRandom::hex(16);
  if (random.empty())
    return;
  const std::string name = "\\\\.\\pipe\\qx-player-" + std::to_string(GetCurrentProcessId()) + "-" + random;
  // The first instance, so nobody who guessed the name first can stand in for this copy.
  HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 16, kRequestLimit, 0,
                                 nullptr);
  if (pipe == INVALID_HANDLE_VALUE)
    return;
  pipe_ = pipe;
  name_ = name;
}

UserLauncher::~UserLauncher() {
  if (pipe_)
    CloseHandle(static_cast<HANDLE>(pipe_));
}

unsigned long UserLauncher::serveUntilExit(void* processHandle) {
  // `current` is the elevated copy served; `next` the copy it restarted itself as, which
  // is served in its place from its first request or from the end of `current` on.
  HANDLE current = static_cast<HANDLE>(processHandle);
  HANDLE next = nullptr;
  auto promote = [&] {
    if (current != processHandle)
      CloseHandle(current);
    current = next;
    next = nullptr;
  };
  HANDLE pipe = static_cast<HANDLE>(pipe_);
  OVERLAPPED overlapped{};
  overlapped.hEvent = pipe ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
  std::vector<char> buffer(overlapped.hEvent ? kRequestLimit : 0);
  while (overlapped.hEvent) {
    ResetEvent(overlapped.hEvent);
    DWORD moved = 0;
    bool connected = ConnectNamedPipe(pipe, &overlapped) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!connected && GetLastError() == ERROR_IO_PENDING)
      connected = finish(pipe, overlapped, current, moved);
    if (!connected) {
      WaitForSingleObject(current, INFINITE);
      if (!next)
        break;
      promote();
      continue;
    }
    // Only the elevated copy this one started is served, and the copy it handed over to.
    ULONG client = 0;
    const bool known = GetNamedPipeClientProcessId(pipe, &client);
    if (known && next && client == GetProcessId(next))
      promote();
    const bool ours = !known || client == GetProcessId(current);
    ResetEvent(overlapped.hEvent);
    bool ok = false;
    if (ours && (ReadFile(pipe, buffer.data(), kRequestLimit, &moved, &overlapped) ||
                 (GetLastError() == ERROR_IO_PENDING && finish(pipe, overlapped, current, moved)))) {
      const std::string bytes(buffer.data(), moved);
      if (bytes.size() > 2 && bytes[0] == kHandOver) {
        // Only from a client known to be the copy: it names a process it made suspended and
        // still holds, so the id cannot belong to another process yet; opened now, the
        // handle keeps it so.
        if (next)
          CloseHandle(next);
        next = known ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   std::strtoul(bytes.c_str() + 2, nullptr, 10))
                     : nullptr;
        ok = next != nullptr;
      } else {
        ok = carryOut(bytes);
      }
    }
    const char answer = ok ? '1' : '0';
    ResetEvent(overlapped.hEvent);
    if (!WriteFile(pipe, &answer, 1, &moved, &overlapped) && GetLastError() == ERROR_IO_PENDING)
      finish(pipe, overlapped, current, moved);
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
  }
  if (overlapped.hEvent)
    CloseHandle(overlapped.hEvent);
  WaitForSingleObject(current, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(current, &code);
  if (current != processHandle)
    CloseHandle(current);
  return code;
}

// --- the elevated side -----------------------------------------------------------------

namespace {

bool deliver(const std::string& bytes) {
  if (adoptedPipe.empty())
    return carryOut(bytes);
  char answer = 0;
  DWORD got = 0;
  return CallNamedPipeA(adoptedPipe.c_str(), const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()), &answer,
                        1, &got, kAnswerTimeoutMs) &&
         got == 1 && answer == '1';
}

} // namespace

void UserLauncher::adopt(const std::string& name) {
  // Only a pipe of this program's own naming: the option cannot point elsewhere.
  adoptedPipe = name.rfind("\\\\.\\pipe\\qx-player-", 0) == 0 ? name : std::string();
}

const std::string& UserLauncher::adopted() { return adoptedPipe; }

bool UserLauncher::handOver(unsigned long processId) {
  return !adoptedPipe.empty() && deliver(request(kHandOver, std::to_string(processId), std::string()));
}

bool UserLauncher::startProgram(const std::string& commandLine, const std::string& folder) {
  return deliver(request(kStart, commandLine, folder));
}

bool UserLauncher::openDocument(const std::string& target) { return deliver(request(kOpen, target, std::string())); }
