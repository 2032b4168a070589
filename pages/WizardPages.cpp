#include "pages/WizardPages.h"

#include <string>

#include "gui/Panel.h"
#include "gui/StepsPanel.h"
#include "pages/FinishPage.h"
#include "pages/InstallPage.h"
#include "pages/OptionPage.h"
#include "pages/WelcomePage.h"

WizardPages WizardPages::build(QxWidget& frame, QxActionListener* controller, const InstallConfig& config) {
  WizardPages pages;
  const int width = frame.width();
  const int height = frame.height();
  pages.welcome = new WelcomePage(controller, width, height);
  frame.addChild(pages.welcome);
  static const std::string steps[StepsPanel::kStepCount] = {"欢迎", "下载安装", "完成"};
  pages.steps = new StepsPanel(steps, width);
  frame.addChild(pages.steps);
  pages.option = new OptionPage(controller, width, height);
  frame.addChild(pages.option);
  pages.option->setVisible(false);
  pages.install = new InstallPage(width, height);
  frame.insertChild(pages.install, 0);
  pages.install->setVisible(false);
  pages.finish = new FinishPage(width, height);
  frame.insertChild(pages.finish, 0);
  pages.finish->setVisible(false);
  pages.overlay = new Panel(0, width, height);
  const auto at = [&](const char* name) {
    const auto found = config.pictures.find(name);
    return found != config.pictures.end() ? found->second : PicturePosition{};
  };
  const PicturePosition logo = at("logo");
  const PicturePosition logoText = at("logoText");
  pages.overlay->addImage("logo", logo.x, logo.y);
  pages.overlay->addImage("logoText", logoText.x, logoText.y);
  frame.addChild(pages.overlay);
  return pages;
}
