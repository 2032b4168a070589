// Sections: state; writing; the file and its writer; facts and texts.
#include "app/SupportLog.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "app/LogLine.h"
#include "app/LogQueue.h"

namespace {

constexpr std::size_t kQueuedLines = 4096;
constexpr std::uint64_t kFileBytes = 10ull << 20;
constexpr std::size_t kKeptLogs = 5;
// How long the end waits for the writer to write the last lines.
constexpr DWORD kCloseWaitMs = 1000;
// The writer looks for lines this often: nobody wakes it, so that logging costs the
// window's thread no call into the system.
constexpr std::chrono::milliseconds kWriterPeriod(100);

enum State { kPending, kOpen, kOff };

// ---- state ------------------------------------------------------------------------------

std::atomic<int> state{kPending};
LogQueue& queue() {
  static LogQueue* shared = new LogQueue(kQueuedLines, kFileBytes);
  return *shared;
}
HANDLE file = INVALID_HANDLE_VALUE;
HANDLE writer = nullptr;
std::wstring filePath;
std::string lastCause;
std::mutex answerLock;
std::string lastAnswer;
std::atomic<int> retries{0};
std::atomic<int> mostConnections{0};
std::atomic<bool> proxied{false};

LogTime now() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return LogTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::wstring widen(const std::string& text, UINT codePage) {
  if (text.empty())
    return {};
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

// ---- the file and its writer ----------------------------------------------------------------

void writeOut(const std::string& bytes) {
  DWORD written = 0;
  // A full or vanished disk loses the lines, nothing else.
  if (!bytes.empty())
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// The drop count is written at most once a second (and at the end): under a flood it
// comes out of the reserve, which the last line needs too.
DWORD WINAPI writerThread(LPVOID) {
  std::uint64_t dropped = 0;
  ULONGLONG reported = GetTickCount64();
  for (;;) {
    LogQueue::Batch batch = queue().take(kWriterPeriod);
    std::string bytes;
    for (const std::string& line : batch.lines)
      bytes += line;
    dropped += batch.newlyDropped;
    if (dropped && (batch.closed || GetTickCount64() - reported >= 1000)) {
      const std::string line = LogLine::format(now(), "log", LogLine::dropped(dropped));
      // Before the last batch's lines, so that the run's end stays the last line.
      if (queue().account(line))
        bytes = batch.closed ? line + bytes : bytes + line;
      dropped = 0;
      reported = GetTickCount64();
    }
    writeOut(bytes);
    if (batch.closed)
      return 0;
  }
}

// Deletes this product's logs beyond the newest few; the one just opened stays.
void removeOldLogs(const std::wstring& folder, const std::string& installName, const std::string& current) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"*_install_*.log").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  std::vector<std::string> names;
  do
    names.push_back(SupportLog::utf8(found.cFileName));
  while (FindNextFileW(search, &found));
  FindClose(search);
  for (const std::string& name : LogLine::toDelete(installName, names, current, kKeptLogs))
    DeleteFileW((folder + widen(name, CP_UTF8)).c_str());
}

} // namespace

// ---- writing --------------------------------------------------------------------------------

void SupportLog::write(const char* stage, const std::string& event) {
  if (state.load(std::memory_order_relaxed) == kOff)
    return;
  // The script thread prints the answer; the window's thread names it in the failure.
  if (!event.empty() && event.front() == '{' && std::strcmp(stage, "query") == 0) {
    std::lock_guard<std::mutex> hold(answerLock);
    lastAnswer = event;
  }
  queue().push(LogLine::format(now(), stage, event));
}

void SupportLog::writef(const char* stage, const char* format, ...) {
  if (state.load(std::memory_order_relaxed) == kOff)
    return;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  write(stage, text);
}

bool SupportLog::enabled() { return state.load(std::memory_order_relaxed) != kOff; }

bool SupportLog::open(const std::wstring& path, const std::string& installName) {
  if (state != kPending)
    return state == kOpen;
  std::wstring target = path;
  std::wstring folder;
  const std::string name = LogLine::fileName(fromGbk(installName), now());
  if (target.empty()) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
      disable();
      return false;
    }
    folder = temp;
    target = folder + widen(name, CP_UTF8);
  }
  // Appending, shared: a player (or a test) reads it while it grows, and a copy started
  // in the same second appends to the same file.
  file = CreateFileW(target.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    disable();
    return false;
  }
  writer = CreateThread(nullptr, 0, writerThread, nullptr, 0, nullptr);
  if (!writer) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    disable();
    return false;
  }
  filePath = target;
  state = kOpen;
  if (!folder.empty())
    removeOldLogs(folder, fromGbk(installName), name);
  return true;
}

void SupportLog::disable() { state = kOff; }

void SupportLog::close(const std::string& lastLine) {
  if (state != kOpen)
    return;
  queue().push(LogLine::format(now(), "end", lastLine), true);
  queue().close();
  WaitForSingleObject(writer, kCloseWaitMs);
  state = kOff;
}

std::wstring SupportLog::path() { return filePath; }

// ---- facts and texts ------------------------------------------------------------------------

void SupportLog::failure(const char* stage, const std::string& cause) {
  facts().stage = stage;
  lastCause = cause;
  write(stage, "failed: " + cause);
}

std::string SupportLog::cause() { return lastCause; }

std::string SupportLog::serverAnswer() {
  std::lock_guard<std::mutex> hold(answerLock);
  return lastAnswer;
}

RunFacts& SupportLog::facts() {
  static RunFacts* run = new RunFacts();
  return *run;
}

void SupportLog::countRetry() { ++retries; }

void SupportLog::countConnections(int active) {
  int most = mostConnections;
  while (active > most && !mostConnections.compare_exchange_weak(most, active)) {
  }
}

void SupportLog::noteRoute(bool proxy) { proxied = proxy; }

RunFacts SupportLog::collectedFacts() {
  RunFacts run = facts();
  run.retries = retries;
  run.connections = mostConnections;
  run.route = proxied ? "proxy" : "direct";
  return run;
}

std::string SupportLog::utf8(const std::wstring& text) {
  if (text.empty())
    return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
  return bytes;
}

std::string SupportLog::fromGbk(const std::string& text) { return utf8(widen(text, 936)); }
