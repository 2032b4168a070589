#pragma once
// One entry of a widget's draw list: a plain value replayed by the window's painter.
// Coordinates are local to the widget; pictures are looked up by name when drawn.
#include <cstdint>
#include <string>

struct DrawItem {
  enum Kind : int { Image = 0, ImageSection = 1, Fill = 3, Text = 4 };
  enum HAlign : int { AlignLeft = 0, AlignCentre = 1, AlignRight = 2 };
  // Top and bottom lay out several lines; centre is a single vertically centred line.
  enum VAlign : int { AlignTop = 0, AlignMiddle = 1, AlignBottom = 2 };

  int kind = Image;
  std::string name;  // image name, or the text of a text item; also the removal key
  std::string face;
  int x = 0, y = 0, width = 0, height = 0;
  int srcX = 0, srcY = 0, srcWidth = 0, srcHeight = 0;
  std::uint32_t colour = 0;  // 0x00BBGGRR
  int size = 0;
  bool bold = false;
  int hAlign = AlignLeft;
  int vAlign = AlignTop;
  bool underline = false;
};
