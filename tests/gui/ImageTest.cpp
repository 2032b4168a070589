// Images and draw items as they land in a window's back buffer, and the glyph-outline
// text image.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "gui/ImageCache.h"
#include "gui/PathTextEffect.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxGUISPWndTestApi.h"
#include "tests/gui/Canvas.h"
#include "tests/gui/ScreenTools.h"

using qxtest::Canvas;
using qxtest::channelDistance;

namespace {

class ImageTest : public ::testing::Test {
protected:
  void open(int w, int h, std::function<void(Canvas&)> build) {
    root = new Canvas("image-test", 0, 0, w, h, std::move(build));
    // Unmapped: the back buffer is painted all the same, and the display stays out of it.
    root->setVisible(false);
    wnd = std::make_unique<QxGUISPWnd>(nullptr, root, false, false, false, true);
  }
  void TearDown() override {
    wnd.reset();
    delete root;
    qxtest::dropQueued();
  }
  std::uint32_t px(int x, int y) {
    return QxGUISPWndTestApi::backBufferPixel(*wnd, x, y) & 0xFFFFFFu;
  }
  Canvas* root = nullptr;
  std::unique_ptr<QxGUISPWnd> wnd;
};

void background(Canvas& c) { c.addFill(0xFFFFFF, 0, 0, c.width(), c.height()); }

} // namespace

TEST(ImageCacheTest, SizesPixelsAndMissingImages) {
  ImageCache& cache = ImageCache::instance();
  int w = -1, h = -1;
  ASSERT_TRUE(cache.getImageSize("test/alpha.png", w, h));
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 10);
  // Resource names are matched without regard to case.
  EXPECT_TRUE(cache.getImageSize("TEST/Alpha.PNG", w, h));
  EXPECT_EQ(cache.getPixel("test/alpha.png", 2, 2), 0xFF0000FFu) << "0xAABBGGRR: opaque red";
  EXPECT_NEAR(int(cache.getPixel("test/alpha.png", 12, 2) >> 24), 0x80, 1) << "half transparent";
  EXPECT_EQ(cache.getPixel("test/alpha.png", 20, 0), 0xFF000000u) << "outside the picture";
  // A JPEG is opaque; the low 24 bits are its colour as a COLORREF.
  const std::uint32_t jpeg = cache.getPixel("test/photo.jpg", 3, 3);
  EXPECT_EQ(jpeg >> 24, 0xFFu);
  EXPECT_LE(channelDistance(jpeg & 0xFFFFFF, 0xC77827), 3) << std::hex << jpeg;
  EXPECT_FALSE(cache.getImageSize("logoText", w, h));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(cache.getPixel("logoText", 0, 0), 0xFFFFFFFFu);
  // Data that does not decode is absent too, and remembered so.
  EXPECT_EQ(cache.getPicture("test/broken.png"), nullptr);
  const int decodes = cache.decodeCount();
  EXPECT_EQ(cache.getPicture("test/broken.png"), nullptr);
  EXPECT_EQ(cache.decodeCount(), decodes);
}

TEST_F(ImageTest, TwoWidgetsShowingOneImageShareOneDecodedPicture) {
  ImageCache& cache = ImageCache::instance();
  cache.getPicture("res/btn.png");
  const int decodes = cache.decodeCount();
  open(100, 40, [](Canvas& c) {
    background(c);
    c.addImage("res/btn.png", 0, 0);
  });
  auto* other = new Canvas("other", 50, 0, 20, 10, [](Canvas& c) { c.addImage("res/btn.png", 0, 0); });
  root->addChild(other);
  other->update();
  EXPECT_EQ(px(2, 2), 0xFF0000u);
  EXPECT_EQ(px(52, 2), 0xFF0000u);
  EXPECT_EQ(cache.decodeCount(), decodes);
}

TEST_F(ImageTest, ItemsLandInTheBackBufferWithTheirColoursAndBlending) {
  open(200, 100, [](Canvas& c) {
    background(c);
    c.addFill(0x00336699, 10, 10, 20, 20);
    c.addImage("test/alpha.png", 40, 10);
    c.addImage("test/photo.jpg", 70, 10);
    c.addText("Wg", "Tahoma", 16, true, 0x000000, 10, 60, 100, 20);
  });
  EXPECT_EQ(px(15, 15), 0x996633u) << "COLORREF 0x00BBGGRR lands as 0xRRGGBB";
  EXPECT_EQ(px(9, 9), 0xFFFFFFu);
  EXPECT_EQ(px(42, 12), 0xFF0000u);
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

TEST_F(ImageTest, ItemsAreClippedToTheDirtyRectangle) {
  std::uint32_t colour = 0x0000FF;
  open(100, 50, [&](Canvas& c) { c.addFill(colour, 0, 0, c.width(), c.height()); });
  EXPECT_EQ(px(50, 25), 0xFF0000u);
  colour = 0x00FF00;
  root->paint();
  wnd->invalidateRect(40, 20, 10, 10, root);
  EXPECT_EQ(px(45, 25), 0x00FF00u);
  EXPECT_EQ(px(39, 25), 0xFF0000u);
  EXPECT_EQ(px(50, 25), 0xFF0000u);
}

TEST_F(ImageTest, SectionBeyondTheImageDrawsOnlyThePartInsideAtReducedDestination) {
  // Source (15,15 30x30) of the 30x30 grid: only its 15x15 bottom-right part exists, drawn
  // into the top-left 30x30 of the 60x60 destination.
  open(200, 100, [](Canvas& c) {
    background(c);
    c.addImageSection("test/grid.png", 100, 10, 60, 60, 15, 15, 30, 30);
  });
  EXPECT_EQ(px(105, 15), 0x00FFFFu) << std::hex << px(105, 15);
  EXPECT_EQ(px(125, 35), 0x000080u) << std::hex << px(125, 35);
  EXPECT_EQ(px(145, 55), 0xFFFFFFu) << std::hex << px(145, 55);
  EXPECT_EQ(px(135, 15), 0xFFFFFFu) << std::hex << px(135, 15);
}

TEST_F(ImageTest, PartlyDirtyImageDrawsTheVisibleSection) {
  open(100, 50, [](Canvas& c) {
    background(c);
    c.addImage("test/grid.png", 0, 0);
  });
  root->setBuilder([](Canvas& c) {
    background(c);
    c.addImage("test/grid.png", 5, 5);
  });
  root->paint();
  wnd->invalidateRect(20, 20, 30, 30, root);
  // Inside the dirty part the image moved by (5, 5); outside it the old picture stays.
  EXPECT_EQ(px(26, 26), 0x000080u) << std::hex << px(26, 26);
  EXPECT_EQ(px(21, 21), 0x00FFFFu) << std::hex << px(21, 21) << " (16,16) of the grid";
  EXPECT_EQ(px(2, 2), 0xFF0000u) << "outside the dirty part the old picture stays";
}

TEST_F(ImageTest, SliverOfAStretchedSectionStillDraws) {
  bool withSection = false;
  open(200, 40, [&](Canvas& c) {
    background(c);
    if (withSection) c.addImageSection("test/grid.png", 0, 0, 200, 30, 0, 0, 30, 30);
  });
  EXPECT_EQ(px(101, 5), 0xFFFFFFu);
  withSection = true;
  root->paint();
  // 4 of 200 destination pixels map to 0.6 source pixels: raised to one.
  wnd->invalidateRect(100, 0, 4, 30, root);
  EXPECT_EQ(px(101, 5), 0x00FF00u) << std::hex << px(101, 5);
  EXPECT_EQ(px(110, 5), 0xFFFFFFu);
}

// The tree stays at 96 dpi; the window draws it at its own DPI, each layout edge where it
// maps, and takes a picture's "@2x" copy (here all purple) from 150 % on.
TEST_F(ImageTest, AWindowAtAnotherDpiScalesItemsAndTakesDoubleSizePicturesFrom150) {
  open(100, 50, [](Canvas& c) {
    background(c);
    c.addFill(0x000000FF, 10, 10, 5, 5);
    c.addImage("test/alpha.png", 30, 10);
    c.addImage("test/grid.png", 60, 10);
  });
  const std::uint32_t purple = 0x8040C0;
  struct Row { int dpi; bool doubled; } rows[] = {{192, true}, {144, true}, {120, false}};
  for (const Row& row : rows) {
    wnd->setDpi(row.dpi);
    const auto at = [&](int v) { return MulDiv(v, row.dpi, 96); };
    int w = 0, h = 0;
    QxGUISPWndTestApi::backBufferSize(*wnd, w, h);
    EXPECT_GE(w, at(100)) << row.dpi;
    EXPECT_EQ(px(at(10), at(10)), 0xFF0000u) << row.dpi;
    EXPECT_EQ(px(at(15) - 1, at(15) - 1), 0xFF0000u) << row.dpi;
    EXPECT_EQ(px(at(15), at(15)), 0xFFFFFFu) << row.dpi << ": the fill ends at its mapped edge";
    EXPECT_LE(channelDistance(px(at(32), at(12)), 0xFF0000), 2) << row.dpi << std::hex << px(at(32), at(12));
    const std::uint32_t grid = px(at(75), at(25));
    EXPECT_EQ(channelDistance(grid, purple) <= 2, row.doubled) << row.dpi << std::hex << " " << grid;
  }
}

namespace {

// Columns of the image holding any ink.
std::vector<bool> inkColumns(Gdiplus::Bitmap& image) {
  std::vector<bool> ink(image.GetWidth(), false);
  for (UINT x = 0; x < image.GetWidth(); ++x)
    for (UINT y = 0; y < image.GetHeight(); ++y) {
      Gdiplus::Color c;
      image.GetPixel(INT(x), INT(y), &c);
      if (c.GetA() > 60) ink[x] = true;
    }
  return ink;
}

} // namespace

TEST(PathTextEffectTest, ImageSizeAndInkSpacing) {
  ImageCache::instance();
  // A face the test prefix maps to its installed CJK font.
  Gdiplus::FontFamily family(L"微软雅黑");
  ASSERT_EQ(family.GetLastStatus(), Gdiplus::Ok);
  PathTextEffect effect;
  EXPECT_EQ(effect.image(), nullptr);
  effect.setup(&family, 340.0f, 0xFF102030, L"I I", 20.0f);
  ASSERT_NE(effect.image(), nullptr);
  EXPECT_EQ(effect.image()->GetWidth(), 341u);
  EXPECT_EQ(effect.image()->GetHeight(), 33u);
  std::vector<bool> ink = inkColumns(*effect.image());
  // Two runs of ink: the letters, their gap two extra spacings (the space has no ink).
  std::vector<std::pair<int, int>> runs;
  for (int x = 0; x < int(ink.size()); ++x) {
    if (!ink[size_t(x)]) continue;
    if (runs.empty() || runs.back().second != x - 1)
      runs.push_back({x, x});
    else
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
  // Same width: same image object; a new width makes a new one.
  Gdiplus::Bitmap* before = effect.image();
  effect.setup(&family, 340.0f, 0xFF000000, L"AB", 0.0f);
  EXPECT_EQ(effect.image(), before);
  effect.setup(&family, 99.6f, 0xFF000000, L"AB", 0.0f);
  EXPECT_EQ(effect.image()->GetWidth(), 101u);
}
