#include "tests/support/DialogWatcher.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace qxtest {

struct DialogWatcher::Impl {
  std::atomic<bool> running{true};
  std::atomic<int> answer{IDOK};
  std::string programName;
  mutable std::mutex mutex;
  std::vector<Box> boxes;  // under mutex
  std::set<HWND> answered; // watcher thread only
  std::thread thread;

  static BOOL CALLBACK visit(HWND hwnd, LPARAM param) {
    auto* self = reinterpret_cast<Impl*>(param);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    // Message boxes only: their text is the static control 0xFFFF. Other dialogs (the
    // folder browser) are left to the test that opened them.
    if (std::string(cls) != "#32770" || !IsWindowVisible(hwnd) || self->answered.count(hwnd) ||
        !GetDlgItem(hwnd, 0xFFFF) || !self->ours(hwnd))
      return TRUE;
    char caption[512] = {};
    char text[4096] = {};
    GetWindowTextA(hwnd, caption, sizeof caption);
    GetDlgItemTextA(hwnd, 0xFFFF, text, sizeof text);
    self->answered.insert(hwnd);
    {
      std::lock_guard<std::mutex> lock(self->mutex);
      self->boxes.push_back({caption, text});
    }
    const int id = self->answer.load();
    HWND button = GetDlgItem(hwnd, id);
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return TRUE;
  }

  bool ours(HWND hwnd) const {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId())
      return true;
    if (programName.empty())
      return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
      return false;
    char path[MAX_PATH * 2] = {};
    DWORD size = sizeof path;
    const bool named = QueryFullProcessImageNameA(process, 0, path, &size) != 0;
    CloseHandle(process);
    if (!named)
      return false;
    const std::string file = path;
    return file.substr(file.find_last_of("\\/") + 1).find(programName) != std::string::npos;
  }

  void run() {
    while (running) {
      EnumWindows(&Impl::visit, reinterpret_cast<LPARAM>(this));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
};

DialogWatcher::DialogWatcher(int answer, std::string programName) : impl_(std::make_unique<Impl>()) {
  impl_->answer = answer;
  impl_->programName = std::move(programName);
  impl_->thread = std::thread([this] { impl_->run(); });
}

DialogWatcher::~DialogWatcher() {
  impl_->running = false;
  impl_->thread.join();
}

void DialogWatcher::setAnswer(int answer) { impl_->answer = answer; }

std::vector<DialogWatcher::Box> DialogWatcher::boxes() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->boxes;
}

bool DialogWatcher::waitForBoxes(size_t count, DWORD timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (boxes().size() >= count)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return boxes().size() >= count;
}

} // namespace qxtest
