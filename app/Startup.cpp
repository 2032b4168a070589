#include "app/Startup.h"

#include <windows.h>
#include <ole2.h>

#include <cstdlib>
#include <ctime>

#include "app/CommandLineOptions.h"
#include "app/Elevation.h"
#include "app/InstallManager.h"
#include "app/SelfRestart.h"
#include "app/UserLauncher.h"
#include "app/SingleInstance.h"
#include "app/Updater.h"
#include "gui/CommonControls.h"
#include "gui/MessageLoop.h"
#include "gui/TopLevelRegistry.h"
#include "script/LuaScript.h"

int runInstaller(const std::vector<std::string>& argv) {
  int elevatedCode = 0;
  if (relaunchElevatedIfNeeded(std::vector<std::string>(argv.begin() + (argv.empty() ? 0 : 1), argv.end()),
                               elevatedCode))
    return elevatedCode;
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

  if (!silent && !acquireSingleInstance()) {
    MessageBoxW(nullptr, L"游戏已经启动了！", L"提示", MB_ICONERROR);
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
  const InstallConfig config = InstallManager::instance().getConfig();
  script.setUpdateServer(config.updateServer);

  auto* updater = new Updater(config.installName);
  TopLevelRegistry& registry = TopLevelRegistry::instance();
  updater->show();
  registry.adopt(0, updater);

  const int code = runMessageLoop();
  registry.purge();
  registry.destroyAll();
  return code;
}
