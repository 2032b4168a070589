#include "app/LogLine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// "_install_" + "yyyyMMdd_HHmmss" + ".log" after the product's name.
bool isProductLog(const std::string& installName, const std::string& name) {
  const std::string prefix = installName + "_install_";
  const std::string stampShape = "dddddddd_dddddd";
  if (name.size() != prefix.size() + stampShape.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - 4, 4, ".log") != 0)
    return false;
  for (std::size_t i = 0; i < stampShape.size(); ++i) {
    const char c = name[prefix.size() + i];
    if (stampShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != '_')
      return false;
  }
  return true;
}

} // namespace

std::string LogLine::format(const LogTime& time, const std::string& stage, const std::string& event) {
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", time.year, time.month, time.day, time.hour,
                time.minute, time.second, time.millisecond);
  std::string text = event;
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return std::string(stamp) + " [" + stage + "] " + text + "\n";
}

std::string LogLine::fileName(const std::string& installName, const LogTime& time) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d", time.year, time.month, time.day, time.hour,
                time.minute, time.second);
  return installName + "_install_" + stamp + ".log";
}

std::vector<std::string> LogLine::toDelete(const std::string& installName, std::vector<std::string> names,
                                           const std::string& current, std::size_t keep) {
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const std::string& name) { return !isProductLog(installName, name); }),
              names.end());
  std::sort(names.begin(), names.end(), std::greater<>());
  const auto self = std::find(names.begin(), names.end(), current);
  if (self != names.end())
    names.erase(self);
  // The current file is one of those kept.
  const std::size_t others = keep > 0 ? keep - 1 : 0;
  if (names.size() <= others)
    return {};
  return std::vector<std::string>(names.begin() + static_cast<std::ptrdiff_t>(others), names.end());
}

std::string LogLine::dropped(std::uint64_t count) {
  return std::to_string(count) + " lines dropped: more came than the log could take";
}
