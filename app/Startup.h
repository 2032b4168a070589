#pragma once
// The installer's start-up sequence, from the elevation check to the clean-up after the
// message loop; returns the process exit code. `argv` starts with the program name.
#include <string>
#include <vector>

int runInstaller(const std::vector<std::string>& argv);

// Ends the run's record before the process ends with `exitCode` (every way out): the
// outcome report, when the build asks for one, and the log's last line.
void finishRun(int exitCode);
