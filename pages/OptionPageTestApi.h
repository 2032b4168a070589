#pragma once
// Test-only view of an option page: its widgets, and the free-space query at the one
// place the page asks the system for it.
#include <cstdint>
#include <string>
#include <vector>

class OptionPage;
class QxCheckBox;
class QxTextBox;

class OptionPageTestApi {
public:
  static QxTextBox* pathBox(const OptionPage& page);
  // What the player reads and can press, as one line: "<needed> | <available>
  // [| <warning>] | next <button state>", the warning only while it is shown.
  static std::string status(const OptionPage& page);
  static std::vector<QxCheckBox*> optionBoxes(const OptionPage& page);
  // The bytes free to the caller on the volume of `root`; false when the query fails.
  // Null restores the system's answer.
  using FreeBytesQuery = bool (*)(const std::string& root, std::uint64_t& bytes);
  static void setFreeBytesQuery(FreeBytesQuery query);
};
