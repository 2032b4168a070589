#pragma once
// One thing a branding folder gets wrong, said in the publisher's terms on one line:
//   file: key or item: what is wrong: expected what belongs there
#include <string>

struct Problem {
  std::string file;
  std::string item;  // may be empty
  std::string wrong;
  std::string expected;

  std::string line() const {
    return file + ": " + (item.empty() ? "" : item + ": ") + wrong + ": expected " + expected;
  }
};
