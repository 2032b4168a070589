#pragma once
// Answers message boxes (not other dialogs) of any process in the test's Wine session, so a test never
// hangs on one, and records what each box said. Texts are in the ANSI code page.
#include <windows.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qxtest {

class DialogWatcher {
public:
  struct Box {
    std::string caption;
    std::string text;
    bool operator==(const Box& other) const { return caption == other.caption && text == other.text; }
  };

  // Starts watching at once; `answer` is the button pressed (IDOK, IDCANCEL, IDYES...).
  // Boxes of this process, and of every process whose program file name contains
  // `programName` when it is not empty.
  explicit DialogWatcher(int answer = IDOK, std::string programName = "");
  ~DialogWatcher();
  DialogWatcher(const DialogWatcher&) = delete;
  DialogWatcher& operator=(const DialogWatcher&) = delete;

  void setAnswer(int answer);
  std::vector<Box> boxes() const;
  // Waits until at least `count` boxes were answered; false on timeout.
  bool waitForBoxes(size_t count, DWORD timeoutMs) const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

inline void PrintTo(const DialogWatcher::Box& box, std::ostream* out) {
  *out << "(\"" << box.caption << "\", \"" << box.text << "\")";
}
using Boxes = std::vector<DialogWatcher::Box>;

} // namespace qxtest
