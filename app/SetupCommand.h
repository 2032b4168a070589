#pragma once
// The payload's command line and the spreader code of the program's file name; portable.
#include <string>

#include "app/CommandLineOptions.h"

struct SetupCommandInput {
  std::string setupDir;         // ends in a backslash
  CommandLineMap options;       // this program's command line
  std::string windowTitle;      // passed on with "-notify_wnd"
  std::string installPath;      // the path of the chosen install mode
  bool silent = false;
  std::string extraArguments;
};

// `setupDir` + "setup.exe /verysilent", then every option in key order (values quoted
// unless already quoted), then the extra arguments. The program path itself is quoted
// so a folder with a space still names one program.
std::string buildSetupCommand(const SetupCommandInput& input);

// The code in a file name like name.12345.dl.exe ("12345"); empty when there is none.
// `moduleFileName` may be a whole path.
std::string spreaderCodeOf(const std::string& moduleFileName);
