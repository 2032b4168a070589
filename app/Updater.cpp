// Sections: implementation record; construction; buttons and the flow; events; window
// messages; download start and free space; download end and digest check; the package's
// signer; install start; restart; destruction.
#include "app/Updater.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "app/CacheFolder.h"
#include "app/HeldPackage.h"
#include "app/InstallManager.h"
#include "app/SelfRestart.h"
#include "app/SignatureCheck.h"
#include "app/SignerPolicy.h"
#include "app/Startup.h"
#include "app/SupportLog.h"
#include "download/AsyncWinHttp.h"
#include "download/TransferText.h"
#include "gui/GbkText.h"
#include "gui/Panel.h"
#include "gui/QxActionListener.h"
#include "gui/QxButton.h"
#include "gui/StepsPanel.h"
#include "gui/Timer.h"
#include "pages/FinishPage.h"
#include "pages/InstallPage.h"
#include "pages/OptionPage.h"
#include "pages/WelcomePage.h"
#include "pages/WizardPages.h"
#include "script/LuaScript.h"
#include "script/NotifyRecord.h"

namespace {

constexpr UINT kInstallProgressMessage = 6365;
constexpr UINT kDownloadProgressMessage = 6366;
constexpr UINT kDownloadDoneMessage = 6367;
// Progress is painted at most this often and at least this often while it flows.
constexpr DWORD kProgressPeriodMs = 25;
// The download's and the check's progress are painted at most this often: a bar that moves
// a pixel or two and a speed to read need no more, and every paint costs the window's
// thread, the Wine server and the display a share of the two cores that the transfer and
// its digest keep busy.
constexpr DWORD kTransferPaintMs = 100;
// The query starts from this message, posted by the click after its repaint: the window
// answers what came in meanwhile between the two.
constexpr UINT kBeginFlowMessage = WM_APP + 69;
// The cache folder and the download start from this message, posted by the query's answer:
// the window answers between the script's step and the disk's work.
constexpr UINT kPrepareDownloadMessage = WM_APP + 70;
// And the transfer starts from this one, posted once the folder and the free space are right.
constexpr UINT kStartDownloadMessage = WM_APP + 71;
// Room left on the download drive beyond the package, for the system and the install.
constexpr std::int64_t kSpareBytes = 64ll << 20;

std::wstring widen(const std::string& text) {
  if (text.empty())
    return {};
  const int length = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string narrow(const std::wstring& text) {
  if (text.empty())
    return {};
  const int length = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
  return bytes;
}

std::wstring lowercase(std::wstring text) {
  for (wchar_t& c : text)
    if (c < 128)
      c = static_cast<wchar_t>(std::tolower(c));
  return text;
}

// The visible button that sends `command`, searched below `widget`.
QxButton* findButton(QxWidget* widget, const std::string& command) {
  auto* button = dynamic_cast<QxButton*>(widget);
  if (button && button->actionCommand() == command)
    return button;
  for (int i = 0; i < widget->childCount(); ++i)
    if (QxButton* found = findButton(widget->child(i), command))
      return found;
  return nullptr;
}

} // namespace

struct Updater::Impl : public QxActionListener, public EventListener {
  Updater* owner = nullptr;
  WelcomePage* welcomePage = nullptr;
  OptionPage* optionPage = nullptr;
  InstallPage* installPage = nullptr;
  FinishPage* finishPage = nullptr;
  StepsPanel* stepsPanel = nullptr;
  Panel* overlay = nullptr;
  Timer extractTimer{"extractTimer"};
  Timer progressTimer{"progressTimer"};
  Timer verifyTimer{"verifyTimer"};
  std::int64_t progressDone = 0;
  std::int64_t progressTotal = 0;
  bool progressReconnecting = false;
  DWORD progressPaintedAt = 0;
  int installMode = 1;
  // An Enter counts only when its key went down in this window or its path box: the
  // release of an Enter that closed a dialog or a message box lands here too.
  bool enterDown = false;
  std::wstring packageUrl;
  std::string announcedUrl;
  std::string announcedMd5;
  // After a wrong digest with bytes from mirrors: the one more try asks the announced
  // address alone.
  bool announcedOnly = false;
  // The query's answer is taken and its download is being prepared: a second answer is
  // left alone, as it was once the download had started.
  bool answerTaken = false;
  std::wstring packageMd5;
  std::int64_t packageSize = 0;
  std::wstring packagePath;
  std::unique_ptr<AsyncWinHttp> downloader;
  // The package from the start of its check until the payload runs; the check reads it.
  std::unique_ptr<HeldPackage> heldPackage;
  std::unique_ptr<SignatureCheck> signatureCheck;
  bool checkingDigest = false;
  InstallConfig config;
  // When each stage began, for the log and the outcome report.
  ULONGLONG queryStart = 0;
  ULONGLONG downloadStart = 0;
  ULONGLONG verifyStart = 0;
  int payloadPercent = -1;

  explicit Impl(Updater* window);
  ~Impl() override;

  InstallManager& manager() { return InstallManager::instance(); }
  HWND window() const { return owner->hwnd(); }
  bool silent() { return manager().silentInstall(); }

  void buildPages();
  void beginFlow();
  void silentStart();
  void showInstallPage(int mode);
  void onNotify(const NotifyRecord& record);
  void prepareDownload();
  std::string targetInstallPath();
  bool enoughSpaceFor(const std::wstring& folder, std::int64_t missing);
  void showDownloadProgress();
  void progressArrived();
  void paintProgress();
  void onDownloadDone();
  void startDownload();
  void checkDigest();
  void fetchFromAnnouncedAlone(const std::wstring& computed);
  void checkHeldPackage(bool digest);
  void onPackageChecked();
  void refuseDamaged(const std::wstring& computed);
  void startInstall(int mode);
  void restartSelf();
  void onEnter();
  void repaint() {
    owner->paint();
    owner->update();
  }
  bool buttonEnabled(QxWidget* page, const std::string& command) {
    QxButton* button = findButton(page, command);
    return button && button->state() != QxButton::Disabled;
  }

  // QxActionListener
  void actionPerformed(const std::string& command) override;
  // EventListener
  void onEvent(const char* eventName, const char* type, EventArg arg1, EventArg arg2) override;
};

// --- construction ----------------------------------------------------------------------

Updater::Updater(const std::string& installName) : StandardWidget(installName + "安装") {
  impl_ = std::make_unique<Impl>(this);
  if (impl_->config.silentInstall) {
    InstallManager::instance().setSilentInstall(true);
    setVisible(false);
    if (hwnd())
      ShowWindow(hwnd(), SW_HIDE);
  }
  createWindow();
  if (!hwnd()) {
    // Every report of the query, the download and the payload comes as a message to this
    // window: without it the run would wait for them forever.
    SupportLog::failure("start", "the installer's window could not be created");
    finishRun(1);
    ExitProcess(1);
  }
  if (impl_->config.silentInstall)
    impl_->silentStart();
}

Updater::Impl::Impl(Updater* window) : owner(window), config(InstallManager::instance().getConfig()) {
  installMode = 1;
  buildPages();
  extractTimer.connect(this);
  progressTimer.connect(this);
  verifyTimer.connect(this);
  manager().event().connect(this);
}

void Updater::Impl::buildPages() {
  if (config.installerInRes) {
    OutputDebugStringA("extracting start...");
    manager().extractSetup();
  }
  const WizardPages pages = WizardPages::build(*owner, this, config);
  welcomePage = pages.welcome;
  optionPage = pages.option;
  installPage = pages.install;
  finishPage = pages.finish;
  stepsPanel = pages.steps;
  overlay = pages.overlay;
}

void Updater::show() {
  if (isVisible())
    StandardWidget::show();
}

// --- buttons and the flow --------------------------------------------------------------

void Updater::Impl::showInstallPage(int mode) {
  installPage->setVisible(true);
  installPage->startCarousel(config.carouselTime);
  stepsPanel->moveStep(1);
  repaint();
  installMode = mode;
  if (!PostMessageA(window(), kBeginFlowMessage, 0, 0))
    beginFlow();
}

void Updater::Impl::actionPerformed(const std::string& command) {
  if (command == "btnOneKeyInstall") {
    welcomePage->setVisible(false);
    showInstallPage(1);
  } else if (command == "btnCustomInstall") {
    welcomePage->setVisible(false);
    optionPage->setVisible(true);
    repaint();
  } else if (command == "btnPrevious") {
    optionPage->setVisible(false);
    optionPage->resetOptions();
    welcomePage->setVisible(true);
    if (stepsPanel->currentStep() > 0)
      stepsPanel->moveStep(-1);
    repaint();
  } else if (command == "btnNext") {
    optionPage->setVisible(false);
    showInstallPage(2);
  }
}

void Updater::Impl::beginFlow() {
  manager().setStage(0);
  if (config.installerInRes) {
    extractTimer.start(100);
    return;
  }
  if (manager().stage() == 0) {
    manager().setStage(1);
    SupportLog::facts().stage = "query";
    queryStart = GetTickCount64();
    LuaScript::instance().event().connect(this);
    LuaScript::instance().run();
  }
}

void Updater::Impl::silentStart() {
  // Without an embedded package a silent run does the web install itself.
  if (!config.installerInRes) {
    beginFlow();
    return;
  }
  if (InstallManager::extractionState() == 1)
    startInstall(installMode);
  else
    extractTimer.start(100);
}

// --- events ----------------------------------------------------------------------------

void Updater::Impl::onEvent(const char* eventName, const char* type, EventArg arg1, EventArg) {
  const std::string source = eventName;
  const std::string kind = type;
  if (source == "extractTimer" && kind == "timeout") {
    const int state = InstallManager::extractionState();
    if (state == 0)
      return;
    extractTimer.stop();
    if (state == 1) {
      startInstall(installMode);
      return;
    }
    SupportLog::failure("extract", "the embedded package could not be written to the temporary folder");
    MessageBoxW(window(), L"无法提取安装包", L"提示", MB_ICONERROR);
    PostMessageA(window(), WM_QUIT, 101, 0);
  } else if (source == "LuaScript" && kind == "EVENT_NOTIFY") {
    if (manager().stage() == 1 && !answerTaken && arg1)
      onNotify(*reinterpret_cast<const NotifyRecord*>(arg1));
  } else if (source == "progressTimer" && kind == "timeout") {
    paintProgress();
  } else if (source == "verifyTimer" && kind == "timeout") {
    if (downloader)
      installPage->setProgress(downloader->total(), downloader->hashedBytes());
  } else if (source == "InstallManager" && kind == "EVENT_INSTALL_COMPLETE") {
    progressTimer.stop();
    installPage->stopTimers();
    installPage->setVisible(false);
    finishPage->setVisible(true);
    stepsPanel->moveStep(1);
    // Nothing runs any more: the frame may close again (after its question).
    owner->setCloseEnabled(true);
    repaint();
  }
}

void Updater::Impl::onNotify(const NotifyRecord& record) {
  auto text = [](const char* value) { return std::string(value ? value : ""); };
  const std::string url = text(record.url);
  const std::string md5 = text(record.md5);
  SupportLog::facts().queryMs = static_cast<std::int64_t>(GetTickCount64() - queryStart);
  if (url.empty()) {
    manager().setStage(2);
    // The host's own reason (a timeout, a script that ended) is the better cause.
    const std::string answer = SupportLog::serverAnswer();
    if (SupportLog::cause().empty())
      SupportLog::failure("query", "the update server offered no package" +
                                       (answer.empty() ? std::string(" (see the query lines above)")
                                                       : ", its answer: " + answer));
    MessageBoxW(window(), L"服务器出错了！请稍后再试。", L"提示", MB_ICONINFORMATION);
    restartSelf();
    return;
  }
  packageUrl = widen(url);
  announcedUrl = url;
  announcedMd5 = md5;
  packageMd5 = widen(md5);
  // A size that is no plain decimal count is taken as unknown.
  packageSize = 0;
  parseByteCount(text(record.size), packageSize);
  manager().setVersion(text(record.version));
  SupportLog::facts().gameVersion = text(record.version);
  SupportLog::writef("query", "answer after %lld ms: version %s, url %s, size %s, digest %s",
                     static_cast<long long>(SupportLog::facts().queryMs), text(record.version).c_str(), url.c_str(),
                     text(record.size).c_str(), md5.c_str());
  answerTaken = true;
  if (!PostMessageA(window(), kPrepareDownloadMessage, 0, 0))
    prepareDownload();
}

void Updater::Impl::prepareDownload() {
  // The package goes to the drive it will be installed on, into a folder that only
  // administrators may write; a drive that keeps no ACLs cannot have one, so there it goes
  // to the system's data folder.
  const std::string installPath = targetInstallPath();
  const std::string fallback = manager().getDefaultInstallPath();
  auto isDrive = [](const std::string& path) {
    return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
  };
  const char drive = isDrive(installPath) ? installPath[0] : isDrive(fallback) ? fallback[0] : 'C';
  const std::wstring driveRoot = widen(std::string(1, drive) + ":\\");
  const std::wstring base = CacheFolder::keepsAcls(driveRoot) ? driveRoot : CacheFolder::programData();
  std::wstring folder;
  bool reused = false;
  if (!CacheFolder::prepare(base + L"vantorsetup", folder, reused)) {
    SupportLog::failure("download", "no cache folder could be made under " + SupportLog::utf8(base));
    MessageBoxW(window(), L"网络出现了问题！请再试一次。", L"出错了", MB_ICONINFORMATION);
    restartSelf();
    return;
  }
  packagePath = folder + L"setup.exe";
  // Only a folder of the installer's own may hold a part to continue; a fresh one is empty.
  const std::int64_t onDisk = reused ? AsyncWinHttp::continuableBytes(packagePath, packageSize, announcedMd5) : 0;
  // Checked before anything is written: a full drive would otherwise fail the download
  // as a network problem, again at every start.
  SupportLog::writef("download", "cache folder %s%s, %lld bytes of the package already there",
                     SupportLog::utf8(folder).c_str(), reused ? "" : " (new)", static_cast<long long>(onDisk));
  if (!enoughSpaceFor(folder.substr(0, 3), packageSize - onDisk)) {
    SupportLog::failure("download", std::string("not enough free space on drive ") + drive + ": for the package");
    if (!reused)
      RemoveDirectoryW(folder.c_str());
    MessageBoxW(window(), L"磁盘空间不足，请清理磁盘或选择其他安装目录后再试。", L"提示", MB_ICONWARNING);
    restartSelf();
    return;
  }
  manager().setSetupDir(narrow(folder));
  // A package complete from an earlier run is checked as it lies, through the handle
  // that then starts it.
  const bool complete = packageSize > 0 && onDisk == packageSize &&
                        GetFileAttributesW((packagePath + L".parts").c_str()) == INVALID_FILE_ATTRIBUTES;
  if (complete) {
    heldPackage = HeldPackage::open(packagePath);
    if (heldPackage) {
      manager().setStage(4);
      installPage->setProgress(packageSize, packageSize);
      checkHeldPackage(true);
      return;
    }
  }

  if (!PostMessageA(window(), kStartDownloadMessage, 0, 0))
    startDownload();
}

void Updater::Impl::startDownload() {
  manager().setStage(3);
  SupportLog::facts().stage = "download";
  downloadStart = GetTickCount64();
  downloader = std::make_unique<AsyncWinHttp>();
  downloader->init(AsyncWinHttp::postToWindow, window());
  downloader->setConnections(config.downloadConnections);
  std::vector<std::wstring> mirrors;
  for (const std::string& base : announcedOnly ? std::vector<std::string>() : config.packageMirrors) {
    const std::string address = mirrorAddress(base, announcedUrl);
    if (!address.empty())
      mirrors.push_back(widen(address));
  }
  downloader->setMirrors(mirrors);
  downloader->download(packageUrl, packagePath, packageSize, announcedMd5);
}

// The install path this run is going to: the chosen one in a custom install, the
// default one in a one-key install, a caller's own in either.
std::string Updater::Impl::targetInstallPath() { return manager().installPathFor(installMode); }

// Whether the drive of `root` has room for `missing` more bytes and a margin; a drive
// whose free space cannot be read has none.
bool Updater::Impl::enoughSpaceFor(const std::wstring& root, std::int64_t missing) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) {
    SupportLog::writef("download", "the free space of %s cannot be read (error %lu)", SupportLog::utf8(root).c_str(),
                       GetLastError());
    return false;
  }
  const std::uint64_t needed = static_cast<std::uint64_t>(std::max<std::int64_t>(missing, 0) + kSpareBytes);
  SupportLog::writef("download", "free space on %s: %llu MB found, %llu MB needed", SupportLog::utf8(root).c_str(),
                     static_cast<unsigned long long>(available.QuadPart >> 20),
                     static_cast<unsigned long long>(needed >> 20));
  return available.QuadPart >= needed;
}

// --- window messages -------------------------------------------------------------------

LRESULT Updater::onWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  Impl& impl = *impl_;
  switch (message) {
  case kInstallProgressMessage:
    impl.progressDone = static_cast<unsigned>(wParam);
    impl.progressTotal = static_cast<unsigned>(lParam);
    if (impl.progressTotal > 0) {
      const int percent = static_cast<int>(std::min<std::int64_t>(impl.progressDone * 100 / impl.progressTotal, 100));
      if (percent != impl.payloadPercent) {
        impl.payloadPercent = percent;
        SupportLog::writef("payload", "progress %d%%", percent);
      }
    }
    impl.progressArrived();
    if (HWND notify = InstallManager::instance().notifyWindow())
      PostMessageA(notify, kInstallProgressMessage, wParam, lParam);
    break;
  case kDownloadProgressMessage:
    impl.showDownloadProgress();
    break;
  case kDownloadDoneMessage:
    impl.onDownloadDone();
    break;
  case kBeginFlowMessage:
    impl.beginFlow();
    break;
  case kStartDownloadMessage:
    if (InstallManager::instance().stage() == 1 && impl.answerTaken && !impl.downloader)
      impl.startDownload();
    break;
  case kPrepareDownloadMessage:
    if (InstallManager::instance().stage() == 1 && impl.answerTaken)
      impl.prepareDownload();
    break;
  case AsyncWinHttp::kDigestMessage:
    if (InstallManager::instance().stage() == 4 && !impl.signatureCheck)
      impl.checkDigest();
    break;
  case SignatureCheck::kDoneMessage:
    if (impl.signatureCheck)
      impl.onPackageChecked();
    break;
  case WM_KEYDOWN:
    if (wParam == VK_RETURN)
      impl.enterDown = true;
    break;
  case WM_KEYUP:
    if (wParam == VK_RETURN && impl.enterDown) {
      impl.enterDown = false;
      impl.onEnter();
    }
    break;
  case WM_COMMAND:
    if (impl.optionPage)
      impl.optionPage->onEditNotify(HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    break;
  case WM_GETMINMAXINFO: {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = width();
    info->ptMinTrackSize.y = height();
    break;
  }
  default:
    break;
  }
  return StandardWidget::onWindowMessage(message, wParam, lParam, handled);
}

// Enter acts as the page's button would, so not while that button is disabled.
void Updater::Impl::onEnter() {
  if (welcomePage->isVisible()) {
    if (buttonEnabled(welcomePage, "btnOneKeyInstall"))
      actionPerformed("btnOneKeyInstall");
  } else if (optionPage->isVisible()) {
    if (buttonEnabled(optionPage, "btnNext"))
      actionPerformed("btnNext");
  }
}

// The keyboard focus may rest in a child window (the path box) rather than the frame;
// Enter there is Enter on the page too.
bool Updater::preTranslateMessage(MSG* msg) {
  if (msg->wParam == VK_RETURN && msg->hwnd != hwnd() && IsChild(hwnd(), msg->hwnd)) {
    if (msg->message == WM_KEYDOWN) {
      impl_->enterDown = true;
    } else if (msg->message == WM_KEYUP && impl_->enterDown) {
      impl_->enterDown = false;
      impl_->onEnter();
    }
  }
  return StandardWidget::preTranslateMessage(msg);
}

// --- download end and digest check -----------------------------------------------------

// The counts come from the downloader itself: the messages' parameters are 32 bits and
// in units of 1000 bytes above 10^9 bytes, for the programs that know only them.
void Updater::Impl::showDownloadProgress() {
  if (!downloader || manager().stage() != 3)
    return;
  progressDone = downloader->downloaded();
  progressTotal = downloader->total();
  progressReconnecting = downloader->reconnecting();
  // The downloader's own messages come at the pace of the data, and the queue empties
  // between them: the page follows from the timer, so it never delays an answer.
  if (!progressTimer.isActive()) {
    const DWORD since = GetTickCount() - progressPaintedAt;
    progressTimer.start(since >= kTransferPaintMs ? 16 : std::max<DWORD>(16, kTransferPaintMs - since));
  }
}

// The payload may post its progress as fast as it likes: a flood keeps the queue from
// ever being empty, and a timer fires only when it is. So while its values keep coming
// they are painted from here, once a period, and the timer paints only a burst's last.
void Updater::Impl::progressArrived() {
  if (GetTickCount() - progressPaintedAt >= kProgressPeriodMs)
    paintProgress();
  else if (!progressTimer.isActive())
    progressTimer.start(kProgressPeriodMs);
}

void Updater::Impl::paintProgress() {
  progressTimer.stop();
  progressPaintedAt = GetTickCount();
  installPage->setReconnecting(progressReconnecting);
  installPage->setProgress(progressTotal, progressDone);
}

void Updater::Impl::onDownloadDone() {
  const std::int64_t received = downloader ? downloader->downloaded() : 0;
  const std::int64_t total = downloader ? downloader->total() : 0;
  SupportLog::facts().downloadMs = static_cast<std::int64_t>(GetTickCount64() - downloadStart);
  SupportLog::facts().bytes = received;
  if (downloader)
    SupportLog::facts().sourceBytes = downloader->sourceBytes();
  if (received != total || total == 0) {
    const std::wstring why = downloader ? downloader->failureText() : std::wstring();
    SupportLog::failure("download", "the download failed: " +
                                        (why.empty() ? std::string("the transfer ended before the package was complete")
                                                     : SupportLog::utf8(why)));
    MessageBoxW(window(), L"网络出现了问题！请再试一次。", L"出错了", MB_ICONINFORMATION);
    restartSelf();
    return;
  }
  if (manager().stage() != 3) {
    SupportLog::writef("download", "the transfer's end came at stage %d and is left alone", manager().stage());
    return;
  }
  progressTimer.stop();
  SupportLog::writef("download", "complete: %lld bytes in %.1f s", static_cast<long long>(total),
                     static_cast<double>(SupportLog::facts().downloadMs) / 1000.0);
  SupportLog::facts().stage = "verify";
  verifyStart = GetTickCount64();
  if (downloader->digestReady() || downloader->digestFailed()) {
    checkDigest();
    return;
  }
  // The digest's thread is still reading the package (a package complete from an
  // earlier run, or a disk slower than the line): the page shows how far it is.
  manager().setStage(4);
  installPage->setProgress(total, downloader->hashedBytes());
  verifyTimer.start(kTransferPaintMs);
}

void Updater::Impl::checkDigest() {
  verifyTimer.stop();
  if (downloader->digestFailed()) {
    // The package could not be read back: a disk error, told as a failed write is. The
    // file may well be right, so it stays for the next run to verify.
    SupportLog::failure("verify", "the package could not be read back from the disk");
    MessageBoxW(window(), L"网络出现了问题！请再试一次。", L"出错了", MB_ICONINFORMATION);
    restartSelf();
    return;
  }
  const std::wstring computed = lowercase(widen(downloader->digest()));
  SupportLog::facts().verifyMs = static_cast<std::int64_t>(GetTickCount64() - verifyStart);
  SupportLog::writef("verify", "MD5 expected %s, found %s, %lld ms after the download", narrow(packageMd5).c_str(),
                     narrow(computed).c_str(), static_cast<long long>(SupportLog::facts().verifyMs));
  // Servers announce digests in either case; only the digits matter.
  if (computed != lowercase(packageMd5)) {
    if (!announcedOnly && downloader->fromMirrors())
      return fetchFromAnnouncedAlone(computed);
    refuseDamaged(computed);
  }
  // The downloader has let go of the file; from here on this handle keeps it as checked.
  heldPackage = HeldPackage::open(packagePath);
  if (!heldPackage)
    refuseDamaged(computed);
  checkHeldPackage(false);
}

// A mirror may hold another file than the announced one under the same name and size;
// the player's install must not pay for it.
void Updater::Impl::fetchFromAnnouncedAlone(const std::wstring& computed) {
  SupportLog::writef("verify", "MD5 %s is wrong after bytes from mirrors: the whole package comes again from %s alone",
                     narrow(computed).c_str(), announcedUrl.c_str());
  downloader.reset();
  DeleteFileW(packagePath.c_str());
  DeleteFileW((packagePath + L".info").c_str());
  DeleteFileW((packagePath + L".parts").c_str());
  announcedOnly = true;
  installPage->setProgress(packageSize, 0);
  startDownload();
}

void Updater::Impl::refuseDamaged(const std::wstring& computed) {
  SupportLog::failure("verify", "the package is damaged: its MD5 is " + narrow(computed) + ", the server announced " +
                                    narrow(packageMd5));
  heldPackage.reset();
  DeleteFileW(packagePath.c_str());
  DeleteFileW((packagePath + L".info").c_str());
  const std::wstring text = std::wstring(L"下载的文件损坏了！请重新打开安装程序，再试一次。") +
                            L"\r\n Hash expected = " + packageMd5 + L"\r\n Hash caled    = " + computed +
                            L"\r\n url = " + packageUrl;
  MessageBoxW(window(), text.c_str(), L"出错了", MB_ICONERROR);
  finishRun(1);
  ExitProcess(1);
}

// The held package's digest (when no download computed it) and signature (when the build
// names its signers) are read on a thread; without either, it starts right away.
void Updater::Impl::checkHeldPackage(bool digest) {
  checkingDigest = digest;
  if (digest || !config.packageSigners.empty()) {
    // The page keeps saying it verifies the package while the system reads it.
    manager().setStage(4);
    const std::int64_t total = downloader ? downloader->total() : packageSize;
    installPage->setProgress(total, total);
    signatureCheck = std::make_unique<SignatureCheck>(window(), *heldPackage, digest, !config.packageSigners.empty());
    return;
  }
  OutputDebugStringA("packageSigners is not configured: the package's signer is not checked");
  SupportLog::write("verify", "signature not checked: the build names no packageSigners");
  manager().setStage(5);
  progressDone = 0;
  progressTotal = 100;
  startInstall(installMode);
}

// --- the package's signer ------------------------------------------------------------

// The package runs with the installer's administrator rights, and its digest proves only
// that the bytes are the ones the update server announced. So when the build names its
// publisher's certificates, only a package signed by one of them runs.
void Updater::Impl::onPackageChecked() {
  const std::wstring computed = lowercase(widen(signatureCheck->md5()));
  const PackageSignature signature = signatureCheck->verdict();
  signatureCheck.reset();
  if (checkingDigest && computed != lowercase(packageMd5))
    refuseDamaged(computed);
  const SignerPolicy policy(config.packageSigners);
  SupportLog::writef("verify", "signature status 0x%08lx, signer %s",
                     static_cast<unsigned long>(signature.trustStatus()),
                     signature.signerFingerprint().empty() ? "none" : signature.signerFingerprint().c_str());
  if (config.packageSigners.empty() ||
      policy.judge(signature.trustStatus(), signature.signerFingerprint()) == SignerPolicy::Verdict::Accepted) {
    manager().setStage(5);
    progressDone = 0;
    progressTotal = 100;
    startInstall(installMode);
    return;
  }
  char line[160];
  std::snprintf(line, sizeof line, "package refused: signature status 0x%08lx, signer %s",
                static_cast<unsigned long>(signature.trustStatus()),
                signature.signerFingerprint().empty() ? "none" : signature.signerFingerprint().c_str());
  OutputDebugStringA(line);
  SupportLog::failure("verify", line);
  heldPackage.reset();
  DeleteFileW(packagePath.c_str());
  DeleteFileW((packagePath + L".info").c_str());
  MessageBoxW(window(), L"安装包的数字签名无效，已停止安装。请从官方网站重新下载安装程序。", L"出错了", MB_ICONERROR);
  PostMessageA(window(), WM_QUIT, 105, 0);
}

// --- install start ---------------------------------------------------------------------

void Updater::Impl::startInstall(int mode) {
  const std::string title = owner->title() + std::to_string(reinterpret_cast<std::uintptr_t>(this));
  SetWindowTextW(window(), gbkToWide(title).c_str());
  optionPage->applyOptions();
  optionPage->applyTasks();
  owner->setCloseEnabled(false);
  if (verifyStart)
    SupportLog::facts().verifyMs = static_cast<std::int64_t>(GetTickCount64() - verifyStart);
  if (heldPackage)
    manager().holdPackage(std::move(heldPackage));
  if (!manager().runSetup(title, mode)) {
    MessageBoxW(window(), L"正在安装中...", L"提示", MB_ICONERROR);
    owner->setCloseEnabled(true);
    PostMessageA(window(), WM_QUIT, 102, 0);
  }
}

// --- restart ---------------------------------------------------------------------------

void Updater::Impl::restartSelf() {
  finishRun(1);
  // A silent run has nobody to start over for: it ends with the failure code.
  if (silent())
    ExitProcess(1);
  // The same arguments: a parent program that named a window keeps its progress, a
  // caller's path and options stay.
  startNewCopy(ownArguments());
  ExitProcess(1);
}

// --- destruction -----------------------------------------------------------------------

Updater::Impl::~Impl() {
  if (downloader)
    downloader->cancel();
}

Updater::~Updater() { impl_.reset(); }
