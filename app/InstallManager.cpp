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

#include "app/CommandLineOptions.h"
#include "app/ConfigDocument.h"
#include "app/DriveProbe.h"
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

DWORD WINAPI extractionThread(LPVOID parameter) {
  std::unique_ptr<ExtractionJob> job(static_cast<ExtractionJob*>(parameter));
  extraction = writeResource(job->resourceName.c_str(), job->folder + job->resourceName) ? 1 : 2;
  return 0;
}

// A payload that has just ended may hold its file a moment longer.
void deleteSoon(const std::string& path) {
  for (int attempt = 0; attempt < 10 && !DeleteFileA(path.c_str()); ++attempt) {
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
      return;
    Sleep(20);
  }
}

void writeSmallFile(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file)
    return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

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
  std::string folder;
  if (impl_->config.installerInRes && !createWorkFolder(folder)) {
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
  const DWORD needed = GetTempPathA(0, nullptr);
  std::string temp(needed + 1, '\0');
  const DWORD length = needed ? GetTempPathA(needed + 1, &temp[0]) : 0;
  if (length == 0) {
    debugText("get tmp path failed");
    return false;
  }
  temp.resize(length);
  folder = temp + "Qx_Temp\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%u%u%u%u%u%u%u", unsigned{now.wYear}, unsigned{now.wMonth},
                unsigned{now.wDay}, unsigned{now.wHour}, unsigned{now.wMinute}, unsigned{now.wSecond},
                unsigned{now.wMilliseconds});
  folder += std::string(stamp) + "\\";
  const bool created = CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
  debugText(folder);
  if (created && std::find(impl_->workFolders.begin(), impl_->workFolders.end(), folder) == impl_->workFolders.end())
    impl_->workFolders.push_back(folder);
  return created;
}

int InstallManager::extractionState() { return extraction; }

void InstallManager::extractSetup() {
  extraction = 0;
  if (!createWorkFolder(impl_->setupDir)) {
    // The controller waits for a final state; without a folder there is nothing to wait for.
    extraction = 2;
    return;
  }
  if (pathExists(impl_->setupDir))
    DeleteFileA((impl_->setupDir + "SETUP.EXE").c_str());
  auto* job = new ExtractionJob{"SETUP.EXE", impl_->setupDir};
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

bool InstallManager::runSetup(const std::string& windowTitle, int mode) {
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
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &impl_->processInfo);
  SupportLog::write("payload", "command line: " + SupportLog::fromGbk(command));
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
