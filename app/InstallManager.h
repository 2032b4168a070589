#pragma once
// The process-wide install service: configuration and install paths, the work folder,
// the embedded payload's extraction, the payload run and its completion.
#include <windows.h>

#include <memory>
#include <string>

#include "app/InstallConfig.h"
#include "gui/Event.h"

class DriveProbe;
class HeldPackage;

// UI thread only, except `extractionState`, which the extraction thread sets once.
class InstallManager {
public:
  // Get-or-create; the first call reads the configuration (a failure shows its message
  // and posts the quit code 100).
  static InstallManager& instance();
  ~InstallManager();
  InstallManager(const InstallManager&) = delete;
  InstallManager& operator=(const InstallManager&) = delete;

  // Raised with "EVENT_INSTALL_COMPLETE", 0, 0 after a successful payload run.
  Event& event();

  bool readConfig(std::string& errorText);
  InstallConfig getConfig() const;
  void overridePaths(const std::string& path);
  void setInstallPath(const std::string& path);
  std::string getInstallPath() const;
  std::string getDefaultInstallPath() const;

  bool silentInstall() const;
  void setSilentInstall(bool silent);

  // Appends "-name true " or "-name false " to the extra arguments.
  void addOption(const std::string& name, bool flag);
  std::string getExtraArguments() const;
  void setExtraArguments(const std::string& text);

  // Flow marker: 0 idle, 1 query running, 2 query failed, 3 downloading, 5 verified.
  int stage() const;
  void setStage(int stage);
  std::string version() const;
  void setVersion(const std::string& version);
  std::string setupDir() const;
  void setSetupDir(const std::string& folder);
  HWND notifyWindow() const;
  void setNotifyWindow(HWND window);

  // A new folder, which only SYSTEM and Administrators may write, in the package cache of
  // the system drive: local time stamp + a random part + "\\".
  bool createWorkFolder(std::string& folder);
  // Creates the work folder and writes "SETUP.EXE" from the resources into it on a
  // thread of its own, then holds it and checks it against the digest the build
  // recorded ("SETUP.SHA256"); `extractionState` then tells how that went.
  void extractSetup();
  // 0 while extracting (or before), 1 extracted and verified, 2 failed.
  static int extractionState();
  // The verified package that runSetup starts; held until the payload's process exists.
  void holdPackage(std::unique_ptr<HeldPackage> package);
  // Starts the held package; mode 1 installs into the default path, any other into the
  // chosen one. True when the process was created; its exit is then polled every 200 ms.
  // Without a held package nothing starts.
  bool runSetup(const std::string& windowTitle, int mode);
  // The path a run in `mode` installs into: a caller's "-installPath", else the default
  // (mode 1) or the chosen path. runSetup records it; the download goes to its drive.
  std::string installPathFor(int mode) const;

  // Seams for tests: where the configuration document comes from (false: not found) and
  // the drive table of the install-path choice. Null restores the real ones.
  using DocumentSource = bool (*)(std::string& bytes);
#ifdef QX_TEST_HOOKS
  static void setDocumentSource(DocumentSource source);
  static void setDriveProbe(DriveProbe* probe);
#endif

private:
  friend class InstallManagerTestApi;
  InstallManager();
  struct Impl;
  Event event_{"InstallManager"};
  std::unique_ptr<Impl> impl_;
};
