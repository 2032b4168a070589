#include "gui/ProgressBar.h"

#include <string>

#include "gui/ImageCache.h"
#include "gui/SkinImages.h"

struct ProgressBar::Impl {
  ProgressBar* owner = nullptr;
  int maximum = 1;
  int value = 0;
  std::string barImage = skin::kProgress.name;
  std::string backgroundImage = skin::kProgressBackground.name;
};

ProgressBar::ProgressBar(int y) : QxWidget("ProgressBar"), barImpl_(std::make_unique<Impl>()) {
  barImpl_->owner = this;
  int w = 0, h = 0;
  if (ImageCache::instance().getImageSize(barImpl_->backgroundImage, w, h)) setBounds(39, y, w, h);
  paint();
}

ProgressBar::~ProgressBar() = default;

void ProgressBar::setProgress(int maximum, int value) {
  const int before = percent();
  barImpl_->maximum = maximum;
  barImpl_->value = value;
  paint();
  update();
  // A screen reader hears the bar at each whole 5 %, not at every byte.
  if (percent() / 5 != before / 5) notifyAccessibility(EVENT_OBJECT_VALUECHANGE);
}

int ProgressBar::percent() const {
  const Impl& d = *barImpl_;
  if (d.maximum <= 0 || d.value <= 0) return 0;
  return d.value >= d.maximum ? 100 : int(double(d.value) * 100.0 / d.maximum);
}

int ProgressBar::maximum() const { return barImpl_->maximum; }

int ProgressBar::value() const { return barImpl_->value; }

void ProgressBar::paint() {
  const Impl& d = *barImpl_;
  clearItems();
  addImage(d.backgroundImage, 0, 0);
  if (d.maximum <= 0 || d.value <= 0) return;
  // In double precision: the byte counts of a large download overflow 32-bit products.
  double fill = static_cast<double>(d.value) * width() / d.maximum;
  int w = fill >= width() ? width() : static_cast<int>(fill);
  if (w < 1) return;
  addImageSection(d.barImage, 0, 0, w, height(), 0, 0, w, height());
}
