#pragma once
// Whether bytes are a whole Windows program, as an embedded package must be. Portable.
#include <string>

// The DOS header, the PE signature where it points, a 32- or 64-bit optional header, the
// executable flag without the DLL flag, and every section's data inside the file. False,
// with what is wrong, otherwise.
bool isWindowsProgram(const std::string& bytes, std::string& wrong);
