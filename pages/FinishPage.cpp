#include "pages/FinishPage.h"

#include <windows.h>

#include <string>
#include <vector>

#include "app/ArgumentQuoting.h"
#include "app/InstallManager.h"
#include "app/InstallPath.h"
#include "app/UserLauncher.h"
#include "gui/QxActionListener.h"
#include "gui/QxTextButton.h"
#include "gui/SkinImages.h"

namespace {

const char* const kGameProgram = "Vantor.exe";

// A game that does not start is not reported: the install itself has succeeded. It runs
// with the player's rights where the unelevated copy can start it.
void startGame(const std::string& installPath) {
  // Quoted, so a folder with spaces cannot make the system run a program named after
  // the path's first words instead.
  UserLauncher::startProgram(quoteArgument(pathInFolder(installPath, kGameProgram)), installPath);
}

} // namespace

struct FinishPage::Impl : public QxActionListener {
  FinishPage* owner = nullptr;

  // QxActionListener
  void actionPerformed(const std::string& command) override {
    if (command != "btnFinishInstall")
      return;
    InstallManager& manager = InstallManager::instance();
    // A parent program that follows the install starts the game itself.
    if (!manager.notifyWindow())
      startGame(manager.getInstallPath());
    PostMessageA(nullptr, WM_QUIT, 0, 0);
  }
};

FinishPage::FinishPage(int width, int height)
    : Panel(0, width, height), pageImpl_(std::make_unique<Impl>()) {
  pageImpl_->owner = this;
  addImage(skin::kFinishBackground.name, 0, 0);
  const SkinImage& strip = skin::kOneKeyInstall;
  auto* finish = new QxTextButton(241, 406, strip.frameWidth(), strip.height, strip.name,
                                  "完成安装", 0xFFFFFF, 28, "微软雅黑");
  finish->setAction("btnFinishInstall", pageImpl_.get());
  addChild(finish);
}

FinishPage::~FinishPage() = default;
