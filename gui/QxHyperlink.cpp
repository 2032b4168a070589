#include "gui/QxHyperlink.h"

#include <algorithm>

#include "gui/QxGUIServiceProvider.h"

struct QxHyperlink::Impl {
  QxHyperlink* owner = nullptr;
  std::string text;
  std::string fontName = "宋体";
  int fontSize = 12;
  bool bold = false;
  std::uint32_t baseColour = 0xB25C00;
  bool stateStyled = true;
  bool centred = false;
  bool autoSize = true;

  void fitText(QxGUIServiceProvider* provider) {
    if (provider && !centred && autoSize) {
      int w = 65535, h = 65535;
      provider->measureText(text, fontName, fontSize, bold, false, false, w, h);
      owner->setBounds(owner->x(), owner->y(), w, h + 1);
    }
    owner->paint();
  }
};

QxHyperlink::QxHyperlink(const std::string& text)
    : QxButton(text, nullptr, 136, 409, 120, 30, 4), linkImpl_(std::make_unique<Impl>()) {
  linkImpl_->owner = this;
  linkImpl_->text = text;
  paint();
}

QxHyperlink::~QxHyperlink() = default;

std::string QxHyperlink::getText() { return linkImpl_->text; }

std::uint32_t QxHyperlink::focusMarkColour() { return linkImpl_->baseColour; }

void QxHyperlink::setBaseColour(std::uint32_t colour) {
  if (linkImpl_->baseColour == colour) return;
  linkImpl_->baseColour = colour;
  paint();
  update();
}

std::uint32_t QxHyperlink::stateColour(int state) const {
  const Impl& d = *linkImpl_;
  std::uint32_t c = d.baseColour;
  if (!d.stateStyled || state == Normal) return c;
  std::uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  std::uint32_t sum = r + g + b;
  if (state == Disabled) {
    std::uint32_t grey = sum / 3;
    return grey | (grey << 8) | (grey << 16);
  }
  // A light colour gets lighter and a dark one darker.
  auto scale = [sum](std::uint32_t v) -> std::uint32_t {
    return std::min<std::uint32_t>(sum > 381 ? v * 12 / 10 : v * 8 / 10, 255);
  };
  return scale(r) | (scale(g) << 8) | (scale(b) << 16);
}

void QxHyperlink::refresh() {
  QxButton::refresh();
  linkImpl_->fitText(host());
}

void QxHyperlink::onAttach(QxGUIServiceProvider* provider) {
  linkImpl_->fitText(provider ? provider : host());
  QxButton::onAttach(provider);
}

void QxHyperlink::paint() {
  const Impl& d = *linkImpl_;
  clearItems();
  int s = state();
  bool underline = d.stateStyled ? (s == Hover || s == Pressed) : true;
  int align = d.centred ? 1 : 0;
  addText(d.text, d.fontName, d.fontSize, d.bold, stateColour(s), 0, 0, width(), height(), align,
          align, underline);
}

bool QxHyperlink::onMouse(int type, int x, int y, unsigned keys) {
  if (type == CursorQuery && state() != Disabled) {
    if (QxGUIServiceProvider* provider = host()) provider->setCursor("hand");
    return true;
  }
  return QxButton::onMouse(type, x, y, keys);
}
