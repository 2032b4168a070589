// Sections: what the log and the report say of this program and this PC; the end of
// the run; the start-up sequence.
#include "app/Startup.h"

#include <windows.h>
#include <ole2.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "app/CommandLineOptions.h"
#include "app/Elevation.h"
#include "app/HeldPackage.h"
#include "app/InstallManager.h"
#include "app/OutcomeReport.h"
#include "app/ReportSender.h"
#include "app/SecureRandom.h"
#include "app/SelfRestart.h"
#include "app/UserLauncher.h"
#include "app/SingleInstance.h"
#include "app/SupportLog.h"
#include "app/Updater.h"
#include "gui/CommonControls.h"
#include "gui/MessageLoop.h"
#include "gui/TopLevelRegistry.h"
#include "script/LuaScript.h"

namespace {

// ---- what the log and the report say of this program and this PC ----------------------

// The outcome report never holds the exit back longer than this.
constexpr unsigned kReportBudgetMs = 2000;
ULONGLONG startTick = 0;
std::string reportUrl;

std::wstring ownPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// From the program's own version resource: the version library is no system DLL that
// the loader finds only in the system folder.
std::string fileVersion() {
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  HGLOBAL handle = info ? LoadResource(nullptr, info) : nullptr;
  const auto* data = handle ? static_cast<const BYTE*>(LockResource(handle)) : nullptr;
  const DWORD size = data ? SizeofResource(nullptr, info) : 0;
  // VS_FIXEDFILEINFO follows the block's key, aligned; its signature finds it.
  for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, data + at, sizeof fixed);
    if (fixed.dwSignature == 0xFEEF04BD)
      return std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed.dwFileVersionMS)) +
             "." + std::to_string(HIWORD(fixed.dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed.dwFileVersionLS));
  }
  return "unknown";
}

// The SHA-256 of this program's file, so support knows which build ran.
std::string ownDigest() {
  const std::unique_ptr<HeldPackage> file = HeldPackage::open(ownPath());
  const std::string digest = file ? file->sha256() : std::string();
  return digest.empty() ? "unreadable" : digest;
}

// The real version: GetVersionEx answers what the manifest admits to.
std::string windowsVersion() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto get = reinterpret_cast<RtlGetVersionFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!get || get(&info) != 0)
    return "unknown";
  return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
         std::to_string(info.dwBuildNumber);
}

std::string randomRunId() {
  unsigned char random[16] = {};
  SecureRandom::fill(random, sizeof random);
  return OutcomeReport::runId(random);
}

// "/log <file>" chooses the file; "/log" with nothing after it, or "/nolog", none.
void openLog(const std::vector<std::string>& argv, const std::string& installName) {
  for (size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] == "/nolog") {
      SupportLog::disable();
      return;
    }
    if (argv[i] == "/log") {
      const bool named = i + 1 < argv.size() && !argv[i + 1].empty() && argv[i + 1][0] != '/' && argv[i + 1][0] != '-';
      if (!named) {
        SupportLog::disable();
        return;
      }
      const std::string& path = argv[i + 1];
      const int length = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
      std::wstring wide(static_cast<size_t>(length), L'\0');
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &wide[0], length);
      SupportLog::open(wide, installName);
      return;
    }
  }
  SupportLog::open(L"", installName);
}

void logStart() {
  RunFacts& facts = SupportLog::facts();
  facts.runId = randomRunId();
  facts.installerVersion = fileVersion();
  facts.windowsVersion = windowsVersion();
  facts.codePage = GetACP();
  SupportLog::writef("start", "installer %s, version %s, SHA-256 %s", SupportLog::utf8(ownPath()).c_str(),
                     facts.installerVersion.c_str(), ownDigest().c_str());
  SupportLog::writef("start", "Windows %s, code page %u (OEM %u), %s", facts.windowsVersion.c_str(), facts.codePage,
                     GetOEMCP(), isProcessElevated() ? "elevated" : "not elevated");
  SupportLog::write("start", "command line: " + SupportLog::utf8(GetCommandLineW()));
  std::string options;
  for (const auto& [key, value] : CommandLineOptions::get())
    options += " " + key + (value.empty() ? "" : "=" + value);
  SupportLog::write("start", "options:" + (options.empty() ? std::string(" none") : options));
}

// The publisher's settings as read; nothing in them is secret but the report address's
// path and query, which may carry the publisher's key.
void logConfig(const InstallConfig& c) {
  auto yes = [](bool flag) { return flag ? "true" : "false"; };
  SupportLog::writef("config", "installName=%s installFolder=%s updateServer=%s promoteChannel=%s",
                     SupportLog::fromGbk(c.installName).c_str(), SupportLog::fromGbk(c.installFolder).c_str(),
                     c.updateServer.c_str(), SupportLog::fromGbk(c.promoteChannel).c_str());
  SupportLog::writef("config", "silentInstall=%s runAfterInstall=%s installerInRes=%s neededSpace=%.0f MB "
                     "options=%d downloadConnections=%d packageSigners=%d",
                     yes(c.silentInstall), yes(c.runAfterInstall), yes(c.installerInRes), c.neededSpace,
                     static_cast<int>(c.options.size()), c.downloadConnections, static_cast<int>(c.packageSigners.size()));
  const size_t host = c.reportUrl.find("://");
  SupportLog::write("config", "reportUrl=" + (c.reportUrl.empty() ? std::string("none")
                                                                   : c.reportUrl.substr(0, c.reportUrl.find('/', host + 3)) + "/..."));
}

} // namespace

// ---- the end of the run -----------------------------------------------------------------

void finishRun(int exitCode) {
  static bool finished = false;
  if (finished)
    return;
  finished = true;
  RunFacts& facts = SupportLog::facts();
  facts.exitCode = exitCode;
  facts.outcome = exitCode == 0 ? "success" : "failure";
  if (exitCode == 0)
    facts.stage = "done";
  const RunFacts run = SupportLog::collectedFacts();
  if (!reportUrl.empty())
    SupportLog::write("report", ReportSender::send(reportUrl, OutcomeReport::body(run), kReportBudgetMs));
  const std::string cause = SupportLog::cause();
  char line[200];
  std::snprintf(line, sizeof line, "%s, exit code %d, stage %s, total %.1f s, %lld bytes downloaded", run.outcome.c_str(),
                exitCode, run.stage.c_str(), static_cast<double>(GetTickCount64() - startTick) / 1000.0,
                static_cast<long long>(run.bytes));
  SupportLog::close(std::string(line) + (exitCode != 0 && !cause.empty() ? ", cause: " + cause : ""));
}

// ---- the start-up sequence -----------------------------------------------------------------

int runInstaller(const std::vector<std::string>& argv) {
  int elevatedCode = 0;
  if (relaunchElevatedIfNeeded(std::vector<std::string>(argv.begin() + (argv.empty() ? 0 : 1), argv.end()),
                               elevatedCode))
    return elevatedCode;
  startTick = GetTickCount64();
  logStart();
  holdOwnProgramFile();

  bool silent = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    if (argv[i] == "/verysilent") {
      InstallManager::instance().setSilentInstall(true);
      silent = true;
    } else if (argv[i] == "/path" && i + 1 < argv.size()) {
      InstallManager::instance().overridePaths(argv[i + 1]);
    }
  }

  const InstallConfig config = InstallManager::instance().getConfig();
  openLog(argv, config.installName);
  logConfig(config);
  reportUrl = config.reportUrl;
  SupportLog::facts().promoteChannel = SupportLog::fromGbk(config.promoteChannel);

  if (!silent && !acquireSingleInstance()) {
    SupportLog::failure("start", "another copy of the installer is running");
    MessageBoxW(nullptr, L"游戏已经启动了！", L"提示", MB_ICONERROR);
    finishRun(104);
    return 104;
  }

  std::srand(static_cast<unsigned>(static_cast<uint32_t>(std::time(nullptr)) ^ GetTickCount()));
  SetThreadLocale(2052);
  CommonControls::init();
  OleInitialize(nullptr);

  const CommandLineMap& options = CommandLineOptions::get();
  const auto channel = options.find(UserLauncher::kOption);
  UserLauncher::adopt(channel != options.end() ? channel->second : std::string());
  const auto notify = options.find("-notify_wnd");
  if (notify != options.end())
    InstallManager::instance().setNotifyWindow(FindWindowA(nullptr, notify->second.c_str()));

  registerWindowClass(GetModuleHandleA(nullptr));
  LuaScript& script = LuaScript::instance();
  script.setUpdateServer(config.updateServer);

  auto* updater = new Updater(config.installName);
  TopLevelRegistry& registry = TopLevelRegistry::instance();
  updater->show();
  registry.adopt(0, updater);

  const int code = runMessageLoop();
  registry.purge();
  registry.destroyAll();
  finishRun(code);
  return code;
}
