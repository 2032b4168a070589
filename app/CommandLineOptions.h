#pragma once
// The installer's command line as an ordered map; portable so it is tested natively.
#include <map>
#include <string>
#include <vector>

// Keys ordered byte-wise; a dash option takes the next argument as its value unless it
// is the last one, any other argument has an empty value. Later keys replace earlier ones.
using CommandLineMap = std::map<std::string, std::string>;

class CommandLineOptions {
public:
  // Get-or-create: built once from the process's argument vector (Windows only).
  static const CommandLineMap& get();

  // The map for an argument vector whose element 0 is the program name.
  static CommandLineMap build(const std::vector<std::string>& argv);
};
