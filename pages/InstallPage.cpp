// Sections: shared download-speed state; the page record (timers, fade); construction;
// progress texts; carousel painting; test view.
#include "pages/InstallPage.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "app/InstallManager.h"
#include "gui/DisplayScale.h"
#include "gui/EventListener.h"
#include "gui/FadingPicture.h"
#include "gui/ImageCache.h"
#include "gui/ProgressBar.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/QxActionListener.h"
#include "gui/QxTextField.h"
#include "gui/SkinImages.h"
#include "gui/Timer.h"
#include "pages/DownloadSpeed.h"
#include "pages/InstallPageTestApi.h"
#include "pages/ProgressText.h"

namespace {

constexpr float kFullAngle = 1.570795f;
// Each half of a cross-fade (out, then in) takes this long whatever the ticks' pace: a
// frame moves the fade by the time since the last one. 300 ms is what its 30 fixed steps
// took at the shortest period a window timer has (10 ms). Frames come at most every
// kFramePeriodMs; each one redraws the page over a kept copy of the frame's background
// and copies it to the layered window, which at 200 % is four times the pixels.
constexpr unsigned kFadeMs = 300;
constexpr unsigned kFramePeriodMs = 16;
const char* const kFont = "微软雅黑";
const char* const kDownloading = "正在为您下载游戏 ";

unsigned systemTicks() { return GetTickCount(); }
unsigned (*tickSource)() = systemTicks;
unsigned (*fadeClock)() = systemTicks;

// One value for every install page of the process: a second download goes on from the
// speed and the fade of the first.
struct SharedState {
  bool fadeRising = true;
  DownloadSpeed speed;
};
SharedState shared;

// The bar counts in 32 bits: larger counts are scaled down together.
void barValues(std::int64_t total, std::int64_t done, int& maximum, int& value) {
  while (total > INT32_MAX || total < INT32_MIN || done > INT32_MAX || done < INT32_MIN) {
    total /= 2;
    done /= 2;
  }
  maximum = static_cast<int>(total);
  value = static_cast<int>(done);
}

} // namespace

// --- the page record ---------------------------------------------------------------------

struct InstallPage::Impl : public QxActionListener, public EventListener {
  InstallPage* owner = nullptr;
  ProgressBar* progressBar = nullptr;
  int carouselIndex = 0;
  Timer carouselTimer{"carouselTimer"};
  Timer switchTimer{"switchTimer"};
  bool switching = true;
  float angle = 0.0f;
  QxTextField* upperShadow = nullptr;
  QxTextField* upperText = nullptr;
  QxTextField* lowerShadow = nullptr;
  QxTextField* lowerText = nullptr;
  bool reconnecting = false;
  FadingPicture shown;
  unsigned frameAt = 0;
  // What the last frame took: on a busy machine a frame can take longer than a period,
  // and frames back to back would leave the thread no time for anything else.
  unsigned frameCost = 0;
  // While a fade runs its frames repaint the whole page anyway: progress waits for the
  // next one and goes to the window in the same copy.
  bool progressPending = false;
  std::int64_t pendingTotal = 0, pendingDone = 0;

  bool fading() const { return switching && switchTimer.isActive(); }
  // The image cache's name of the carousel's current picture.
  std::string pictureName() const { return skin::kCarousel.name + std::to_string(carouselIndex); }

  void setUpper(const std::string& text) {
    setLine(upperShadow, text);
    setLine(upperText, text);
  }
  void setLower(const std::string& text) {
    setLine(lowerShadow, text);
    setLine(lowerText, text);
  }
  static void setLine(QxTextField* field, const std::string& text) {
    if (field->text() == text)
      return;
    field->setText(text, false, false);
    field->update();
  }

  void fadeStep(unsigned elapsedMs) {
    const double step = static_cast<double>(kFullAngle) * elapsedMs / kFadeMs;
    if (shared.fadeRising) {
      angle = static_cast<float>(angle + step);
      if (angle >= kFullAngle) {
        angle = kFullAngle;
        switching = false;
        shared.fadeRising = false;
      }
    } else {
      angle = static_cast<float>(angle - step);
      if (angle <= 0.0f) {
        angle = 0.0f;
        shared.fadeRising = true;
        const int count = InstallManager::instance().getConfig().carouselCount;
        // Without a picture count there is nothing to move on to; the first one stays.
        carouselIndex = count > 0 ? (carouselIndex + 1) % count : 0;
      }
    }
  }

  // A frame at least `gapMs` and twice the last frame's cost after the last one.
  void frame(unsigned gapMs) {
    const unsigned now = fadeClock();
    const unsigned elapsed = now - frameAt;
    if (elapsed == 0 || elapsed < std::max(gapMs, 2 * frameCost))
      return;
    frameAt = now;
    QxGUIServiceProvider* host = owner->root()->provider();
    if (host)
      host->holdBlits(true);
    flushProgress();
    fadeStep(elapsed);
    if (host) {
      // Only the picture changes: the frame's background is kept from the last paint.
      const POINT at = owner->mapToRoot(0, 0);
      host->repaintAbove(at.x, at.y, owner->width(), owner->height(), owner);
      host->holdBlits(false);
    } else {
      owner->update();
    }
    frameCost = fadeClock() - now;
  }

  void flushProgress() {
    if (!progressPending)
      return;
    progressPending = false;
    owner->paintProgress(pendingTotal, pendingDone);
  }

  // QxActionListener
  void actionPerformed(const std::string&) override {}

  // EventListener
  void onEvent(const char* eventName, const char* type, EventArg, EventArg) override {
    if (std::string(type) != "timeout")
      return;
    const std::string name = eventName;
    if (name == "carouselTimer") {
      switching = true;
      frameAt = fadeClock();
      frameCost = 0;
    } else if (name == "switchTimer" && switching) {
      frame(0);
    }
  }
};

// --- construction ------------------------------------------------------------------------

InstallPage::InstallPage(int width, int height)
    : Panel(0, width, height), pageImpl_(std::make_unique<Impl>()) {
  Impl& d = *pageImpl_;
  d.owner = this;
  const int h = height;
  d.progressBar = new ProgressBar(h - 49);
  const auto field = [&](int x, int y, std::uint32_t colour, const std::string& text) {
    return new QxTextField(text, x, y, width, 32, 22, colour, DrawItem::AlignCentre,
                           DrawItem::AlignMiddle, kFont);
  };
  d.upperShadow = field(1, h - 75, 0x000000, kDownloading);
  d.upperText = field(0, h - 76, 0xFFFFFF, kDownloading);
  d.lowerShadow = field(1, h - 29, 0x000000, "");
  d.lowerText = field(0, h - 30, 0xFFFFFF, "");
  // Each shadow comes before its text, so it lies under it.
  addChild(d.progressBar);
  addChild(d.upperShadow);
  addChild(d.upperText);
  addChild(d.lowerShadow);
  addChild(d.lowerText);
  d.carouselTimer.connect(&d);
  d.switchTimer.connect(&d);
}

InstallPage::~InstallPage() = default;

void InstallPage::startCarousel(int intervalMs) {
  Impl& d = *pageImpl_;
  d.switchTimer.stop();
  d.switchTimer.start(kFramePeriodMs);
  d.frameAt = fadeClock();
  d.carouselTimer.stop();
  d.carouselTimer.start(static_cast<unsigned>(std::max(intervalMs, 0) + 150));
}

void InstallPage::stopTimers() {
  pageImpl_->switchTimer.stop();
  pageImpl_->carouselTimer.stop();
  pageImpl_->flushProgress();
}

void InstallPage::showPicture(int index) {
  Impl& d = *pageImpl_;
  d.carouselIndex = index;
  d.angle = kFullAngle;
  d.switching = false;
  shared.fadeRising = false;
  d.flushProgress();
  update();
}

// --- progress texts ----------------------------------------------------------------------

void InstallPage::setProgress(std::int64_t total, std::int64_t done) {
  Impl& d = *pageImpl_;
  if (d.fading()) {
    d.progressPending = true;
    d.pendingTotal = total;
    d.pendingDone = done;
    // A flood of progress keeps the queue from ever being empty, and the frames' timer
    // fires only when it is: the message that finds a frame's period gone by draws it.
    d.frame(kFramePeriodMs);
    return;
  }
  paintProgress(total, done);
}

void InstallPage::paintProgress(std::int64_t total, std::int64_t done) {
  Impl& d = *pageImpl_;
  QxGUIServiceProvider* host = root()->provider();
  if (host)
    host->holdBlits(true);
  // The bar and the text fields repaint themselves; the carousel behind them is only
  // redrawn where they are.
  int maximum = 0, value = 0;
  barValues(total, done, maximum, value);
  d.progressBar->setProgress(maximum, value);
  const std::string percent = std::to_string(progressPercent(total, done)) + "% ";
  InstallManager& manager = InstallManager::instance();
  switch (manager.stage()) {
  case 3: {
    d.setUpper("正在为您下载游戏  " + percent);
    // The speed keeps its samples while nothing comes, so it is right when bytes flow.
    const double speed = shared.speed.sample(done, tickSource());
    d.setLower(d.reconnecting ? kReconnectingLine : packageLine(total, speed, manager.version()));
    break;
  }
  case 4:
    d.setUpper("正在校验安装包  " + percent);
    break;
  case 5:
    d.setUpper("正在为您安装游戏  " + percent);
    d.setLower("");
    break;
  case 2:
    d.setUpper("");
    d.setLower("");
    break;
  default:
    break;
  }
  if (host)
    host->holdBlits(false);
}

void InstallPage::setReconnecting(bool reconnecting) { pageImpl_->reconnecting = reconnecting; }

// --- carousel painting -------------------------------------------------------------------

// The first picture is decoded with the window, not by the page's first paint: that comes
// with the click, where its 10 ms or more under load would delay the window's answers.
void InstallPage::onAttach(QxGUIServiceProvider* provider) {
  Panel::onAttach(provider);
  if (provider)
    ImageCache::instance().getPicture(pageImpl_->pictureName(), provider->dpi());
}

void InstallPage::onPrePaint(HDC dc, int x, int y, int width, int height) {
  Impl& d = *pageImpl_;
  const std::string name = d.pictureName();
  QxGUIServiceProvider* host = root()->provider();
  const DisplayScale scale(host ? host->dpi() : DisplayScale::kLayoutDpi);
  std::shared_ptr<LoadedPicture> picture = ImageCache::instance().getPicture(name, scale.dpi());
  if (!picture)
    return;
  // The page shows the picture's top-left W by H pixels 1:1 (in the device's pixels, the
  // picture scaled); only the part under the repainted area is drawn.
  const POINT at = mapToRoot(0, 0);
  const RECT page = scale.toDevice(RECT{at.x, at.y, at.x + this->width(), at.y + this->height()});
  const RECT area = scale.toDevice(RECT{x, y, x + width, y + height});
  const int ox = static_cast<int>(page.left), oy = static_cast<int>(page.top);
  const int left = std::max({static_cast<int>(area.left), ox, 0});
  const int top = std::max({static_cast<int>(area.top), oy, 0});
  const int right = std::min({static_cast<int>(area.right), static_cast<int>(page.right), ox + picture->width});
  const int bottom = std::min({static_cast<int>(area.bottom), static_cast<int>(page.bottom), oy + picture->height});
  if (right <= left || bottom <= top)
    return;
  const float alpha = static_cast<float>(std::sin(d.angle));
  if (alpha <= 0.0f || !d.shown.hold(name + '@' + std::to_string(reinterpret_cast<std::uintptr_t>(picture.get())), *picture))
    return;
  // A fading picture blends with the frame behind it, though the picture itself is opaque.
  d.shown.draw(dc, RECT{left, top, right, bottom}, left - ox, top - oy, alpha);
}

// --- test view ---------------------------------------------------------------------------
// Built only into trees with tests: the product carries no test hooks.
#ifdef QX_TEST_HOOKS
std::string InstallPageTestApi::shown(const InstallPage& page) {
  const auto& d = *page.pageImpl_;
  return d.upperText->text() + "|" + d.upperShadow->text() + "|" + d.lowerText->text() + "|" + d.lowerShadow->text() +
         "|" + std::to_string(d.progressBar->percent());
}
int InstallPageTestApi::carouselIndex(const InstallPage& page) {
  return page.pageImpl_->carouselIndex;
}
float InstallPageTestApi::fadeAngle(const InstallPage& page) { return page.pageImpl_->angle; }
bool InstallPageTestApi::switching(const InstallPage& page) { return page.pageImpl_->switching; }
bool InstallPageTestApi::timersActive(const InstallPage& page) {
  return page.pageImpl_->switchTimer.isActive() || page.pageImpl_->carouselTimer.isActive();
}
void InstallPageTestApi::setTickSource(unsigned (*ticks)()) {
  tickSource = ticks ? ticks : systemTicks;
}
void InstallPageTestApi::setFadeClock(unsigned (*ticks)()) {
  fadeClock = ticks ? ticks : systemTicks;
}
void InstallPageTestApi::resetShared() { shared = SharedState(); }
#endif
