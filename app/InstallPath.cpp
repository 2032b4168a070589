#include "app/InstallPath.h"

#include <vector>

#include "app/GbkBytes.h"

namespace {

// Start of every character, so a separator is never mistaken in a double-byte one.
std::vector<std::size_t> charStarts(const std::string& text) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < text.size(); at += gbkCharLength(text, at))
    starts.push_back(at);
  return starts;
}

bool isSeparator(const std::string& text, std::size_t at) {
  return gbkCharLength(text, at) == 1 && (text[at] == '\\' || text[at] == '/');
}

} // namespace

std::string normaliseInstallPath(const std::string& path) {
  const std::vector<std::size_t> starts = charStarts(path);
  std::size_t end = path.size();
  for (auto it = starts.rbegin(); it != starts.rend() && isSeparator(path, *it); ++it)
    end = *it;
  std::string result = path.substr(0, end);
  if (result.size() == 2 && result[1] == ':')
    result += '\\';
  // Nothing but separators: the root of the current drive.
  if (result.empty() && !path.empty())
    result = "\\";
  return result;
}

std::string pathInFolder(const std::string& folder, const std::string& name) {
  const std::vector<std::size_t> starts = charStarts(folder);
  if (!starts.empty() && isSeparator(folder, starts.back()))
    return folder + name;
  return folder + "\\" + name;
}
