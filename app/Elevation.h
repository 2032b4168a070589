#pragma once
// Administrator rights: the check, and the elevated re-launch through the shell.
#include <string>

// True when the process token says elevated, and whenever the check cannot be made.
bool isProcessElevated();

// The shell call of the re-launch: verb, program path, parameters, show command.
using ShellLauncher = void (*)(const std::string& verb, const std::string& file,
                               const std::string& parameters, int show);

#ifdef QX_TEST_API
// Tests answer the elevation question and catch the shell call here; null restores the
// real ones.
void setElevationSeams(bool (*query)(), ShellLauncher launcher);
#endif

// When not elevated: starts this program again with "runas" and the unchanged command-line
// text, and returns true (the caller then ends with code 0).
bool relaunchElevatedIfNeeded(const std::string& commandLineText);
