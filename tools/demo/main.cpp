// A toolkit demo: one layered window with rounded corners showing each kind of draw item,
// a hover tooltip and a click counter. Esc or a click on the close mark ends it.
//   demo.exe [--seconds N] [--screenshot file.png]
// --seconds ends the demo after N seconds; --screenshot takes an X screenshot of the
// display (Unix path) shortly after the window shows, checks it and ends: exit code 0 when
// the window shows with its corners and colour key cut out, 2 when not, 3 without picture.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gui/Event.h"
#include "gui/GdiPlus.h"
#include "gui/ImageCache.h"
#include "gui/MessageLoop.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxWidget.h"
#include "gui/Timer.h"

namespace {

constexpr int kLeft = 200;
constexpr int kTop = 160;
constexpr int kWidth = 420;
constexpr int kHeight = 260;

class CloseMark : public QxWidget {
public:
  CloseMark() : QxWidget("btnClose") {
    setBounds(kWidth - 34, 8, 24, 24);
    setCursor("hand");
    setToolTip("Close the demo");
    paint();
  }
  void paint() override {
    clearItems();
    addFill(hover_ ? 0x3030E0 : 0x505050, 0, 0, width(), height());
    addText("x", "Tahoma", 18, true, 0xFFFFFF, 0, 0, width(), height(), DrawItem::AlignCentre,
            DrawItem::AlignMiddle);
  }
  bool onMouse(int type, int x, int y, unsigned keys) override {
    if (type == MouseEnter || type == MouseLeave) {
      hover_ = type == MouseEnter;
      paint();
      update();
    } else if (type == LeftUp) {
      PostQuitMessage(0);
    }
    return QxWidget::onMouse(type, x, y, keys);
  }

private:
  bool hover_ = false;
};

class Counter : public QxWidget {
public:
  Counter() : QxWidget("counter") {
    setBounds(24, 150, 180, 44);
    setCursor("hand");
    paint();
  }
  void paint() override {
    clearItems();
    addNineGrid("demo/frame.png", 0, width(), height(), 0, 30, 30, 10, 10, 10, 10);
    addText("clicked " + std::to_string(clicks_) + " times", "Tahoma", 15, false, 0x202020, 0, 0,
            width(), height(), DrawItem::AlignCentre, DrawItem::AlignMiddle);
  }
  bool onMouse(int type, int x, int y, unsigned keys) override {
    if (type == LeftUp) {
      ++clicks_;
      paint();
      update();
    }
    return QxWidget::onMouse(type, x, y, keys);
  }

private:
  int clicks_ = 0;
};

class DemoRoot : public QxWidget {
public:
  DemoRoot() : QxWidget("Toolkit demo") {
    setBounds(kLeft, kTop, kWidth, kHeight);
    addChild(new CloseMark);
    addChild(new Counter);
    paint();
  }
  void paint() override {
    clearItems();
    addFill(0xF4EEE8, 0, 0, width(), height());
    addFill(0x8A5A2E, 0, 0, width(), 40);
    addText("Toolkit demo", "Tahoma", 18, true, 0xFFFFFF, 16, 0, 300, 40, DrawItem::AlignLeft,
            DrawItem::AlignMiddle);
    addImage("demo/badge.png", 24, 60);
    addImageSection("demo/photo.jpg", 120, 60, 128, 64, 0, 0, 16, 16);
    addText("Images, sections, nine-grids, fills and text, painted into one back buffer; "
            "the magenta corner square below is transparent.",
            "Tahoma", 13, false, 0x404040, 260, 56, 140, 90);
    addFill(0xFF00FF, width() - 60, height() - 60, 40, 40);
  }
  int windowHitTest(int x, int y) override { return y < 40 && x < width() - 40 ? HTCAPTION : HTCLIENT; }
  bool onKey(int type, WPARAM wParam, LPARAM) override {
    if (type == KeyDown && wParam == VK_ESCAPE) PostQuitMessage(0);
    return true;
  }
};

// 0xRRGGBB of a screen point in a screenshot, 0xFFFFFFFF when unreadable.
std::uint32_t screenPixel(Gdiplus::Bitmap& shot, int x, int y) {
  Gdiplus::Color c;
  if (shot.GetPixel(x, y, &c) != Gdiplus::Ok) return 0xFFFFFFFFu;
  return c.GetValue() & 0xFFFFFFu;
}

// Ends the demo on a timer: after the given time, or after the screenshot, which it
// checks: the header shows, and the rounded corner and the magenta square show what lies
// below the window instead.
class Ender : public EventListener {
public:
  std::string screenshot;
  int code = 0;
  void onEvent(const char*, const char*, EventArg, EventArg) override {
    if (!screenshot.empty()) code = takeAndCheck();
    PostQuitMessage(code);
  }

private:
  int takeAndCheck() {
    const std::string part = screenshot + ".part.png";
    std::string command = "/bin/sh -c \"import -window root " + part + " && mv " + part + " " +
                          screenshot + "\"";
    DeleteFileA(("Z:" + screenshot).c_str());
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
      return 3;
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
    std::wstring path = L"Z:";
    for (char c : screenshot) path += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    // The display's program runs apart from Wine's processes: wait for its file.
    for (int i = 0; i < 200 && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
      Sleep(50);
    Gdiplus::Bitmap shot(path.c_str());
    if (shot.GetLastStatus() != Gdiplus::Ok) return 3;
    const bool header = screenPixel(shot, kLeft + 30, kTop + 20) == 0x2E5A8Au;
    const std::uint32_t corner = screenPixel(shot, kLeft, kTop);
    const std::uint32_t square = screenPixel(shot, kLeft + kWidth - 40, kTop + kHeight - 40);
    const bool cornerCut = corner != 0x2E5A8Au;
    const bool keyed = square != 0xFF00FFu && square != 0xE8EEF4u;
    return header && cornerCut && keyed ? 0 : 2;
  }
};

} // namespace

int main(int argc, char** argv) {
  int seconds = 0;
  Ender ender;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--screenshot") == 0) ender.screenshot = argv[++i];
  }
  if (!ender.screenshot.empty() && seconds == 0) seconds = 1;
  registerWindowClass(GetModuleHandleA(nullptr));
  ImageCache::instance();  // starts GDI+
  auto* root = new DemoRoot;
  int code = 0;
  {
    QxGUISPWnd window(nullptr, root, false, false, true, false);
    window.setRoundCorners();
    Timer timer("demoTimer");
    timer.connect(&ender);
    if (seconds > 0) timer.start(unsigned(seconds) * 1000u);
    code = runMessageLoop();
    timer.stop();
  }
  delete root;
  return code;
}
