#pragma once
// Replays one draw item into the back buffer's memory context, limited to the dirty
// rectangle. UI thread only.
#include <windows.h>

struct DrawItem;

class DrawItemRenderer {
public:
  // (originX, originY) is the widget's origin in window coordinates.
  static void render(HDC dc, const DrawItem& item, int originX, int originY, const RECT& dirty);
};
