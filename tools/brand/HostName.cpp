#include "tools/brand/HostName.h"

#include <cctype>
#include <vector>

bool isHostNameOrAddress(const std::string& text) {
  if (text.empty() || text.size() > 253)
    return false;
  std::vector<std::string> labels(1);
  for (char c : text) {
    if (c == '.')
      labels.emplace_back();
    else
      labels.back().push_back(c);
  }
  bool numeric = true;
  for (const std::string& label : labels) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
      return false;
    for (char c : label) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
        return false;
      if (!std::isdigit(static_cast<unsigned char>(c)))
        numeric = false;
    }
  }
  // All digits is an address, which the resolver takes in short forms too ("10.1"):
  // only the four-part form says what it means.
  if (!numeric)
    return true;
  if (labels.size() != 4)
    return false;
  for (const std::string& part : labels)
    if (part.size() > 3 || std::stoi(part) > 255)
      return false;
  return true;
}
