#pragma once
// Runs a Windows program to its end for a test, with a bounded wait.
#include <string>

namespace qxtest {

constexpr int kTimedOut = -999;

// The exit code, or kTimedOut after killing a program that ran past `timeoutMs`
// (-998 when it could not start).
int runProcess(const std::string& commandLine, unsigned timeoutMs);

// Quotes a path for a command line.
inline std::string quoted(const std::string& path) { return "\"" + path + "\""; }

} // namespace qxtest
