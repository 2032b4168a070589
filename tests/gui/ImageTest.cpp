// Images and draw items as they land in a window's back buffer, and the glyph-outline
// text image.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "gui/ImageCache.h"
#include "gui/PathTextEffect.h"
#include "gui/QxGUISPWnd.h"
#include "tests/gui/Canvas.h"
#include "tests/support/TestFiles.h"

using qxtest::Canvas;
using qxtest::channelDistance;

using qxtest::whiteCanvas;
using ImageTest = qxtest::CanvasTest;

TEST(ImageCacheTest, SizesAndMissingImages) {
  ImageCache& cache = ImageCache::instance();
  int w = -1, h = -1;
  // Resource names are matched without regard to case.
  ASSERT_TRUE(cache.getImageSize("TEST/Alpha.PNG", w, h));
  EXPECT_EQ((std::vector<int>{w, h}), (std::vector<int>{20, 10}));
  // (The pixels' colours and alpha are checked where they are used: as drawn by the next
  // test, by ButtonTest.AlphaHitTestIgnoresTransparentPixels and by InstallPageTest's
  // carousel, which compares a picture's pixel with the window's.)
  EXPECT_FALSE(cache.getImageSize("logoText", w, h));
  EXPECT_EQ((std::vector<int>{w, h}), (std::vector<int>{0, 0}));
  // Data that does not decode is absent too, and remembered so.
  EXPECT_EQ(cache.getPicture("test/broken.png"), nullptr);
  const int decodes = cache.decodeCount();
  EXPECT_EQ(cache.getPicture("test/broken.png"), nullptr);
  EXPECT_EQ(cache.decodeCount(), decodes);
}

// Two widgets showing one image share one decoded picture. (A fill's COLORREF landing as
// 0xRRGGBB is the dirty-rectangle test's first row's.)
TEST_F(ImageTest, ItemsLandInTheBackBufferWithTheirColoursAndBlending) {
  open(0, 0, 200, 100, [](Canvas& c) {
    whiteCanvas(c);
    c.addImage("test/alpha.png", 40, 10);
    c.addImage("test/photo.jpg", 70, 10);
    c.addText("Wg", "Tahoma", 16, true, 0x000000, 10, 60, 100, 20);
    c.addImage("res/btn.png", 150, 30);
  });
  const int decodes = ImageCache::instance().decodeCount();
  auto* other = new Canvas("other", 150, 50, 20, 10, [](Canvas& c) { c.addImage("res/btn.png", 0, 0); });
  root->addChild(other);
  other->update();
  EXPECT_EQ(px(152, 32), 0xFF0000u);
  EXPECT_EQ(px(152, 52), 0xFF0000u);
  EXPECT_EQ(ImageCache::instance().decodeCount(), decodes);
  EXPECT_LE(channelDistance(px(55, 12), 0x7FFF7F), 2) << std::hex << px(55, 12) << " half green on white";
  EXPECT_LE(channelDistance(px(75, 15), 0x2778C7), 3) << std::hex << px(75, 15);
  int ink = 0, outside = 0;
  for (int y = 55; y < 90; ++y)
    for (int x = 5; x < 130; ++x) {
      const bool inRect = x >= 10 && x < 110 && y >= 60 && y < 80;
      if (px(x, y) != 0xFFFFFFu) ++(inRect ? ink : outside);
    }
  EXPECT_GT(ink, 20) << "the text drew";
  EXPECT_EQ(outside, 0) << "nothing outside its rectangle";
}

// Each row paints one picture, then another into the dirty rectangle only: inside it the
// new one shows, outside it the old one stays. Rows: a fill; the 30x30 grid moved by (5,5)
// (so (21,21) shows its (16,16)); a sliver of a stretched section, whose 4 of 200 pixels
// map to 0.6 source pixels, raised to one; a section (15,15 30x30) reaching beyond the
// grid, whose 15x15 part inside is drawn into the top-left 30x30 of its 60x60 destination.
TEST_F(ImageTest, RepaintOfADirtyRectangleDrawsWhatLiesInsideIt) {
  using Build = std::function<void(Canvas&)>;
  const auto fill = [](std::uint32_t colour) { return Build([=](Canvas& c) { c.addFill(colour, 0, 0, c.width(), c.height()); }); };
  // The whole grid image at (x, y), or a 30x30 section of it stretched to w by h.
  const auto grid = [](int x, int y, int w = 0, int h = 0, int sx = 0, int sy = 0) {
    return Build([=](Canvas& c) {
      whiteCanvas(c);
      if (w == 0)
        c.addImage("test/grid.png", x, y);
      else
        c.addImageSection("test/grid.png", x, y, w, h, sx, sy, 30, 30);
    });
  };
  struct Probe {
    int x, y;
    std::uint32_t rgb;
  };
  const struct {
    Build before, after;
    int dirty[4];
    std::vector<Probe> probes;
  } rows[] = {{fill(0x0000FF), fill(0x00FF00), {40, 20, 10, 10}, {{45, 25, 0x00FF00}, {39, 25, 0xFF0000}, {50, 25, 0xFF0000}}},
              {grid(0, 0), grid(5, 5), {20, 20, 30, 30}, {{26, 26, 0x000080}, {21, 21, 0x00FFFF}, {2, 2, 0xFF0000}}},
              {whiteCanvas, grid(0, 0, 200, 30), {100, 0, 4, 30}, {{101, 5, 0x00FF00}, {110, 5, 0xFFFFFF}}},
              {whiteCanvas, grid(100, 10, 60, 60, 15, 15), {0, 0, 200, 100},
               {{105, 15, 0x00FFFF}, {125, 35, 0x000080}, {145, 55, 0xFFFFFF}, {135, 15, 0xFFFFFF}}}};
  for (const auto& row : rows) {
    open(0, 0, 200, 100, row.before);
    root->setBuilder(row.after);
    root->paint();
    wnd->invalidateRect(row.dirty[0], row.dirty[1], row.dirty[2], row.dirty[3], root);
    for (const Probe& p : row.probes)
      EXPECT_EQ(px(p.x, p.y), p.rgb) << "dirty at " << row.dirty[0] << " probe " << p.x << "," << p.y << std::hex << ": " << px(p.x, p.y);
    TearDown();
  }
}

// The tree stays at 96 dpi; the window draws it at its own DPI, each layout edge where it
// maps, and takes a picture's "@2x" copy (here all purple) from 150 % on.
TEST_F(ImageTest, AWindowAtAnotherDpiScalesItemsAndTakesDoubleSizePicturesFrom150) {
  open(0, 0, 100, 50, [](Canvas& c) {
    whiteCanvas(c);
    c.addFill(0x000000FF, 10, 10, 5, 5);
    c.addImage("test/alpha.png", 30, 10);
    c.addImage("test/grid.png", 60, 10);
  });
  const std::uint32_t purple = 0x8040C0;
  struct Row { int dpi; bool doubled; } rows[] = {{192, true}, {144, true}, {120, false}};
  for (const Row& row : rows) {
    wnd->setDpi(row.dpi);
    // The buffer reads 0 outside itself, so these also show it grew.
    const auto at = [&](int v) { return MulDiv(v, row.dpi, 96); };
    EXPECT_EQ(px(at(10), at(10)), 0xFF0000u) << row.dpi;
    EXPECT_EQ(px(at(15) - 1, at(15) - 1), 0xFF0000u) << row.dpi;
    EXPECT_EQ(px(at(15), at(15)), 0xFFFFFFu) << row.dpi << ": the fill ends at its mapped edge";
    EXPECT_LE(channelDistance(px(at(32), at(12)), 0xFF0000), 2) << row.dpi << std::hex << px(at(32), at(12));
    const std::uint32_t grid = px(at(75), at(25));
    EXPECT_EQ(channelDistance(grid, purple) <= 2, row.doubled) << row.dpi << std::hex << " " << grid;
  }
}

TEST(PathTextEffectTest, InkSpacingAndColour) {
  ImageCache::instance();
  // A face the test prefix maps to its installed CJK font.
  Gdiplus::FontFamily family(L"微软雅黑");
  ASSERT_EQ(family.GetLastStatus(), Gdiplus::Ok);
  PathTextEffect effect;
  effect.setup(&family, 340.0f, 0xFF102030, L"I I", 20.0f);
  ASSERT_NE(effect.image(), nullptr);
  // Runs of columns holding any ink.
  Gdiplus::Bitmap& image = *effect.image();
  std::vector<std::pair<int, int>> runs;
  for (int x = 0; x < int(image.GetWidth()); ++x) {
    Gdiplus::Color c;
    bool ink = false;
    for (int y = 0; y < int(image.GetHeight()) && !ink; ++y)
      ink = image.GetPixel(x, y, &c) == Gdiplus::Ok && c.GetA() > 60;
    if (ink && (runs.empty() || runs.back().second != x - 1))
      runs.push_back({x, x});
    else if (ink)
      runs.back().second = x;
  }
  const Gdiplus::RectF b = effect.textBounds();
  ASSERT_EQ(runs.size(), 2u) << "text bounds " << b.X << "," << b.Y << " " << b.Width << "x"
                             << b.Height;
  EXPECT_LE(runs[0].first, 1) << "the first ink edge is at the start";
  const int gap = runs[1].first - runs[0].second - 1;
  EXPECT_NEAR(gap, 40, 2);
  // The fill is the given colour.
  Gdiplus::Color c;
  effect.image()->GetPixel((runs[0].first + runs[0].second) / 2, 16, &c);
  EXPECT_EQ(c.GetValue() & 0xFFFFFFu, 0x102030u);
  // A set-up of another width makes an image of that width.
  effect.setup(&family, 99.6f, 0xFF000000, L"AB", 0.0f);
  EXPECT_EQ(effect.image()->GetWidth(), 101u);
}
