#pragma once
// The configuration record of one branded build. Texts are GBK byte strings.
#include <map>
#include <string>
#include <vector>

struct InstallOption {
  std::string name;
  std::string desc;
  bool checked = false;
  std::string type;
};

struct PicturePosition {
  int x = 0;
  int y = 0;
};

struct InstallConfig {
  std::string installName = "QxGames";
  std::string welcomeText = "Welcome to QxGames!";
  std::string installFolder = "vantorworlds";
  std::string licenseUrl;
  std::string licenseDesc;
  bool silentInstall = false;
  bool runAfterInstall = true;
  std::string promoteChannel;
  bool installerInRes = false;
  std::vector<InstallOption> options;
  std::map<std::string, PicturePosition> pictures;
  int carouselCount = 1;
  int carouselTime = 3000;
  double neededSpace = 100.0;
  // Host of the update server (port 8901); a branded build names its own.
  std::string updateServer = "update.example.com";
  // SHA-256 fingerprints (64 lowercase hex digits) of the certificates allowed to sign a
  // downloaded package; empty when the build does not check who signed it.
  std::vector<std::string> packageSigners;
  // How many connections one download may open at once on a server that honours ranges
  // (1 to 8); 1 keeps to a single connection.
  int downloadConnections = 4;
  // Base addresses ("http://" or "https://", ending in "/") of other copies of the
  // package, at most 8; the package's name on each is the last segment of its address.
  std::vector<std::string> packageMirrors;
  // Where the run's outcome is reported (an https:// address); empty: nowhere.
  std::string reportUrl;
};
