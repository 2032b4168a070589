#pragma once
// The payload's command line and the spreader code of the program's file name; portable.
#include <string>

#include "app/CommandLineOptions.h"

struct SetupCommandInput {
  std::string setupDir;         // ends in a backslash
  CommandLineMap options;       // this program's command line
  std::string windowTitle;      // passed on with "-notify_wnd"
  std::string installPath;      // as installPathForRun gives it
  bool silent = false;
  std::string extraArguments;
};

// The folder the payload is told to install into: a caller's own "-installPath" (one pair
// of surrounding quotes dropped), else `chosenPath`; normalised either way. The install
// manager records, writes into and starts the game from the same folder.
std::string installPathForRun(const CommandLineMap& options, const std::string& chosenPath);

// `setupDir` + "setup.exe /verysilent", then every option in key order, then the extra
// arguments. Keys, values and the program path follow the Windows argument rules, so
// the payload's argument vector holds exactly these texts; values are always quoted.
std::string buildSetupCommand(const SetupCommandInput& input);

// The code in a file name like name.12345.dl.exe ("12345"); empty when there is none.
// `moduleFileName` may be a whole path.
std::string spreaderCodeOf(const std::string& moduleFileName);
