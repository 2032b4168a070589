#include "gui/QxTextField.h"

#include "gui/QxGUIServiceProvider.h"

struct QxTextField::Impl {
  QxTextField* owner = nullptr;
  int width = 0;
  int height = 0;
  int fontSize = 12;
  std::uint32_t colour = 0;
  int hAlign = DrawItem::AlignLeft;
  int vAlign = DrawItem::AlignTop;
  bool bold = false;
  std::string fontName;
  std::string text;
  bool autoWidth = false;
  bool autoHeight = false;
};

QxTextField::QxTextField(const std::string& text, int x, int y, int width, int height,
                         int fontSize, std::uint32_t colour, int hAlign, int vAlign,
                         const std::string& fontName)
    : QxWidget(text), fieldImpl_(std::make_unique<Impl>()) {
  Impl& d = *fieldImpl_;
  d.owner = this;
  d.width = width;
  d.height = height;
  d.fontSize = fontSize;
  d.colour = colour;
  d.hAlign = hAlign;
  d.vAlign = vAlign;
  d.fontName = fontName;
  d.autoWidth = width < 1;
  d.autoHeight = height < 1;
  setBounds(x, y, width, height);
  setText(text, false, false);
  update();
}

QxTextField::~QxTextField() = default;

void QxTextField::setText(const std::string& text, bool autoWidth, bool autoHeight) {
  Impl& d = *fieldImpl_;
  d.text = text;
  d.autoWidth = autoWidth;
  d.autoHeight = autoHeight;
  clearItems();
  int w = d.width, h = d.height;
  QxGUIServiceProvider* provider = root()->provider();
  if (provider && (autoWidth || autoHeight)) {
    if (autoWidth) w = 65535;
    if (autoHeight || !autoWidth) h = 65535;
    provider->measureText(d.text, d.fontName, d.fontSize, d.bold, false, false, w, h);
  }
  setBounds(x(), y(), w, h);
  addText(d.text, d.fontName, d.fontSize, d.bold, d.colour, 0, 0, w, h, d.hAlign, d.vAlign, false);
}

const std::string& QxTextField::text() const { return fieldImpl_->text; }

void QxTextField::setFontStyle(bool bold) {
  Impl& d = *fieldImpl_;
  if (d.bold == bold) return;
  d.bold = bold;
  removeItem(d.text);
  addText(d.text, d.fontName, d.fontSize, d.bold, d.colour, 0, 0, d.width, d.height,
          DrawItem::AlignLeft, DrawItem::AlignTop, false);
  update();
}

bool QxTextField::isBold() const { return fieldImpl_->bold; }

void QxTextField::refresh() {
  QxWidget::refresh();
  setText(fieldImpl_->text, fieldImpl_->autoWidth, fieldImpl_->autoHeight);
}

void QxTextField::onAttach(QxGUIServiceProvider* provider) {
  QxWidget::onAttach(provider);
  setText(fieldImpl_->text, fieldImpl_->autoWidth, fieldImpl_->autoHeight);
}
