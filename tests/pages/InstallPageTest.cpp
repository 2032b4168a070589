// The install page in a real frame window: progress texts for given counts and stages,
// and the carousel's cross-fade. The figures themselves are tested natively.
#include <windows.h>


#include "gui/ImageCache.h"
#include "pages/InstallPage.h"
#include "pages/InstallPageTestApi.h"
#include "tests/pages/PageTestSupport.h"
#include "tests/support/TimerWitness.h"

using namespace pages_test;

namespace {

using Api = InstallPageTestApi;

unsigned g_now = 0;
unsigned testTicks() { return g_now; }
unsigned g_fadeNow = 0;
unsigned testFadeClock() { return g_fadeNow; }

class InstallPageTest : public PageTest {
protected:
  void SetUp() override {
    Api::resetShared();
    Api::setTickSource(testTicks);
    useConfig(configDocument("", R"("carouselPics": ["a", "b", "c"],)"));
    InstallManager::instance().setVersion("1.0.3");
    page = new InstallPage(660, 480);
    host(page);
  }
  void TearDown() override {
    PageTest::TearDown();
    Api::setTickSource(nullptr);
    Api::setFadeClock(nullptr);
    InstallManager::instance().setStage(0);
  }

  // A download progress pair at tick `now`.
  void progress(std::int64_t total, std::int64_t done, unsigned now) {
    g_now = now;
    page->setProgress(total, done);
  }
  // Every pixel of the window's back buffer.
  std::vector<std::uint32_t> allPixels() const {
    RECT client{};
    GetClientRect(hwnd, &client);
    std::vector<std::uint32_t> all;
    for (int y = 0; y < client.bottom; ++y)
      for (int x = 0; x < client.right; ++x)
        all.push_back(pixel(x, y));
    return all;
  }
  // Both lines, each with its shadow, and the bar's percent.
  void expectShown(const std::string& upper, const std::string& lower, int bar) {
    EXPECT_EQ(Api::shown(*page), upper + "|" + upper + "|" + lower + "|" + lower + "|" + std::to_string(bar));
  }

  InstallPage* page = nullptr;
};

// Each stage's lines for the counts given in it; the bar follows in every stage. While the
// download waits to reconnect the lower line says so, and the size and speed (2K/s from
// the first pair of samples, 10 bytes in 5 ms) come back with the next bytes.
TEST_F(InstallPageTest, DownloadReconnectingVerifyingInstallingFailedAndIdleStages) {
  const struct {
    int stage;
    bool reconnecting;
    std::int64_t total, done;
    const char* upper;
    const char* lower;
    int bar;
  } cases[] = {
      {3, false, 100, 30, "正在为您下载游戏  30% ", "游戏包体0.00M，速度0K/s (V1.0.3)  ", 30},
      {3, true, 100, 40, "正在为您下载游戏  40% ", "网络不稳定，正在重新连接…", 40},
      {3, false, 100, 50, "正在为您下载游戏  50% ", "游戏包体0.00M，速度2K/s (V1.0.3)  ", 50},
      {4, false, 5368709120LL, 1073741824LL, "正在校验安装包  20% ", "游戏包体0.00M，速度2K/s (V1.0.3)  ", 20},
      {5, false, 100, 42, "正在为您安装游戏  42% ", "", 42},
      {0, false, 100, 70, "正在为您安装游戏  42% ", "", 70},
      {2, false, 100, 70, "", "", 70},
  };
  unsigned now = 1000;
  for (const auto& c : cases) {
    InstallManager::instance().setStage(c.stage);
    page->setReconnecting(c.reconnecting);
    progress(c.total, c.done, now += 5);
    expectShown(c.upper, c.lower, c.bar);
  }
}

// The carousel against the frame behind it: pictures 0, 1, 2 (missing), 0 in turn, each
// fading in from the background and out again.
TEST_F(InstallPageTest, CarouselCrossFadesThroughThePictures) {
  const int px = 330, py = 150;  // clear of the texts and the bar
  page->setVisible(false);
  frame->update();
  const std::uint32_t background = pixel(px, py);
  page->setVisible(true);
  page->update();
  const std::uint32_t picture0 = ImageCache::instance().getPixel("CAROUSELPIC0", px, py);
  const std::uint32_t shown0 = qxtest::shownColour(picture0);
  ASSERT_GT(channelDistance(background, shown0), 30) << "the test needs a visible difference";
  EXPECT_EQ(pixel(px, py), background) << "nothing shows before the first fade";

  page->startCarousel(50);
  std::vector<int> shownIndices{Api::carouselIndex(*page)};
  bool sawPartial = false, sawFull = false;
  const bool cycled = pump.until(
      [&] {
        const int index = Api::carouselIndex(*page);
        if (index != shownIndices.back())
          shownIndices.push_back(index);
        const float angle = Api::fadeAngle(*page);
        if (index == 0 && shownIndices.size() == 1) {
          const std::uint32_t now = pixel(px, py);
          if (angle >= 1.5707f) {
            sawFull = true;
            EXPECT_LE(channelDistance(now, shown0), 2);
          } else if (angle > 0.5f && angle < 1.0f) {
            // A blend: away from both ends, and on the way from one to the other.
            const int fromBackground = channelDistance(now, background), toPicture = channelDistance(now, shown0);
            EXPECT_TRUE(fromBackground > 2 && toPicture > 2) << "no blend at angle " << angle;
            EXPECT_LE(fromBackground + toPicture, channelDistance(background, shown0) + 4) << std::hex << now;
            if (!sawPartial) {
              // The frame was drawn over a kept copy of what lies under the page: it must
              // be what a repaint of the whole window draws, pixel for pixel.
              const std::vector<std::uint32_t> drawn = allPixels();
              frame->update();
              EXPECT_TRUE(drawn == allPixels()) << "a frame of the fade differs from a full repaint";
            }
            sawPartial = true;
          }
        }
        return shownIndices.size() >= 4;
      },
      30000, qxtest::Pump::kEachMessage);
  ASSERT_TRUE(cycled) << "indices seen: " << shownIndices.size();
  EXPECT_EQ(shownIndices, (std::vector<int>{0, 1, 2, 0}));
  EXPECT_TRUE(sawFull);
  EXPECT_TRUE(sawPartial);

  page->stopTimers();
  EXPECT_FALSE(Api::timersActive(*page));
  const float angle = Api::fadeAngle(*page);
  // A few ticks of the fade's period: the stopped fade had its chances.
  ASSERT_TRUE(qxtest::waitForTicks(pump, 5, 5));
  EXPECT_EQ(Api::fadeAngle(*page), angle);
}

// A fade lasts as long whatever the pace of its frames: frames with the clock standing
// still leave it where it is, and a stalled thread finds it further on, never past its end.
TEST_F(InstallPageTest, FadeMovesWithTheClockNotTheFrames) {
  Api::setFadeClock(testFadeClock);
  g_fadeNow = 1000;
  page->startCarousel(60000);
  ASSERT_TRUE(qxtest::waitForTicks(pump, 16, 6));
  EXPECT_EQ(Api::fadeAngle(*page), 0.0f);
  g_fadeNow += 150;  // half of the fade in
  ASSERT_TRUE(pump.until([&] { return Api::fadeAngle(*page) > 0.0f; }, 10000, qxtest::Pump::kEachMessage));
  EXPECT_NEAR(Api::fadeAngle(*page), 1.5708f / 2, 0.01f);
  EXPECT_TRUE(Api::switching(*page));
  g_fadeNow += 5000;
  ASSERT_TRUE(pump.until([&] { return !Api::switching(*page); }, 10000, qxtest::Pump::kEachMessage));
  EXPECT_NEAR(Api::fadeAngle(*page), 1.5708f, 0.0001f);
}

TEST_F(InstallPageTest, WithoutConfiguredPicturesTheFirstOneStays) {
  useConfig(configDocument("", R"("carouselPics": [],)"));
  page->startCarousel(10);
  ASSERT_TRUE(pump.until([&] { return !Api::switching(*page); }, 10000, qxtest::Pump::kEachMessage));
  // Out, through zero, and in again.
  ASSERT_TRUE(pump.until([&] { return Api::fadeAngle(*page) < 0.3f; }, 10000, qxtest::Pump::kEachMessage));
  ASSERT_TRUE(pump.until([&] { return Api::fadeAngle(*page) > 1.0f; }, 10000, qxtest::Pump::kEachMessage));
  EXPECT_EQ(Api::carouselIndex(*page), 0) << "no pictures configured: the index stays";
  EXPECT_TRUE(Api::timersActive(*page));
}

} // namespace
