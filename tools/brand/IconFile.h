#pragma once
// An icon file (.ico) split into resources as the resource compiler splits it: each image
// becomes an icon (type 3) numbered from 1, and the group (type 14) lists them with their
// sizes and numbers. Portable.
#include <string>
#include <vector>

struct IconResources {
  std::vector<std::string> icons;  // icon resource n + 1 is icons[n]
  std::string group;
};

// False, with what is wrong, when `ico` is no icon file with at least one image.
bool splitIconFile(const std::string& ico, IconResources& resources, std::string& wrong);
