#pragma once
// Install paths as the installer keeps them: no trailing separator except at a drive
// root, so the path the payload is told, the registry value and the folders built from
// it all name the same folder. GBK text. Portable.
#include <string>

// Trailing "\" and "/" removed; a drive root keeps (or gets) its one backslash: "D:\",
// "D:" and "D:\\" give "D:\", "D:\Games\" gives "D:\Games".
std::string normaliseInstallPath(const std::string& path);

// `name` inside `folder`, with exactly one backslash between them.
std::string pathInFolder(const std::string& folder, const std::string& name);
