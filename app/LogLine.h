#pragma once
// The support log's text: its lines, its file names and which old files go. Portable, so
// it is tested natively; the file and its thread are SupportLog's.
#include <cstdint>
#include <string>
#include <vector>

// A local time as the log shows it.
struct LogTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

class LogLine {
public:
  // "2026-12-08 10:39:00.123 [stage] event\n"; line breaks inside the event become
  // spaces, so one event stays one line whatever a server or a script said.
  static std::string format(const LogTime& time, const std::string& stage, const std::string& event);
  // "<installName>_install_<yyyyMMdd_HHmmss>.log" (installName in UTF-8).
  static std::string fileName(const std::string& installName, const LogTime& time);
  // Of the names in the temporary folder, this product's logs beyond the `keep` newest
  // (`current`, the file being written, always stays). The stamp orders them.
  static std::vector<std::string> toDelete(const std::string& installName, std::vector<std::string> names,
                                           const std::string& current, std::size_t keep);
  static std::string dropped(std::uint64_t count);
};
