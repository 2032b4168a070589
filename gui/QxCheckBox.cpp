#include "gui/QxCheckBox.h"

#include <algorithm>

#include "gui/QxGUIServiceProvider.h"
#include "gui/SkinImages.h"

namespace {
constexpr const char* kLabelFont = "simsun";
constexpr int kLabelSize = 12;
constexpr std::uint32_t kDisabledLabelColour = 0xAAAAAA;
} // namespace

struct QxCheckBox::Impl {
  QxCheckBox* owner = nullptr;
  bool checked = false;
  std::string uncheckedImage = skin::kUnchecked.name;
  std::string checkedImage = skin::kChecked.name;
  std::string label;
  std::string key;
  int labelWidth = 0;
  int labelHeight = 0;
  std::uint32_t labelColour = 0x555555;

  void measure(QxGUIServiceProvider* provider) {
    if (!provider) return;
    int w = 65535, h = kLabelSize;
    provider->measureText(label, kLabelFont, kLabelSize, false, false, false, w, h);
    labelWidth = w;
    labelHeight = h;
    // The bounds cover everything painted, the whole check image included: a repaint
    // covers only the bounds, and a row outside them would keep the previous frame.
    int frameWidth = 13, imageHeight = 13;
    int iw = 0, ih = 0;
    if (provider->getImageSize(uncheckedImage, iw, ih) && iw > 0 && ih > 0) {
      frameWidth = iw / 3;
      imageHeight = ih;
    }
    owner->setBounds(owner->x(), owner->y(), std::max(labelWidth + 16, frameWidth + 3 + labelWidth),
                     std::max(13, imageHeight));
    owner->paint();
  }
};

QxCheckBox::QxCheckBox(int x, int y, const std::string& key, const std::string& label)
    : QxButton("QxCheckBox", nullptr, x, y, 0, 0, 3), checkImpl_(std::make_unique<Impl>()) {
  checkImpl_->owner = this;
  checkImpl_->label = label;
  checkImpl_->key = key;
}

QxCheckBox::~QxCheckBox() = default;

std::uint32_t QxCheckBox::focusMarkColour() { return checkImpl_->labelColour; }

bool QxCheckBox::isChecked() { return checkImpl_->checked; }

void QxCheckBox::setChecked(bool checked) {
  const bool changed = checkImpl_->checked != checked;
  checkImpl_->checked = checked;
  if (changed) notifyAccessibility(EVENT_OBJECT_STATECHANGE);
  paint();
  update();
}

std::string QxCheckBox::getText() { return checkImpl_->label; }

std::string QxCheckBox::getKey() const { return checkImpl_->key; }

void QxCheckBox::performClick() {
  setChecked(!isChecked());
  QxButton::performClick();
}

void QxCheckBox::refresh() {
  QxButton::refresh();
  checkImpl_->measure(host());
}

void QxCheckBox::onAttach(QxGUIServiceProvider* provider) {
  checkImpl_->measure(provider ? provider : host());
  QxButton::onAttach(provider);
}

void QxCheckBox::paint() {
  Impl& d = *checkImpl_;
  clearItems();
  QxGUIServiceProvider* provider = host();
  if (!provider) return;
  const std::string& image = d.checked ? d.checkedImage : d.uncheckedImage;
  int iw = 0, ih = 0;
  if (!provider->getImageSize(image, iw, ih)) return;
  int frameWidth = iw / skin::kUnchecked.frames;
  // The strips have no disabled frame: a disabled box shows its normal frame and a
  // lighter label.
  bool disabled = state() == Disabled;
  int frame = disabled ? 0 : state();
  addImageSection(image, 0, 0, frameWidth, ih, frame * frameWidth, 0, frameWidth, ih);
  addText(d.label, kLabelFont, kLabelSize, false, disabled ? kDisabledLabelColour : d.labelColour,
          frameWidth + 3, (ih - 12) / 2, d.labelWidth, 12, DrawItem::AlignLeft, DrawItem::AlignTop,
          false);
}
