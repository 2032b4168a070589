#pragma once
// One thing a branding folder gets wrong, said in the publisher's terms on one line:
//   file: key or item: what is wrong: expected what belongs there
// A warning is something the installer works with but the publisher should know about;
// its line begins "warning: ", and the expected part may be left out.
#include <string>

struct Problem {
  std::string file;
  std::string item;  // may be empty
  std::string wrong;
  std::string expected;
  bool warning = false;

  std::string line() const {
    return (warning ? "warning: " : "") + file + ": " + (item.empty() ? "" : item + ": ") + wrong +
           (expected.empty() ? "" : ": expected " + expected);
  }
};
