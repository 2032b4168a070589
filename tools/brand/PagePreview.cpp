#include "tools/brand/PagePreview.h"

#include "app/InstallManager.h"
#include "gui/CommonControls.h"
#include "gui/DisplayScale.h"
#include "gui/MessageLoop.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxActionListener.h"
#include "gui/StandardWidget.h"
#include "gui/StepsPanel.h"
#include "gui/WindowPicture.h"
#include "pages/FinishPage.h"
#include "pages/InstallPage.h"
#include "pages/OptionPage.h"
#include "pages/WelcomePage.h"
#include "pages/WizardPages.h"
#include "tools/brand/BrandingSource.h"

namespace {

// The pages' buttons lead nowhere in a picture.
struct NoController : QxActionListener {
  void actionPerformed(const std::string&) override {}
};

// What the install page shows while a package downloads.
constexpr int kPackageBytes = 123456789;
constexpr int kDownloaded = 55555555;
const char* const kPackageVersion = "1.0.0";

} // namespace

std::vector<std::wstring> writePagePreviews(const std::wstring& folder, std::string& failure,
                                            int scalePercent) {
  SetThreadLocale(2052);
  CommonControls::init();
  registerWindowClass(GetModuleHandleW(nullptr));
  InstallManager& manager = InstallManager::instance();
  const InstallConfig config = manager.getConfig();

  NoController controller;
  auto* frame = new StandardWidget(config.installName + "安装");
  const WizardPages pages = WizardPages::build(*frame, &controller, config);
  frame->setVisible(false);
  frame->createWindow();
  const DisplayScale scale(MulDiv(DisplayScale::kLayoutDpi, scalePercent, 100));
  if (auto* window = dynamic_cast<QxGUISPWnd*>(frame->provider())) window->setDpi(scale.dpi());

  std::vector<std::wstring> written;
  CreateDirectoryW(folder.c_str(), nullptr);
  const auto shoot = [&](const wchar_t* name) {
    frame->paint();
    frame->update();
    const std::wstring path = folder + L"\\" + name;
    const int w = scale.toDevice(frame->width()), h = scale.toDevice(frame->height());
    if (WindowPicture::savePng(WindowPicture::capture(frame->hwnd(), w, h), w, h, path))
      written.push_back(path);
    else if (failure.empty())
      failure = "cannot write " + narrowText(path);
  };
  // The pages in the order a player meets them, switched as the controller switches them.
  shoot(L"welcome.png");
  pages.welcome->setVisible(false);
  pages.option->setVisible(true);
  shoot(L"option.png");
  pages.option->setVisible(false);
  pages.install->setVisible(true);
  pages.steps->moveStep(1);
  pages.install->showPicture(0);
  manager.setStage(3);
  manager.setVersion(kPackageVersion);
  pages.install->setProgress(kPackageBytes, kDownloaded);
  shoot(L"install.png");
  manager.setStage(0);
  pages.install->setVisible(false);
  pages.finish->setVisible(true);
  pages.steps->moveStep(1);
  shoot(L"finish.png");

  delete frame;
  if (!failure.empty())
    written.clear();
  return written;
}
