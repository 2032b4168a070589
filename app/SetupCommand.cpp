#include "app/SetupCommand.h"

#include <vector>

#include "app/ArgumentQuoting.h"
#include "app/InstallPath.h"

std::string installPathForRun(const CommandLineMap& options, const std::string& chosenPath) {
  const auto supplied = options.find("-installPath");
  if (supplied == options.end() || supplied->second.empty())
    return normaliseInstallPath(chosenPath);
  std::string path = supplied->second;
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
    path = path.substr(1, path.size() - 2);
  return normaliseInstallPath(path);
}

std::string buildSetupCommand(const SetupCommandInput& input) {
  CommandLineMap options = input.options;
  options.erase("/verysilent");
  // The pipe to the unelevated copy is the installer's own business.
  options.erase("-playerChannel");
  options["-notify_wnd"] = input.windowTitle;
  options["-startGame"] = "false";
  options["-installPath"] = input.installPath;
  options["-silentInstall"] = input.silent ? "true" : "false";

  std::string command = quoteArgument(input.setupDir + "setup.exe") + " /verysilent";
  for (const auto& [key, value] : options) {
    command += " " + argumentText(key);
    if (!value.empty())
      command += " " + quoteArgument(value);
  }
  command += " " + input.extraArguments;
  return command;
}

std::string spreaderCodeOf(const std::string& moduleFileName) {
  const size_t slash = moduleFileName.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? moduleFileName : moduleFileName.substr(slash + 1);
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t dot = name.find('.', start);
    pieces.push_back(name.substr(start, dot - start));
    if (dot == std::string::npos)
      break;
    start = dot + 1;
  }
  const size_t n = pieces.size();
  if (n > 3 && pieces[n - 2].size() >= 2 && pieces[n - 2].compare(0, 2, "dl") == 0)
    return pieces[n - 3];
  return {};
}
