#pragma once
// Command lines by the Windows argument rules (those of CommandLineToArgvW), so that a
// program started with one sees exactly the arguments it was given. Narrow text is GBK:
// the second byte of a double-byte character is never taken for a backslash. Portable.
#include <string>
#include <vector>

// The argument between double quotes; quotes inside are escaped, and the backslashes
// before an escaped quote or before the closing quote are doubled.
std::string quoteArgument(const std::string& argument);
std::wstring quoteArgument(const std::wstring& argument);

// The argument as it is when it needs no quotes (not empty, no space, tab or quote);
// otherwise quoted.
std::string argumentText(const std::string& argument);
std::wstring argumentText(const std::wstring& argument);

// The arguments one after the other, separated by single spaces, each as argumentText
// writes it.
std::string joinArguments(const std::vector<std::string>& arguments);
std::wstring joinArguments(const std::vector<std::wstring>& arguments);
