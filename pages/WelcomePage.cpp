// Sections: the page record (licence line); construction; headline; test view.
#include "pages/WelcomePage.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "app/InstallManager.h"
#include "app/UserLauncher.h"
#include "gui/GbkText.h"
#include "gui/DisplayScale.h"
#include "gui/GdiPlus.h"
#include "gui/NoMouseWidget.h"
#include "gui/PathTextEffect.h"
#include "gui/QxActionListener.h"
#include "gui/QxButton.h"
#include "gui/QxCheckBox.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/QxHyperlink.h"
#include "gui/QxTextButton.h"
#include "gui/SkinImages.h"
#include "pages/WelcomePageTestApi.h"

namespace {

constexpr int kHeadlineX = 291;
constexpr int kHeadlineY = 188;
constexpr int kGlyphWidth = 34;
constexpr int kHeadlineHeight = 32;
constexpr Gdiplus::ARGB kHeadlineColour = 0xFF005CB2;

// The first family of the comma-separated list that the system has; null when none.
std::unique_ptr<Gdiplus::FontFamily> findFamily(const std::string& faces) {
  for (std::size_t start = 0; start < faces.size();) {
    std::size_t end = faces.find(',', start);
    if (end == std::string::npos)
      end = faces.size();
    auto family = std::make_unique<Gdiplus::FontFamily>(gbkToWide(faces.substr(start, end - start)).c_str());
    if (family->GetLastStatus() == Gdiplus::Ok && family->IsAvailable())
      return family;
    start = end + 1;
  }
  return nullptr;
}

} // namespace

// --- the page record ---------------------------------------------------------------------

struct WelcomePage::Impl : public QxActionListener {
  WelcomePage* owner = nullptr;
  QxButton* customButton = nullptr;
  QxTextButton* oneKeyButton = nullptr;
  QxCheckBox* licenceBox = nullptr;
  QxHyperlink* licenceLink = nullptr;
  QxActionListener* controller = nullptr;
  std::unique_ptr<Gdiplus::Bitmap> headline;
  bool headlineBuilt = false;
  int headlineDpi = 0;  // the window's DPI the headline was drawn for
  // The check box until the page adopts it as a child.
  std::unique_ptr<QxCheckBox> unadoptedBox;

  void buildHeadline(const DisplayScale& scale);

  // QxActionListener
  void actionPerformed(const std::string& command) override {
    if (command == "ckbUserLisence") {
      const int state = licenceBox->isChecked() ? QxButton::Normal : QxButton::Disabled;
      oneKeyButton->setState(state);
      customButton->setState(state);
      oneKeyButton->update();
      customButton->update();
    } else if (command == "linkUserLisence") {
      const std::string url = InstallManager::instance().getConfig().licenseUrl;
      // The browser gets the player's rights, not the installer's.
      UserLauncher::openDocument(url);
    }
  }
};

// --- construction ------------------------------------------------------------------------

WelcomePage::WelcomePage(QxActionListener* listener, int width, int height)
    : Panel(0, width, height), pageImpl_(std::make_unique<Impl>()) {
  Impl& d = *pageImpl_;
  d.owner = this;
  d.controller = listener;
  const InstallConfig config = InstallManager::instance().getConfig();

  const SkinImage& custom = skin::kCustomInstall;
  d.customButton = new QxButton("CustomInstall", custom.name, 543, 408, custom.frameWidth(),
                                custom.height, custom.frames);
  const SkinImage& oneKey = skin::kOneKeyInstall;
  d.oneKeyButton = new QxTextButton(291, 259, oneKey.frameWidth(), oneKey.height, oneKey.name,
                                    "一键安装", 0xFFFFFF, 28, "微软雅黑");
  d.oneKeyButton->setAction("btnOneKeyInstall", listener);
  d.customButton->setAlphaHitTest(false);
  d.customButton->setAction("btnCustomInstall", listener);
  d.customButton->setCursor("hand");
  d.customButton->setAccessibleName("自定义安装");
  d.unadoptedBox = std::make_unique<QxCheckBox>(31, 408, "userLicense", "我已阅读并同意");
  d.licenceBox = d.unadoptedBox.get();
  d.licenceBox->setChecked(true);
  d.licenceBox->setAction("ckbUserLisence", &d);
  d.licenceLink = new QxHyperlink(config.licenseDesc);
  d.licenceLink->setAction("linkUserLisence", &d);
  addChild(d.licenceLink);
  addChild(d.customButton);
  addChild(d.oneKeyButton);
  // The headline is a picture of words: a screen reader reads them where it lies.
  auto* headline = new NoMouseWidget("headline");
  headline->setBounds(kHeadlineX, kHeadlineY,
                      kGlyphWidth * static_cast<int>(gbkToWide(config.welcomeText).size()), kHeadlineHeight);
  headline->setAccessibleName(config.welcomeText);
  addChild(headline);

  PicturePosition character;
  const auto found = config.pictures.find("QxCharacter");
  if (found != config.pictures.end())
    character = found->second;
  addImage("QxCharacter", character.x, character.y);
  // The shadow's top edge is the one-key button's bottom edge.
  addImage(skin::kOneKeyShadow.name, 291, 259 + oneKey.height);
}

WelcomePage::~WelcomePage() = default;

void WelcomePage::refresh() {
  Panel::refresh();
  Impl& d = *pageImpl_;
  // Taken as the last child only once the page has a parent, so it lies above the rest;
  // from then on the tree owns it and a later refresh only moves it back to the end.
  addChild(d.unadoptedBox ? d.unadoptedBox.release() : d.licenceBox);
  update();
}

// --- headline ----------------------------------------------------------------------------

void WelcomePage::Impl::buildHeadline(const DisplayScale& scale) {
  headlineBuilt = true;
  headlineDpi = scale.dpi();
  headline.reset();
  const std::wstring text = gbkToWide(InstallManager::instance().getConfig().welcomeText);
  const int length = static_cast<int>(text.size());
  if (length == 0)
    return;
  // Drawn for the device, so its edges stay as sharp as the text's.
  const int width = scale.toDevice(kGlyphWidth * length);
  const int height = scale.toDevice(kHeadlineHeight);
  headline = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppPARGB);
  std::unique_ptr<Gdiplus::FontFamily> family = findFamily("微软雅黑,黑体,宋体");
  // Without any of the faces the headline stays transparent; the page works otherwise.
  if (!family)
    return;
  PathTextEffect effect;
  effect.setup(family.get(), static_cast<float>(width), kHeadlineColour, text, 0.2f,
               float(scale.dpi()) / DisplayScale::kLayoutDpi);
  Gdiplus::Graphics graphics(headline.get());
  graphics.Clear(Gdiplus::Color(0x00FFFFFF));
  if (effect.image())
    graphics.DrawImage(effect.image(), 0, 0, width, height);
}

void WelcomePage::onPostPaint(HDC dc, int, int, int, int) {
  Impl& d = *pageImpl_;
  QxGUIServiceProvider* host = root()->provider();
  const DisplayScale scale(host ? host->dpi() : DisplayScale::kLayoutDpi);
  // Built once per scale: a later change of the welcome text shows only on a new page.
  if (!d.headlineBuilt || d.headlineDpi != scale.dpi())
    d.buildHeadline(scale);
  if (!d.headline)
    return;
  POINT at = mapToRoot(kHeadlineX, kHeadlineY);
  at = POINT{scale.toDevice(at.x), scale.toDevice(at.y)};
  Gdiplus::Graphics graphics(dc);
  graphics.DrawImage(d.headline.get(), static_cast<INT>(at.x), static_cast<INT>(at.y),
                     static_cast<INT>(d.headline->GetWidth()),
                     static_cast<INT>(d.headline->GetHeight()));
}

// --- test view ---------------------------------------------------------------------------
// Built only into trees with tests: the product carries no test hooks.
#ifdef QX_TEST_HOOKS
QxCheckBox* WelcomePageTestApi::licenceBox(const WelcomePage& page) {
  return page.pageImpl_->licenceBox;
}
QxHyperlink* WelcomePageTestApi::licenceLink(const WelcomePage& page) {
  return page.pageImpl_->licenceLink;
}
std::string WelcomePageTestApi::status(const WelcomePage& page) {
  const WelcomePage::Impl& d = *page.pageImpl_;
  return "licence " + std::to_string(d.licenceBox->isChecked()) + " | one-key " +
         std::to_string(d.oneKeyButton->state()) + " | custom " + std::to_string(d.customButton->state()) +
         (d.headline && d.headline->GetWidth() > 0 ? " | headline" : " | no headline");
}
#endif
