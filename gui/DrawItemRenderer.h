#pragma once
// Replays one draw item into the back buffer's memory context, limited to the dirty
// rectangle. Items are in 96-dpi coordinates; they are drawn at the window's scale, text
// with a font of the scaled size, pictures from their copies resampled for that scale.
// UI thread only.
#include <windows.h>

struct DrawItem;
class DisplayScale;

class DrawItemRenderer {
public:
  // (originX, originY) is the widget's origin in window coordinates (96 dpi); `dirty` is in
  // device pixels.
  static void render(HDC dc, const DrawItem& item, int originX, int originY, const RECT& dirty,
                     const DisplayScale& scale);
};
