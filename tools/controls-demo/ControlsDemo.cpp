// controls-demo [seconds]: shows a frame with one of each control. Every click is written
// to standard output as "action <command>" (the check box adds its new value), and the
// start as "ready" lines giving the window's screen position and the places of the
// controls in window coordinates, so a driver can aim real mouse input at them. With
// `seconds` the demo ends by itself after that long.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gui/EventListener.h"
#include "gui/MessageLoop.h"
#include "gui/Panel.h"
#include "gui/ProgressBar.h"
#include "gui/QxActionListener.h"
#include "gui/QxButton.h"
#include "gui/QxCheckBox.h"
#include "gui/QxHyperlink.h"
#include "gui/QxTextBox.h"
#include "gui/QxTextButton.h"
#include "gui/QxTextField.h"
#include "gui/StandardWidget.h"
#include "gui/StepsPanel.h"
#include "gui/Timer.h"
#include "gui/TopLevelRegistry.h"

namespace {

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void sayPlace(const char* what, QxWidget* w) {
  POINT p = w->mapToRoot(0, 0);
  say(std::string("place ") + what + " " + std::to_string(p.x) + " " + std::to_string(p.y) + " " +
      std::to_string(w->width()) + " " + std::to_string(w->height()));
}

class DemoPage : public Panel, QxActionListener, EventListener {
public:
  DemoPage() : Panel(0, 660, 480) {
    addImage("logo", 13, 16);
    addImage("QxCharacter", 95, 134);
    addImage("res/oneKeyShadow.png", 291, 302);

    oneKey = new QxTextButton(291, 259, 177, 43, "res/btnOneKeyInstall.png", "一键安装", 0xFFFFFF,
                              28, "微软雅黑");
    oneKey->setAction("btnOneKeyInstall", this);
    addChild(oneKey);

    custom = new QxButton("CustomInstall", "res/btnCustomInstall.png", 543, 408, 87, 15, 2);
    custom->setAlphaHitTest(false);
    custom->setCursor("hand");
    custom->setAction("btnCustomInstall", this);
    addChild(custom);

    link = new QxHyperlink("《用户许可协议》");
    link->setAction("linkUserLisence", this);
    addChild(link);

    addChild(new QxTextField("欢迎体验全新的冒险世界", 291, 196, 340, 32, 22, 0xB25C00,
                             DrawItem::AlignLeft, DrawItem::AlignTop, "微软雅黑"));
    addChild(new QxTextField("安装目录：", 66, 106, 64, 16, 12, 0x555555, DrawItem::AlignLeft,
                             DrawItem::AlignTop, "simsun"));
    box = new QxTextBox(this, "D:\\Games\\Vantor");
    box->setBounds(131, 100, 312, 26);
    box->setVisible(true);
    browse = new QxTextButton(449, 98, 89, 30, "res/btn.png", "浏览", 0x986800, 12, "simsun");
    browse->setAction("btnBrowse", this);
    addChild(browse);

    bar = new ProgressBar(356);
    bar->setProgress(100, 42);
    addChild(bar);

    progress.connect(this);
    progress.start(80);
  }

  // Added when the page joins the frame, as the welcome page does.
  void refresh() override {
    Panel::refresh();
    if (!check) {
      check = new QxCheckBox(31, 408, "userLicense", "我已阅读并同意");
      check->setChecked(true);
      check->setAction("ckbUserLisence", this);
    }
    addChild(check);
    update();
  }

  void actionPerformed(const std::string& command) override {
    std::string line = "action " + command;
    if (command == "ckbUserLisence") line += check->isChecked() ? " 1" : " 0";
    say(line);
  }

  // The bar runs from 0 to 100 % and again, so the demo shows it moving.
  void onEvent(const char*, const char*, EventArg, EventArg) override {
    value = (value + 1) % 101;
    bar->setProgress(100, value);
  }

  QxTextButton* oneKey = nullptr;
  QxTextButton* browse = nullptr;
  QxButton* custom = nullptr;
  QxHyperlink* link = nullptr;
  QxCheckBox* check = nullptr;
  QxTextBox* box = nullptr;
  ProgressBar* bar = nullptr;
  Timer progress{"progressTimer"};
  int value = 42;
};

struct Deadline : EventListener {
  Timer timer{"deadline"};
  void onEvent(const char*, const char*, EventArg, EventArg) override {
    timer.stop();
    say("deadline");
    PostQuitMessage(2);
  }
};

} // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
  registerWindowClass(GetModuleHandleA(nullptr));

  auto* frame = new StandardWidget("控件演示");
  const std::string steps[StepsPanel::kStepCount] = {"欢迎", "下载安装", "完成"};
  auto* page = new DemoPage;
  frame->addChild(page);
  frame->addChild(new StepsPanel(steps, 660));
  frame->createWindow();
  TopLevelRegistry::instance().adopt(0, frame);

  RECT r{};
  GetWindowRect(frame->hwnd(), &r);
  say("window " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
      std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
  sayPlace("oneKey", page->oneKey);
  sayPlace("custom", page->custom);
  sayPlace("link", page->link);
  sayPlace("check", page->check);
  sayPlace("browse", page->browse);
  sayPlace("box", page->box);
  sayPlace("close", frame->closeButton());
  say("ready");

  Deadline deadline;
  if (seconds > 0) {
    deadline.timer.connect(&deadline);
    deadline.timer.start(static_cast<unsigned>(seconds) * 1000u);
  }
  int code = runMessageLoop();
  TopLevelRegistry::instance().purge();
  TopLevelRegistry::instance().destroyAll();
  say("exit " + std::to_string(code));
  return code;
}
