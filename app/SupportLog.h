#pragma once
// The support log: each run's own account in a UTF-8 file that a player can send to
// support, one line per event. The Windows shell (file, writer thread, temporary folder)
// over the portable LogLine and LogQueue.
#include <cstdint>
#include <string>

#include "app/RunFacts.h"

// Any thread may write. A line goes to a bounded queue that the writer thread empties,
// so no caller ever waits for the disk; when logging is off a write costs one atomic
// read. Lines written before open() wait in the queue. The facts are the UI thread's;
// the counts may come from any thread.
class SupportLog {
public:
  static void write(const char* stage, const std::string& event);
  static void writef(const char* stage, const char* format, ...) __attribute__((format(printf, 2, 3)));
  static bool enabled();

  // Starts writing to `path`, or (empty) to "<installName>_install_<stamp>.log" in the
  // temporary folder, where this product's logs beyond the newest five go. False when
  // the file cannot be opened: the run goes on without a log.
  static bool open(const std::wstring& path, const std::string& installName);
  // No log for this run (/nolog).
  static void disable();
  // Writes what waits and `lastLine`, then stops the writer: the last thing before exit.
  static void close(const std::string& lastLine);
  static std::wstring path();

  // A failure the run ends with: its line now, and its cause for the last line.
  static void failure(const char* stage, const std::string& cause);
  static std::string cause();
  // The update server's answer as the query script printed it (a "{...}" line), or "".
  static std::string serverAnswer();
  static RunFacts& facts();
  static void countRetry();
  static void countConnections(int active);
  static void noteRoute(bool proxy);
  // The counts and the route merged into the facts.
  static RunFacts collectedFacts();

  // Texts for the log: from UTF-16, and from the configuration's GBK bytes.
  static std::string utf8(const std::wstring& text);
  static std::string fromGbk(const std::string& text);
};
