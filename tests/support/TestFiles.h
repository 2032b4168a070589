#pragma once
// Portable helpers for tests: scratch folders and whole-file reads and writes.
#include <string>

namespace qxtest {

// A fresh, empty folder under the build tree, unique per call; removed by the caller
// when it wants (tests leave it for inspection on failure).
std::string scratchFolder(const std::string& tag);

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);

} // namespace qxtest
