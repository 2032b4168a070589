#pragma once
// Administrator rights: the check, and the elevated re-launch through the shell, which
// this copy waits for so that its exit code tells a calling program what happened.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// True when the process token says elevated, and whenever the check cannot be made.
bool isProcessElevated();

using ShellExecuteCall = BOOL (*)(SHELLEXECUTEINFOA* info);
#ifdef QX_TEST_HOOKS
// Tests answer the elevation question and take the shell call here (they may make the
// real one); null restores the real ones.
void setElevationSeams(bool (*query)(), ShellExecuteCall shellExecute);
#endif

// When not elevated: starts this program again with "runas" and the same arguments,
// quoted by the Windows rules, waits for that copy and returns true with its exit code.
// A refused elevation, or a copy whose end cannot be followed, gives 1.
bool relaunchElevatedIfNeeded(const std::vector<std::string>& arguments, int& exitCode);
