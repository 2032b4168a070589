#pragma once
// The common controls (the tooltip window class), loaded from the system folder only:
// comctl32.dll is not among the DLLs Windows always takes from there, so importing it
// would let a copy placed beside the installer run with administrator rights.

class CommonControls {
public:
  // Loads the DLL once, which registers its window classes, and initialises them.
  // False when it could not be loaded; windows then go without tooltips.
  static bool init();
};
