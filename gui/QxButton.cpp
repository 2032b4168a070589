#include "gui/QxButton.h"

#include "gui/EventListener.h"
#include "gui/QxActionListener.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/Timer.h"

// The record listens to its own two timers and tells them apart by name.
struct QxButton::Impl : EventListener {
  QxButton* owner = nullptr;
  std::string imageName;
  int frameCount = 1;
  int state = Normal;
  QxActionListener* listener = nullptr;
  std::string command;
  bool alphaHitTest = true;
  int minClickInterval = 0;
  Timer minClickTimer{"minClickTimer"};
  bool flashPhase = false;
  int flashFrameA = 0;
  int flashFrameB = 0;
  bool stopFlashOnClick = false;
  bool flashing = false;
  Timer flashTimer{"flashTimer"};
  bool tabStop = true;
  WPARAM pressedKey = 0;

  int currentFrame() const { return state < frameCount ? state : 0; }

  void showFrame(int frame) {
    owner->clearItems();
    if (!imageName.empty()) {
      int w = owner->width(), h = owner->height();
      owner->addImageSection(imageName, 0, 0, w, h, frame * w, 0, w, h);
    }
    owner->update();
  }

  void onEvent(const char* eventName, const char*, EventArg, EventArg) override {
    const std::string name = eventName;
    if (name == "minClickTimer") {
      minClickTimer.stop();
      owner->setState(Normal);
    } else if (name == "flashTimer") {
      flashPhase = !flashPhase;
      showFrame(flashPhase ? flashFrameA : flashFrameB);
    }
  }
};

QxButton::QxButton(std::string name, const char* imageName, int x, int y, int width, int height,
                   int frameCount)
    : QxWidget(std::move(name)), buttonImpl_(std::make_unique<Impl>()) {
  Impl& d = *buttonImpl_;
  d.owner = this;
  d.imageName = imageName ? imageName : "";
  d.frameCount = frameCount;
  setBounds(x, y, width, height);
  paint();
}

QxButton::~QxButton() = default;

void QxButton::setAction(const std::string& command, QxActionListener* listener) {
  buttonImpl_->command = command;
  buttonImpl_->listener = listener;
}

void QxButton::setState(int state) {
  if (buttonImpl_->state == state) return;
  const bool availabilityChanged = (state == Disabled) != (buttonImpl_->state == Disabled);
  buttonImpl_->state = state;
  if (availabilityChanged) notifyAccessibility(EVENT_OBJECT_STATECHANGE);
  paint();
  update();
}

void QxButton::performClick() {
  Impl& d = *buttonImpl_;
  if (d.minClickInterval > 0) {
    d.minClickTimer.connect(&d);
    d.minClickTimer.stop();
    d.minClickTimer.start(static_cast<unsigned>(d.minClickInterval));
    setState(Disabled);
  }
  if (d.flashing && d.stopFlashOnClick) {
    d.flashTimer.stop();
    d.flashing = false;
    // A running minimum interval keeps the button disabled; the flash ends either way.
    if (!d.minClickTimer.isActive()) d.state = Normal;
    paint();
    update();
  }
  if (d.listener) d.listener->actionPerformed(d.command);
}

void QxButton::setAlphaHitTest(bool enabled) { buttonImpl_->alphaHitTest = enabled; }

void QxButton::setMinClickInterval(int ms) { buttonImpl_->minClickInterval = ms; }

void QxButton::startFlash(int frameA, int frameB, bool stopOnClick) {
  Impl& d = *buttonImpl_;
  d.flashFrameA = frameA;
  d.flashFrameB = frameB;
  d.stopFlashOnClick = stopOnClick;
  d.flashPhase = false;
  d.flashing = true;
  d.flashTimer.connect(&d);
  d.flashTimer.stop();
  d.flashTimer.start(600);
}

void QxButton::stopFlash() {
  Impl& d = *buttonImpl_;
  d.flashTimer.stop();
  d.flashing = false;
  d.state = Normal;
  paint();
  update();
}

void QxButton::setText(const std::string&) {}

std::string QxButton::getText() { return std::string(); }

void QxButton::setTabStop(bool enabled) { buttonImpl_->tabStop = enabled; }

bool QxButton::acceptsFocus() { return buttonImpl_->tabStop && buttonImpl_->state != Disabled; }

bool QxButton::onKey(int type, WPARAM wParam, LPARAM) {
  Impl& d = *buttonImpl_;
  if (wParam != VK_SPACE && wParam != VK_RETURN) return false;
  if (type == KeyDown) {
    if (d.pressedKey == wParam) return true;  // the key's auto-repeat
    if (d.state == Disabled || d.pressedKey) return false;
    d.pressedKey = wParam;
    setState(Pressed);
    return true;
  }
  if (type != KeyUp || d.pressedKey != wParam) return false;
  d.pressedKey = 0;
  if (d.state != Pressed) return true;
  // The listener may destroy this button, so nothing touches it after the click.
  setState(Normal);
  performClick();
  return true;
}

void QxButton::onFocusLost(QxWidget* newFocus) {
  Impl& d = *buttonImpl_;
  if (d.pressedKey && d.state == Pressed) setState(Normal);
  d.pressedKey = 0;
  QxWidget::onFocusLost(newFocus);
}

int QxButton::state() const { return buttonImpl_->state; }

bool QxButton::isFlashing() const { return buttonImpl_->flashing; }

const std::string& QxButton::actionCommand() const { return buttonImpl_->command; }

const std::string& QxButton::imageName() const { return buttonImpl_->imageName; }

int QxButton::frameCount() const { return buttonImpl_->frameCount; }

QxGUIServiceProvider* QxButton::host() { return root()->provider(); }

void QxButton::paint() {
  Impl& d = *buttonImpl_;
  clearItems();
  if (d.imageName.empty()) return;
  int w = width(), h = height();
  addImageSection(d.imageName, 0, 0, w, h, d.currentFrame() * w, 0, w, h);
}

bool QxButton::hitTest(int x, int y) {
  Impl& d = *buttonImpl_;
  if (x < 0 || x >= width() || y < 0 || y >= height()) return false;
  if (!isMouseEnabled()) return false;
  QxGUIServiceProvider* provider = host();
  if (!d.alphaHitTest || !provider || d.imageName.empty()) return true;
  std::uint32_t pixel = provider->getPixel(d.imageName, d.currentFrame() * width() + x, y);
  return pixel > 0x00FFFFFFu;
}

bool QxButton::onMouse(int type, int x, int y, unsigned keys) {
  QxWidget::onMouse(type, x, y, keys);
  Impl& d = *buttonImpl_;
  switch (type) {
  case MouseLeave:
    if (d.state != Disabled) setState(Normal);
    break;
  case MouseMove:
    if (d.state != Pressed && d.state != Disabled) setState(hitTest(x, y) ? Hover : Normal);
    break;
  case LeftDown:
  case LeftDoubleClick:
    if (d.state != Disabled && hitTest(x, y)) setState(Pressed);
    break;
  case LeftUp:
    if (d.state != Pressed) break;
    // A check box toggles before its hover look returns; other buttons show the hover look
    // first. The listener may destroy this button, so nothing touches it after the click.
    if (name() == "QxCheckBox") {
      performClick();
      if (d.state != Disabled) setState(Hover);
    } else {
      setState(Hover);
      performClick();
    }
    break;
  default:
    break;
  }
  return true;
}
