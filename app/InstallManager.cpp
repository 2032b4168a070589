// Sections: drive probe and document source; construction; configuration and paths;
// work folder and extraction; payload run and exit poll; completion and clean-up.
#include "app/InstallManager.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <sys/stat.h>
#include <vector>

#include "app/CacheFolder.h"
#include "app/CommandLineOptions.h"
#include "app/ConfigDocument.h"
#include "app/DriveProbe.h"
#include "app/HeldPackage.h"
#include "app/InstallManagerTestApi.h"
#include "app/InstallPath.h"
#include "app/InstallPathChooser.h"
#include "app/SetupCommand.h"
#include "app/SupportLog.h"
#include "gui/GbkText.h"
#include "gui/ResourceModule.h"
#include "gui/Timer.h"

namespace {

const char* const kRegistryKey = "Software//qxvantor//install";
const char* const kRegistryValue = "installPath";
const WORD kResourceType = 1056;
// The embedded payload is written in pieces of this size.
constexpr DWORD kExtractChunk = 1024 * 1024;

std::atomic<int> extraction{0};

bool pathExists(const std::string& path) {
  struct _stat info;
  return _stat(path.c_str(), &info) == 0;
}

void debugText(const std::string& text) { OutputDebugStringA(text.c_str()); }

class WindowsDriveProbe : public DriveProbe {
public:
  uint32_t logicalDrives() override { return GetLogicalDrives(); }
  bool isFixedDrive(char letter) override {
    const std::string root = std::string(1, letter) + ":\\";
    return GetDriveTypeA(root.c_str()) == DRIVE_FIXED && pathExists(std::string(1, letter) + ":");
  }
  bool freeBytes(char letter, uint64_t& bytes) override {
    ULARGE_INTEGER available{};
    const std::string drive = std::string(1, letter) + ":";
    if (!GetDiskFreeSpaceExA(drive.c_str(), &available, nullptr, nullptr)) {
      debugText("获取磁盘大小失败，ErrorCode：" + std::to_string(GetLastError()));
      return false;
    }
    bytes = available.QuadPart;
    SupportLog::writef("path", "drive %c: has %llu MB free", letter, static_cast<unsigned long long>(bytes >> 20));
    return true;
  }
};

WindowsDriveProbe windowsDrives;
DriveProbe* driveProbe = &windowsDrives;

// Resource bytes of the branding's module; false when it is missing or unreadable.
bool readResource(const char* name, std::string& bytes) {
  HMODULE module = ResourceModule::get();
  HRSRC info = FindResourceA(module, name, MAKEINTRESOURCEA(kResourceType));
  if (!info)
    return false;
  HGLOBAL handle = LoadResource(module, info);
  if (!handle)
    return false;
  const void* data = LockResource(handle);
  if (!data) {
    FreeResource(handle);
    return false;
  }
  bytes.assign(static_cast<const char*>(data), SizeofResource(module, info));
  FreeResource(handle);
  return true;
}

bool resourceDocument(std::string& bytes) { return readResource("CONFIG.JSON", bytes); }

InstallManager::DocumentSource documentSource = resourceDocument;

struct ExtractionJob {
  std::string resourceName;
  std::string folder;
  std::string digest;
  std::unique_ptr<HeldPackage>* held;
};

// Writes a resource straight from the module's image in bounded pieces: a copy of a
// payload of some hundred megabytes would not fit a 32-bit process beside its image.
bool writeResource(const char* name, const std::string& path) {
  HRSRC info = FindResourceA(nullptr, name, MAKEINTRESOURCEA(kResourceType));
  HGLOBAL handle = info ? LoadResource(nullptr, info) : nullptr;
  const char* data = handle ? static_cast<const char*>(LockResource(handle)) : nullptr;
  const DWORD size = data ? SizeofResource(nullptr, info) : 0;
  bool ok = size > 0;
  if (ok) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = file != INVALID_HANDLE_VALUE;
    for (DWORD at = 0; ok && at < size;) {
      DWORD written = 0;
      ok = WriteFile(file, data + at, std::min(kExtractChunk, size - at), &written, nullptr) && written > 0;
      at += written;
    }
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      // Half a payload is no payload.
      if (!ok)
        DeleteFileA(path.c_str());
    }
  }
  if (handle)
    FreeResource(handle);
  return ok;
}

// The payload is started only as the build recorded it: what was written is read back
// through the handle that stays open until the payload runs.
DWORD WINAPI extractionThread(LPVOID parameter) {
  std::unique_ptr<ExtractionJob> job(static_cast<ExtractionJob*>(parameter));
  const std::string path = job->folder + job->resourceName;
  bool ok = !job->digest.empty() && writeResource(job->resourceName.c_str(), path);
  if (ok) {
    std::unique_ptr<HeldPackage> held = HeldPackage::open(gbkToWide(path));
    ok = held && held->sha256() == job->digest;
    if (ok)
      *job->held = std::move(held);
    else
      debugText("the extracted payload is not the one the build recorded");
  }
  extraction = ok ? 1 : 2;
  return 0;
}

// A payload that has just ended may hold its file a moment longer. Nothing is deleted
// through a junction or link.
void deleteSoon(const std::string& path) {
  if (CacheFolder::crossesReparsePoint(gbkToWide(path)))
    return;
  for (int attempt = 0; attempt < 10 && !DeleteFileA(path.c_str()); ++attempt) {
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
      return;
    Sleep(20);
  }
}

// Into the install folder, which others may be able to change: never through a junction
// or link, which would make the elevated installer overwrite a file elsewhere.
void writeSmallFile(const std::string& path, const std::string& text) {
  const std::wstring wide = gbkToWide(path);
  if (CacheFolder::crossesReparsePoint(wide))
    return;
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

#ifdef QX_TEST_HOOKS
// Tests that try to change the package while it is held: the installer says it holds
// it ("held.txt") and waits for their "go.txt" before it starts the package.
void pauseBeforeStart(const std::wstring& package) {
  wchar_t folder[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"QX_TEST_HOLD_FOLDER", folder, MAX_PATH))
    return;
  const std::wstring base = std::wstring(folder) + L"\\";
  HANDLE held = CreateFileW((base + L"held.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (held != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(held, package.data(), static_cast<DWORD>(package.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(held);
  }
  for (int i = 0; i < 600 && GetFileAttributesW((base + L"go.txt").c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(100);
}
#endif

} // namespace

struct InstallManager::Impl : public EventListener {
  InstallManager* owner = nullptr;
  std::string setupDir;
  std::string installPath;
  std::string defaultInstallPath;
  std::string extraArguments;
  InstallConfig config;
  PROCESS_INFORMATION processInfo{};
  ULONGLONG payloadStart = 0;
  Timer installCheckTimer{"installCheckTimer"};
  HWND notifyWindow = nullptr;
  int stage = 0;
  std::string version;
  // Every stamped work folder this process made.
  std::vector<std::string> workFolders;
  // The verified package, from its check until its process exists.
  std::unique_ptr<HeldPackage> held;

  Impl() { installCheckTimer.connect(this); }
  ~Impl() override {
    if (processInfo.hProcess)
      CloseHandle(processInfo.hProcess);
    if (processInfo.hThread)
      CloseHandle(processInfo.hThread);
  }

  bool determineInstallPaths(std::string& errorText);
  void onInstallComplete();
  void removeLeftovers();

  // EventListener
  void onEvent(const char* eventName, const char* type, EventArg, EventArg) override;
};

// --- construction ----------------------------------------------------------------------

InstallManager& InstallManager::instance() {
  static InstallManager* manager = new InstallManager();
  return *manager;
}

InstallManager::InstallManager() : impl_(std::make_unique<Impl>()) {
  impl_->owner = this;
  std::string errorText;
  if (!readConfig(errorText)) {
    const std::string text = "读取" + errorText + "出错。";
    SupportLog::failure("config", "the configuration cannot be read: " + SupportLog::fromGbk(text));
    MessageBoxW(nullptr, gbkToWide(text).c_str(), L"错误", MB_ICONERROR);
    PostQuitMessage(100);
  }
}

InstallManager::~InstallManager() = default;

Event& InstallManager::event() { return event_; }

#ifdef QX_TEST_HOOKS
void InstallManager::setDocumentSource(DocumentSource source) {
  documentSource = source ? source : resourceDocument;
}

void InstallManager::setDriveProbe(DriveProbe* probe) { driveProbe = probe ? probe : &windowsDrives; }
#endif

// --- configuration and paths -----------------------------------------------------------

bool InstallManager::readConfig(std::string& errorText) {
  debugText("reading config...");
  impl_->config = InstallConfig();
  std::string document;
  if (!documentSource(document)) {
    errorText = "配置文件config.json";
    return false;
  }
  if (!document.empty() && !readConfigDocument(document, impl_->config, errorText))
    return false;
  // Only a build that carries its package unpacks it into a work folder; a web install
  // downloads elsewhere and must not fail for want of a temporary folder.
  if (impl_->config.installerInRes && impl_->setupDir.empty() && !createWorkFolder(impl_->setupDir)) {
    errorText = "临时目录";
    return false;
  }
  return impl_->determineInstallPaths(errorText);
}

bool InstallManager::Impl::determineInstallPaths(std::string& errorText) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    std::string buffer(32767, '\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD type = 0;
    const LONG result = RegQueryValueExA(key, kRegistryValue, nullptr, &type,
                                         reinterpret_cast<BYTE*>(&buffer[0]), &size);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS) {
      defaultInstallPath = normaliseInstallPath(buffer.c_str());
      installPath = defaultInstallPath;
      SupportLog::write("path", "install path " + SupportLog::fromGbk(installPath) + " (from the registry: installed before)");
      return true;
    }
  }
  debugText("获取系统Program Files 目录...\r\n");
  char programFiles[261] = {};
  if (!SHGetSpecialFolderPathA(nullptr, programFiles, 0x26, FALSE)) {
    debugText("获取系统Program Files 目录失败。ErrorCode：" + std::to_string(GetLastError()));
    errorText = "系统Program Files目录";
    return false;
  }
  debugText(std::string("系统PF 目录：") + programFiles);
  const std::string root = chooseInstallRoot(programFiles, config.neededSpace, *driveProbe);
  defaultInstallPath = root + "\\" + config.installFolder;
  installPath = defaultInstallPath;
  SupportLog::writef("path", "install path %s (%s; %.0f MB needed)", SupportLog::fromGbk(installPath).c_str(),
                     root == programFiles ? "Program Files, whose drive has the most free space"
                                          : "Program Files' folder on the drive with the most free space",
                     config.neededSpace);
  return true;
}

InstallConfig InstallManager::getConfig() const { return impl_->config; }

void InstallManager::overridePaths(const std::string& path) {
  impl_->defaultInstallPath = normaliseInstallPath(path);
  impl_->installPath = impl_->defaultInstallPath;
  SupportLog::write("path", "install path " + SupportLog::fromGbk(impl_->installPath) + " (the caller's /path)");
}

void InstallManager::setInstallPath(const std::string& path) { impl_->installPath = normaliseInstallPath(path); }
std::string InstallManager::getInstallPath() const { return impl_->installPath; }
std::string InstallManager::getDefaultInstallPath() const { return impl_->defaultInstallPath; }
bool InstallManager::silentInstall() const { return impl_->config.silentInstall; }
void InstallManager::setSilentInstall(bool silent) { impl_->config.silentInstall = silent; }

void InstallManager::addOption(const std::string& name, bool flag) {
  impl_->extraArguments += "-" + name + " " + (flag ? "true" : "false") + " ";
}

std::string InstallManager::getExtraArguments() const { return impl_->extraArguments; }
void InstallManager::setExtraArguments(const std::string& text) { impl_->extraArguments = text; }
int InstallManager::stage() const { return impl_->stage; }
void InstallManager::setStage(int stage) { impl_->stage = stage; }
std::string InstallManager::version() const { return impl_->version; }
void InstallManager::setVersion(const std::string& version) { impl_->version = version; }
std::string InstallManager::setupDir() const { return impl_->setupDir; }
void InstallManager::setSetupDir(const std::string& folder) { impl_->setupDir = folder; }
HWND InstallManager::notifyWindow() const { return impl_->notifyWindow; }
void InstallManager::setNotifyWindow(HWND window) { impl_->notifyWindow = window; }

// --- work folder and extraction --------------------------------------------------------

bool InstallManager::createWorkFolder(std::string& folder) {
  wchar_t windows[MAX_PATH] = {};
  if (GetWindowsDirectoryW(windows, MAX_PATH) < 3)
    return false;
  std::wstring root(windows, 3);
  // As the download's cache: a drive without ACLs keeps it under the system's data folder.
  std::wstring cache;
  bool reused = false;
  if (!CacheFolder::prepare((CacheFolder::keepsAcls(root) ? root : CacheFolder::programData()) + L"vantorsetup",
                            cache, reused))
    return false;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t stamp[64];
  std::swprintf(stamp, 64, L"%u%u%u%u%u%u%u", unsigned{now.wYear}, unsigned{now.wMonth}, unsigned{now.wDay},
                unsigned{now.wHour}, unsigned{now.wMinute}, unsigned{now.wSecond}, unsigned{now.wMilliseconds});
  std::wstring made;
  if (!CacheFolder::makeFresh(cache, stamp, made)) {
    if (!reused)
      RemoveDirectoryW(cache.c_str());
    return false;
  }
  folder = wideToGbk(made);
  debugText(folder);
  impl_->workFolders.push_back(folder);
  return true;
}

int InstallManager::extractionState() { return extraction; }

void InstallManager::extractSetup() {
  extraction = 0;
  impl_->held.reset();
  // The folder the configuration's check made, unless a finished install removed it.
  if ((impl_->setupDir.empty() || !pathExists(impl_->setupDir)) && !createWorkFolder(impl_->setupDir)) {
    // The controller waits for a final state; without a folder there is nothing to wait for.
    extraction = 2;
    return;
  }
  // From the module that carries the payload, as the payload itself.
  std::string digest;
  HRSRC info = FindResourceA(nullptr, "SETUP.SHA256", MAKEINTRESOURCEA(kResourceType));
  HGLOBAL bytes = info ? LoadResource(nullptr, info) : nullptr;
  if (const char* data = bytes ? static_cast<const char*>(LockResource(bytes)) : nullptr)
    digest.assign(data, std::min<DWORD>(SizeofResource(nullptr, info), 64));
  auto* job = new ExtractionJob{"SETUP.EXE", impl_->setupDir, digest, &impl_->held};
  HANDLE thread = CreateThread(nullptr, 0, extractionThread, job, 0, nullptr);
  if (!thread) {
    delete job;
    extraction = 2;
    return;
  }
  CloseHandle(thread);
}

// --- payload run and exit poll ---------------------------------------------------------

std::string InstallManager::installPathFor(int mode) const {
  return installPathForRun(CommandLineOptions::get(), mode == 1 ? impl_->defaultInstallPath : impl_->installPath);
}

void InstallManager::holdPackage(std::unique_ptr<HeldPackage> package) { impl_->held = std::move(package); }

bool InstallManager::runSetup(const std::string& windowTitle, int mode) {
  // Started only as checked: by the file this handle holds, which nobody can change.
  if (!impl_->held)
    return false;
  SetupCommandInput input;
  input.setupDir = impl_->setupDir;
  input.options = CommandLineOptions::get();
  input.windowTitle = windowTitle;
  // From here on the install path is the one the payload is told: the registry value,
  // the channel files and the game start all follow it.
  impl_->installPath = installPathFor(mode);
  input.installPath = impl_->installPath;
  input.silent = impl_->config.silentInstall;
  input.extraArguments = impl_->extraArguments;
  std::string command = buildSetupCommand(input);
  debugText(command);

  if (impl_->processInfo.hProcess) {
    CloseHandle(impl_->processInfo.hProcess);
    CloseHandle(impl_->processInfo.hThread);
  }
  impl_->processInfo = PROCESS_INFORMATION{};
#ifdef QX_TEST_HOOKS
  pauseBeforeStart(impl_->held->path());
#endif
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &impl_->processInfo);
  SupportLog::write("payload", "command line: " + SupportLog::fromGbk(command));
  impl_->held.reset();
  // A payload that never started has no exit code to poll; the controller reports it.
  if (started) {
    impl_->payloadStart = GetTickCount64();
    SupportLog::facts().stage = "payload";
    SupportLog::writef("payload", "started, process id %lu", static_cast<unsigned long>(impl_->processInfo.dwProcessId));
    impl_->installCheckTimer.start(200);
  } else {
    SupportLog::failure("payload", "the payload could not be started (CreateProcess error " +
                                       std::to_string(GetLastError()) + ")");
  }
  return started;
}

void InstallManager::Impl::onEvent(const char*, const char* type, EventArg, EventArg) {
  if (std::string(type) != "timeout")
    return;
  DWORD code = 0;
  // A result that cannot be read is no success.
  const bool known = GetExitCodeProcess(processInfo.hProcess, &code);
  if (known && code == STILL_ACTIVE)
    return;
  installCheckTimer.stop();
  SupportLog::facts().payloadMs = static_cast<std::int64_t>(GetTickCount64() - payloadStart);
  SupportLog::writef("payload", "ended with exit code %lu after %.1f s", static_cast<unsigned long>(code),
                     static_cast<double>(SupportLog::facts().payloadMs) / 1000.0);
  if (known && code == 0) {
    onInstallComplete();
    return;
  }
  SupportLog::failure("payload", known ? "the payload failed with exit code " + std::to_string(code)
                                       : "the payload's exit code cannot be read");
  MessageBoxW(nullptr, L"安装失败，请检查安装包是否完整后重新安装。", L"出错", MB_ICONERROR);
  PostQuitMessage(103);
}

// --- completion and clean-up -------------------------------------------------------------

void InstallManager::Impl::onInstallComplete() {
  removeLeftovers();
  const std::string dataFolder = pathInFolder(installPath, "Vantor_Data\\StreamingAssets\\");
  if (!config.promoteChannel.empty())
    writeSmallFile(dataFolder + "channel.txt", config.promoteChannel);
  char moduleName[260] = {};
  if (GetModuleFileNameA(nullptr, moduleName, sizeof moduleName)) {
    const std::string code = spreaderCodeOf(moduleName);
    if (!code.empty())
      writeSmallFile(dataFolder + "spreader.txt", code);
  }

  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (key) {
    RegSetValueExA(key, kRegistryValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(installPath.c_str()),
                   static_cast<DWORD>(installPath.size() + 1));
    RegCloseKey(key);
  }
  SupportLog::write("payload", "installed into " + SupportLog::fromGbk(installPath));

  if (config.silentInstall) {
    PostQuitMessage(0);
    return;
  }
  owner->event_.raise("EVENT_INSTALL_COMPLETE", 0, 0);
}

// The payload installed the game: its package (downloaded or extracted), the download's
// side file and the work folders are of no more use. After a failure they stay, so the
// next attempt finds the verified package and asks for nothing.
void InstallManager::Impl::removeLeftovers() {
  if (!setupDir.empty()) {
    deleteSoon(setupDir + "setup.exe");
    deleteSoon(setupDir + "setup.exe.info");
    // The download folder goes when nothing else is in it.
    RemoveDirectoryA(setupDir.c_str());
  }
  for (const std::string& folder : workFolders) {
    deleteSoon(folder + "SETUP.EXE");
    RemoveDirectoryA(folder.c_str());
    // And the cache that held it, when nothing else is in it.
    const std::string cache = folder.substr(0, folder.find_last_of('\\', folder.size() - 2) + 1);
    RemoveDirectoryA(cache.c_str());
  }
  workFolders.clear();
}

#ifdef QX_TEST_HOOKS
void InstallManagerTestApi::forgetPayloadProcess() {
  PROCESS_INFORMATION& process = InstallManager::instance().impl_->processInfo;
  if (process.hProcess)
    CloseHandle(process.hProcess);
  process.hProcess = nullptr;
}
#endif
