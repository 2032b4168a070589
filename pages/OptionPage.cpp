// Sections: free space; the page record; construction; path check; folder browser;
// options and tasks; test view.
#include "pages/OptionPage.h"

#include <io.h>
#include <shlobj.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/InstallManager.h"
#include "app/InstallPath.h"
#include "gui/QxActionListener.h"
#include "gui/GbkText.h"
#include "gui/QxCheckBox.h"
#include "gui/QxGUISPWnd.h"
#include "gui/QxTextBox.h"
#include "gui/QxTextButton.h"
#include "gui/QxTextField.h"
#include "gui/SkinImages.h"
#include "pages/OptionPageTestApi.h"

namespace {

const char* const kFont = "simsun";
constexpr std::uint32_t kButtonColour = 0x986800;
constexpr std::uint32_t kLabelColour = 0x999999;
constexpr std::uint32_t kDisabledColour = 0xB0B0B0;
constexpr int kEditChange = 0x0300;  // EN_CHANGE

void debugText(const std::string& text) { OutputDebugStringA(text.c_str()); }

bool systemFreeBytes(const std::string& root, std::uint64_t& bytes) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr))
    return false;
  bytes = available.QuadPart;
  return true;
}
OptionPageTestApi::FreeBytesQuery freeBytesQuery = systemFreeBytes;

// A standard stream's default formatting (up to six significant digits, no trailing zeros),
// without the stream machinery, which would outweigh the rest of the program.
std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// Gigabytes free on the volume of `root`, rounded half up to two decimals; 0 when the
// system cannot tell.
double freeGigabytes(const std::string& root) {
  std::uint64_t bytes = 0;
  if (!freeBytesQuery(root, bytes)) {
    debugText("获取磁盘大小失败，ErrorCode：" + std::to_string(GetLastError()));
    return 0.0;
  }
  const double gigabytes =
      std::trunc((static_cast<double>(bytes) * 9.313225746154785e-10 + 0.005) * 100.0) / 100.0;
  debugText("磁盘空间：" + root + " " + number(gigabytes));
  return gigabytes;
}

// A double quote is no part of any folder name, and it would end the path early on the
// payload's command line.
bool hasForbiddenCharacter(const std::string& path) {
  return path.find_first_of("/*?<>|\"") != std::string::npos;
}

struct BrowseState {
  HWND edit = nullptr;
};

// Keeps the dialog's edit box showing the folder under the selection.
int CALLBACK browseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
  auto* state = reinterpret_cast<BrowseState*>(data);
  if (message == BFFM_INITIALIZED) {
    state->edit = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, 0);
  } else if (message == BFFM_SELCHANGED && state->edit) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
      SetWindowTextW(state->edit, path);
  }
  return 0;
}

} // namespace

// --- the page record ---------------------------------------------------------------------

struct OptionPage::Impl : public QxActionListener {
  OptionPage* owner = nullptr;
  QxActionListener* controller = nullptr;
  QxTextField* availableLabel = nullptr;
  QxTextField* neededLabel = nullptr;
  QxTextField* warningLabel = nullptr;
  QxTextBox* pathBox = nullptr;
  QxTextButton* previousButton = nullptr;
  QxTextButton* nextButton = nullptr;
  QxTextButton* browseButton = nullptr;
  std::vector<QxCheckBox*> optionBoxes;  // index = option index of the configuration

  HWND mainWindow() const {
    auto* window = dynamic_cast<QxGUISPWnd*>(owner->root()->provider());
    return window ? window->hwnd() : nullptr;
  }

  void warn(const std::string& text) {
    warningLabel->setText(text, false, false);
    warningLabel->setVisible(true);
    nextButton->setState(QxButton::Disabled);
  }

  void checkPath();
  void browse();

  // QxActionListener
  void actionPerformed(const std::string& command) override {
    if (command == "btnBrowse")
      browse();
  }
};

// --- construction ------------------------------------------------------------------------

OptionPage::OptionPage(QxActionListener* listener, int width, int height)
    : Panel(0, width, height), pageImpl_(std::make_unique<Impl>()) {
  Impl& d = *pageImpl_;
  d.owner = this;
  d.controller = listener;
  InstallManager& manager = InstallManager::instance();
  const InstallConfig config = manager.getConfig();

  d.warningLabel = new QxTextField("warnings", 131, 169, 300, 20, 12, 0x0000FF,
                                   DrawItem::AlignLeft, DrawItem::AlignTop, kFont);
  d.pathBox = new QxTextBox(this, manager.getInstallPath());
  d.pathBox->setAccessibleName("安装路径");
  const auto button = [](int x, int y, const char* text) {
    const SkinImage& strip = skin::kButton;
    return new QxTextButton(x, y, strip.frameWidth(), strip.height, strip.name, text,
                            kButtonColour, 12, kFont);
  };
  d.browseButton = button(449, 187, "浏览");
  d.previousButton = button(473, 420, "上一步");
  d.nextButton = button(563, 420, "下一步");
  const int labelY = d.pathBox->y() + 40;
  d.neededLabel = new QxTextField("所需磁盘空间：" + number(config.neededSpace) + " MB",
                                  d.pathBox->x(), labelY, 160, 20, 12, kLabelColour,
                                  DrawItem::AlignLeft, DrawItem::AlignTop, kFont);
  const std::string drive = manager.getInstallPath().substr(0, 1) + ":";
  d.availableLabel =
      new QxTextField("可用磁盘空间：" + number(freeGigabytes(drive)) + " GB",
                      d.neededLabel->x() + 170, labelY, 140, 20, 12, kLabelColour,
                      DrawItem::AlignLeft, DrawItem::AlignTop, kFont);
  // A disabled "下一步" would otherwise look exactly like an enabled one.
  d.nextButton->setTextColors(kButtonColour, kButtonColour, kButtonColour, kDisabledColour);
  d.browseButton->setAction("btnBrowse", &d);
  d.previousButton->setAction("btnPrevious", listener);
  d.nextButton->setAction("btnNext", listener);
  d.warningLabel->setVisible(false);
  addChild(d.previousButton);
  addChild(d.nextButton);
  addChild(d.neededLabel);
  addChild(d.availableLabel);
  addChild(d.browseButton);
  addChild(d.warningLabel);

  // Two columns, the left one taking the odd option; both start under the space labels.
  const int count = static_cast<int>(config.options.size());
  const int leftCount = (count + 1) / 2;
  const int firstRow = labelY + d.neededLabel->height() + 10;
  int y = firstRow;
  for (int i = 0; i < count; ++i) {
    const InstallOption& option = config.options[static_cast<size_t>(i)];
    const bool left = i < leftCount;
    if (i == 0 || i == leftCount)
      y = firstRow;
    else
      y += 28;
    auto* box = new QxCheckBox(d.pathBox->x() + (left ? 0 : 200), y, option.name, option.desc);
    if (option.checked)
      box->setChecked(true);
    box->setAction(option.name, &d);
    d.optionBoxes.push_back(box);
    addChild(box);
  }
  update();
}

OptionPage::~OptionPage() = default;

void OptionPage::setVisible(bool visible) {
  Panel::setVisible(visible);
  // The edit box is a real child window: it does not follow the drawn tree by itself.
  pageImpl_->pathBox->setVisible(visible);
}

// --- path check --------------------------------------------------------------------------

void OptionPage::onEditNotify(int code, HWND window) {
  Impl& d = *pageImpl_;
  if (!d.pathBox || code != kEditChange || !window || window != d.pathBox->editWindow())
    return;
  d.checkPath();
}

void OptionPage::Impl::checkPath() {
  const std::string text = pathBox->getText();
  if (text.empty())
    return;
  size_t sep = text.find('\\');
  if (sep == std::string::npos)
    sep = text.find('/');
  if (text.size() == 2)
    sep = 1;
  // Without a separator there is no drive part, and an empty one never exists.
  const std::string drive = sep == std::string::npos ? std::string() : text.substr(0, sep + 1);
  if (hasForbiddenCharacter(text) || drive.empty() || _access(drive.c_str(), 0) != 0) {
    warn("该目录为无效路径，请重新选择其他路径");
    owner->update();
    return;
  }
  InstallManager& manager = InstallManager::instance();
  const InstallConfig config = manager.getConfig();
  manager.setInstallPath(sep == 1 ? text + "\\" + config.installFolder : text);
  const double free = freeGigabytes(drive);
  if (config.neededSpace > free * 1024) {
    warn("可用磁盘空间不足，请重新选择其他路径");
  } else {
    nextButton->setState(QxButton::Normal);
    warningLabel->setVisible(false);
  }
  availableLabel->setText("可用磁盘空间：" + number(free) + "GB", false, false);
  owner->update();
}

// --- folder browser ----------------------------------------------------------------------

void OptionPage::Impl::browse() {
  BrowseState state;
  BROWSEINFOW info{};
  info.hwndOwner = mainWindow();
  info.lpszTitle = L"选择文件夹:";
  info.ulFlags = 0x57;  // file-system folders, not below the domain, status, edit box, new style
  info.lpfn = browseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&state);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen)
    return;
  wchar_t buffer[MAX_PATH] = {};
  const bool named = SHGetPathFromIDListW(chosen, buffer) && buffer[0];
  CoTaskMemFree(chosen);
  if (!named)
    return;
  InstallManager& manager = InstallManager::instance();
  manager.setInstallPath(pathInFolder(wideToGbk(buffer), manager.getConfig().installFolder));
  // The box's change notification then checks the new path.
  pathBox->setText(manager.getInstallPath());
}

// --- options and tasks -------------------------------------------------------------------

void OptionPage::resetOptions() {
  const InstallConfig config = InstallManager::instance().getConfig();
  for (size_t i = 0; i < pageImpl_->optionBoxes.size() && i < config.options.size(); ++i)
    pageImpl_->optionBoxes[i]->setChecked(config.options[i].checked);
}

void OptionPage::applyOptions() {
  InstallManager& manager = InstallManager::instance();
  const InstallConfig config = manager.getConfig();
  for (size_t i = 0; i < pageImpl_->optionBoxes.size() && i < config.options.size(); ++i) {
    if (config.options[i].type != "option")
      continue;
    QxCheckBox* box = pageImpl_->optionBoxes[i];
    manager.addOption(box->getKey(), box->isChecked());
  }
}

void OptionPage::applyTasks() {
  InstallManager& manager = InstallManager::instance();
  const InstallConfig config = manager.getConfig();
  std::string tasks = "/MERGETASKS=\"";
  for (size_t i = 0; i < pageImpl_->optionBoxes.size() && i < config.options.size(); ++i) {
    const InstallOption& option = config.options[i];
    if (option.type != "task")
      continue;
    tasks += (pageImpl_->optionBoxes[i]->isChecked() ? "" : "!") + option.name + ",";
  }
  tasks += config.runAfterInstall ? "runafterinstall" : "!runafterinstall";
  manager.setExtraArguments(manager.getExtraArguments() + " " + tasks + "\"");
}

// --- test view ---------------------------------------------------------------------------
// Built only into trees with tests: the product carries no test hooks.
#ifdef QX_TEST_HOOKS
QxTextBox* OptionPageTestApi::pathBox(const OptionPage& page) { return page.pageImpl_->pathBox; }
std::string OptionPageTestApi::status(const OptionPage& page) {
  const OptionPage::Impl& d = *page.pageImpl_;
  const std::string warning = d.warningLabel->isVisible() ? d.warningLabel->text() + " | " : "";
  return d.neededLabel->text() + " | " + d.availableLabel->text() + " | " + warning + "next " +
         std::to_string(d.nextButton->state());
}
std::vector<QxCheckBox*> OptionPageTestApi::optionBoxes(const OptionPage& page) {
  return page.pageImpl_->optionBoxes;
}
void OptionPageTestApi::setFreeBytesQuery(FreeBytesQuery query) {
  freeBytesQuery = query ? query : systemFreeBytes;
}
#endif
