#pragma once
// The module whose resources carry the branding (the configuration document, the skin,
// the pictures, the package): the program itself, unless a caller names another, such
// as a branded copy loaded as a data file to draw its pages. Set it before the first
// lookup: what was read stays cached. UI thread only.
#include <windows.h>

class ResourceModule {
public:
  static HMODULE get();
  // Null: the program itself again. The caller keeps the module loaded while it is set.
  static void set(HMODULE module);
};
