#include "gui/QxTextBox.h"

#include <vector>

#include "gui/DisplayScale.h"
#include "gui/GbkText.h"
#include "gui/MessageLoop.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/QxGUISPWnd.h"

namespace {

constexpr int kEditHeight = 12;

} // namespace

struct QxTextBox::Impl {
  QxTextBox* owner = nullptr;
  HWND edit = nullptr;
  std::uint32_t borderColour = 0xCFC5BA;
  std::uint32_t backgroundColour = 0xFFFFFF;
  bool drawBorder = true;
  bool singleLine = true;
  HFONT font = nullptr;  // owned
  int fontDpi = 0;       // the window's DPI the font was made for
  bool password = false;
  bool centred = false;
  std::wstring initialText;

  ~Impl() {
    if (edit && IsWindow(edit)) DestroyWindow(edit);
    if (font) DeleteObject(font);
  }

  // Makes the edit control on the host's window. A control that already lives on that
  // window is kept (with its text); one left on another window is replaced.
  void createEdit(QxGUIServiceProvider* provider) {
    auto* wnd = dynamic_cast<QxGUISPWnd*>(provider);
    if (wnd && wnd->hwnd()) {
      if (edit && (!IsWindow(edit) || GetParent(edit) != wnd->hwnd())) {
        if (IsWindow(edit)) {
          initialText = currentText();
          DestroyWindow(edit);
        }
        edit = nullptr;
      }
      if (!edit) {
        DWORD style = WS_CHILD;
        if (owner->isVisible()) style |= WS_VISIBLE;
        style |= singleLine ? ES_AUTOHSCROLL : (ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL);
        if (password) style |= ES_PASSWORD;
        if (centred) style |= ES_CENTER;
        edit = CreateWindowExW(0, L"EDIT", initialText.c_str(), style, owner->x(), owner->y(),
                               owner->width(), owner->height(), wnd->hwnd(), nullptr,
                               moduleInstance(), nullptr);
        fontDpi = 0;
      }
      // The edit control is a window of its own: its place and font are in device pixels.
      if (edit && fontDpi != wnd->dpi()) {
        fontDpi = wnd->dpi();
        HFONT newFont = CreateFontW(DisplayScale(fontDpi).toDevice(12), 0, 0, 0, FW_NORMAL, FALSE,
                                    FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH,
                                    L"simsun");
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(newFont), TRUE);
        if (font) DeleteObject(font);
        font = newFont;
      }
    }
    layout(owner->width(), owner->height());
  }

  std::wstring currentText() const {
    int n = GetWindowTextLengthW(edit);
    if (n < 1) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1);
    GetWindowTextW(edit, buffer.data(), n + 1);
    return std::wstring(buffer.data());
  }

  void layout(int w, int h) {
    owner->clearItems();
    owner->addFill(backgroundColour, 0, 0, w, h);
    if (drawBorder) {
      owner->addFill(borderColour, 0, 0, w, 1);
      owner->addFill(borderColour, 0, h - 1, w, 1);
      owner->addFill(borderColour, 0, 0, 1, h);
      owner->addFill(borderColour, w - 1, 0, 1, h);
    }
    if (edit) {
      int x = 0, y = 0, ew = w, eh = h;
      if (drawBorder && singleLine) {
        int d = (h - kEditHeight) / 2;
        x = y = d;
        ew = w - 2 * d;
        eh = h - 2 * d;
      }
      POINT p = owner->mapToRoot(x, y);
      if (singleLine) p.y += (eh - kEditHeight) / 2;
      const DisplayScale scale(fontDpi ? fontDpi : DisplayScale::kLayoutDpi);
      const RECT r = scale.toDevice(RECT{p.x, p.y, p.x + ew, p.y + (singleLine ? kEditHeight : eh)});
      SetWindowPos(edit, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    owner->update();
  }
};

QxTextBox::QxTextBox(QxWidget* parent, const std::string& text)
    : QxWidget("QxTextBox"), boxImpl_(std::make_unique<Impl>()) {
  boxImpl_->owner = this;
  boxImpl_->initialText = gbkToWide(text);
  setBounds(131, 189, 312, 26);
  update();
  if (parent) parent->addChild(this);
}

QxTextBox::~QxTextBox() = default;

void QxTextBox::setText(const std::string& text) {
  if (boxImpl_->edit) SetWindowTextW(boxImpl_->edit, gbkToWide(text).c_str());
}

std::string QxTextBox::getText() {
  if (!boxImpl_->edit) return std::string();
  return wideToGbk(boxImpl_->currentText());
}

HWND QxTextBox::editWindow() const { return boxImpl_->edit; }

bool QxTextBox::acceptsFocus() { return boxImpl_->edit != nullptr; }

HWND QxTextBox::focusWindow() { return boxImpl_->edit; }

void QxTextBox::setBounds(int x, int y, int width, int height) {
  QxWidget::setBounds(x, y, width, height);
  boxImpl_->layout(this->width(), this->height());
}

void QxTextBox::setVisible(bool visible) {
  if (visible != isVisible() && boxImpl_->edit) ShowWindow(boxImpl_->edit, visible ? SW_SHOW : SW_HIDE);
  QxWidget::setVisible(visible);
}

void QxTextBox::refresh() {
  QxWidget::refresh();
  boxImpl_->createEdit(root()->provider());
}

void QxTextBox::onAttach(QxGUIServiceProvider* provider) {
  QxWidget::onAttach(provider);
  boxImpl_->createEdit(provider ? provider : root()->provider());
}

bool QxTextBox::onMouse(int type, int x, int y, unsigned keys) {
  if (type == LeftDown) {
    // Tab goes on from here, as it would from a box it had reached.
    setFocus();
    if (boxImpl_->edit) SetFocus(boxImpl_->edit);
    return true;
  }
  if (type == CursorQuery) {
    if (QxGUIServiceProvider* provider = root()->provider()) provider->setCursor("ibeam");
    return true;
  }
  return QxWidget::onMouse(type, x, y, keys);
}
