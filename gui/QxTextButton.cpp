#include "gui/QxTextButton.h"

#include "gui/QxGUIServiceProvider.h"

struct QxTextButton::Impl {
  QxTextButton* owner = nullptr;
  std::string imageName;
  std::string text;
  int fontSize = 12;
  bool bold = false;
  int frameCount = 3;
  std::uint32_t colours[4] = {0, 0, 0, 0};
  int xOffsets[4] = {0, 0, 0, 0};
  int yOffsets[4] = {0, 0, 1, 0};
  int hSlices = 3;
  int vSlices = 3;
  std::string fontName;
};

QxTextButton::QxTextButton(int x, int y, int width, int height, const std::string& imageName,
                           const std::string& text, std::uint32_t textColour, int fontSize,
                           const std::string& fontName)
    : QxButton(text, imageName.c_str(), x, y, width, height, 3),
      textButtonImpl_(std::make_unique<Impl>()) {
  Impl& d = *textButtonImpl_;
  d.owner = this;
  d.imageName = imageName;
  d.text = text;
  d.fontSize = fontSize;
  d.fontName = fontName;
  for (std::uint32_t& c : d.colours) c = textColour;
  setAlphaHitTest(false);
  paint();
}

QxTextButton::~QxTextButton() = default;

std::uint32_t QxTextButton::focusMarkColour() { return textButtonImpl_->colours[Normal]; }

void QxTextButton::setTextColors(std::uint32_t normal, std::uint32_t hover, std::uint32_t pressed,
                                 std::uint32_t disabled) {
  Impl& d = *textButtonImpl_;
  d.colours[0] = normal;
  d.colours[1] = hover;
  d.colours[2] = pressed;
  d.colours[3] = disabled;
}

void QxTextButton::setText(const std::string& text) {
  if (textButtonImpl_->text == text) return;
  textButtonImpl_->text = text;
  paint();
  update();
}

std::string QxTextButton::getText() { return textButtonImpl_->text; }

void QxTextButton::refresh() {
  QxButton::refresh();
  paint();
  update();
}

void QxTextButton::onAttach(QxGUIServiceProvider* provider) {
  QxButton::onAttach(provider);
  paint();
  update();
}

void QxTextButton::paint() {
  const Impl& d = *textButtonImpl_;
  clearItems();
  int s = state();
  int iw = 0, ih = 0;
  QxGUIServiceProvider* provider = host();
  if (provider && provider->getImageSize(d.imageName, iw, ih) && d.frameCount > 0) {
    int frameWidth = iw / d.frameCount;
    int srcX = (s < d.frameCount ? s : 0) * frameWidth;
    int left = frameWidth / d.hSlices, top = ih / d.vSlices;
    addNineGrid(d.imageName, 0, width(), height(), srcX, frameWidth, ih, left, top,
                frameWidth - 2 * left, ih - 2 * top, false);
  }
  int i = (s >= 0 && s < 4) ? s : 0;
  addText(d.text, d.fontName, d.fontSize, d.bold, d.colours[i], d.xOffsets[i], d.yOffsets[i],
          width(), height() + 1, DrawItem::AlignCentre, DrawItem::AlignMiddle, false);
}
