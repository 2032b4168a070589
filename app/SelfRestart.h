#pragma once
// The controller's restart after a failed query or a short download: a new copy of this
// program with this copy's arguments, started only once the single-instance lock is
// gone, so the new copy does not take this one for a running installer.
#include <string>
#include <vector>

// Opens this program's own file for the rest of the run, letting others only read it: a
// running program may be renamed, and another one put in its place would be what a
// restart starts, elevated. Held, the file can be neither renamed nor changed.
void holdOwnProgramFile();

// This process's arguments after the program name, as the system's parser splits them,
// without the elevated copy's pipe to its unelevated copy, which `startNewCopy` passes on
// only when that copy agreed to serve the new one.
std::vector<std::wstring> ownArguments();

// Closes the single-instance lock, then starts this program again with `arguments`,
// quoted by the Windows rules. True when the new copy started. The caller then ends.
bool startNewCopy(const std::vector<std::wstring>& arguments);

// Tests take the process creation here (given the whole command line); null restores
// the real one.
using ProcessStarter = bool (*)(const std::wstring& commandLine);
void setProcessStarter(ProcessStarter starter);
