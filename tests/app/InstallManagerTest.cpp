#include "app/InstallManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "app/CacheFolder.h"
#include "app/InstallManagerTestApi.h"
#include "tests/support/DialogWatcher.h"
#include "tests/support/DriveTable.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TimerWitness.h"

namespace {

const char* const kKey = "Software//qxvantor//install";
using qxtest::kGiB;

std::string registryInstallPath() {
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueA(HKEY_CURRENT_USER, kKey, "installPath", RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return "<none>";
  return buffer;
}

void setRegistryInstallPath(const std::string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExA(key, "installPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()), static_cast<DWORD>(path.size() + 1));
  RegCloseKey(key);
}

void removeRegistryInstallPath() { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }

std::string g_document;
bool fromString(std::string& bytes) {
  bytes = g_document;
  return true;
}
bool missingDocument(std::string&) { return false; }

std::string shippedDocument() { return qxtest::readFile(std::string(QX_SOURCE_DIR) + "/resources/CONFIG.JSON"); }

// Records completion events.
class CompletionListener : public EventListener {
public:
  void onEvent(const char* eventName, const char* type, EventArg a, EventArg b) override {
    events.push_back(std::string(eventName) + "/" + type + "/" + std::to_string(a) + "/" + std::to_string(b));
  }
  std::vector<std::string> events;
};

using qxtest::Pump;

class InstallManagerTest : public ::testing::Test {
protected:
  void SetUp() override {
    removeRegistryInstallPath();
    g_document = shippedDocument();
    InstallManager::setDocumentSource(fromString);
    manager().setSilentInstall(false);
    manager().setExtraArguments("");
  }
  void TearDown() override {
    removeRegistryInstallPath();
    InstallManager::setDocumentSource(nullptr);
    InstallManager::setDriveProbe(nullptr);
    SetEnvironmentVariableA("QX_PAYLOAD_RECORD", nullptr);
    SetEnvironmentVariableA("QX_PAYLOAD_EXIT", nullptr);
  }
  static InstallManager& manager() { return InstallManager::instance(); }

  void reread() {
    std::string error;
    ASSERT_TRUE(manager().readConfig(error)) << error;
  }

  // Extracts the embedded payload into a fresh work folder; returns that folder.
  std::string extract() {
    manager().extractSetup();
    Pump pump;
    pump.until([] { return InstallManager::extractionState() != 0; }, 10000);
    EXPECT_EQ(InstallManager::extractionState(), 1);
    return manager().setupDir();
  }

  qxtest::DialogWatcher dialogs;
};

TEST_F(InstallManagerTest, RegistryValueIsUsedWithoutATrailingBackslash) {
  const std::pair<const char*, const char*> cases[] = {
      {"E:\\Spiele\\Mein Spiel", "E:\\Spiele\\Mein Spiel"},
      {"E:\\Spiele\\Mein Spiel\\", "E:\\Spiele\\Mein Spiel"},
      {"D:\\", "D:\\"},
  };
  for (const auto& [stored, used] : cases) {
    setRegistryInstallPath(stored);
    reread();
    EXPECT_EQ(manager().getDefaultInstallPath(), used);
    EXPECT_EQ(manager().getInstallPath(), used);
  }
}

TEST_F(InstallManagerTest, DefaultPathOnTheDriveWithTheMostFreeSpace) {
  qxtest::DriveTable probe({{'C', kGiB * 3 / 2}, {'G', 40 * kGiB}});
  InstallManager::setDriveProbe(&probe);
  reread();
  EXPECT_EQ(manager().getDefaultInstallPath(), "G:\\Program Files\\vantorworlds");
  EXPECT_EQ(manager().getInstallPath(), manager().getDefaultInstallPath());
}

TEST_F(InstallManagerTest, RealDrivesGiveAFolderOnAFixedDrive) {
  reread();
  const std::string path = manager().getDefaultInstallPath();
  EXPECT_EQ(path.substr(1), ":\\Program Files\\vantorworlds");
}

TEST_F(InstallManagerTest, DocumentFailuresAndEmptyDocument) {
  g_document = R"({"neededSpace": 1, "options": [], "carouselPics": "x"})";
  std::string error;
  EXPECT_FALSE(manager().readConfig(error));
  EXPECT_EQ(error, "carcouselPics");

  InstallManager::setDocumentSource(missingDocument);
  EXPECT_FALSE(manager().readConfig(error));
  EXPECT_EQ(error, "配置文件config.json");

  InstallManager::setDocumentSource(fromString);
  g_document.clear();
  ASSERT_TRUE(manager().readConfig(error));
  EXPECT_EQ(manager().getConfig().carouselCount, 1);
}

TEST_F(InstallManagerTest, PathOverridesAndOptions) {
  reread();
  manager().overridePaths("F:\\x");
  EXPECT_EQ(manager().getDefaultInstallPath(), "F:\\x");
  manager().setInstallPath("F:\\y");
  EXPECT_EQ(manager().getDefaultInstallPath(), "F:\\x");
  EXPECT_EQ(manager().getInstallPath(), "F:\\y");
  manager().addOption("desktopicon", true);
  manager().addOption("music", false);
  EXPECT_EQ(manager().getExtraArguments(), "-desktopicon true -music false ");
}

// The embedded payload goes where only administrators may write, a new folder each time.
TEST_F(InstallManagerTest, WorkFoldersAreFreshAndProtected) {
  std::string first, second;
  ASSERT_TRUE(manager().createWorkFolder(first) && manager().createWorkFolder(second));
  EXPECT_NE(first, second);
  EXPECT_TRUE(CacheFolder::isTrusted(std::wstring(second.begin(), second.end()))) << second;
}

class PayloadRun : public InstallManagerTest {
protected:
  void SetUp() override {
    InstallManagerTest::SetUp();
    reread();
    installPath = qxtest::scratchFolder("install path");
    std::replace(installPath.begin(), installPath.end(), '/', '\\');
    manager().setInstallPath(installPath);
    record = qxtest::scratchFolder("record") + "/command.txt";
    SetEnvironmentVariableA("QX_PAYLOAD_RECORD", record.c_str());
    manager().event().connect(&listener);
  }

  // Runs the payload and pumps until completion or a quit message.
  void runAndWait(int mode = 0) {
    ASSERT_TRUE(manager().runSetup("星海奇遇记 安装", mode));
    pump.until([this] { return !listener.events.empty() || pump.quit; }, 20000);
  }

  std::string installPath;
  std::string record;
  CompletionListener listener;
  Pump pump;
};

TEST_F(PayloadRun, SuccessWritesFilesRegistryAndRaisesCompletion) {
  const std::string folder = extract();
  manager().setExtraArguments("/MERGETASKS=\"quicklaunchicon,runafterinstall\"");
  runAndWait();
  ASSERT_EQ(listener.events, std::vector<std::string>{"InstallManager/EVENT_INSTALL_COMPLETE/0/0"});
  EXPECT_FALSE(pump.quit);
  // The whole command line is SetupCommandTest's; here, that the run passes its parts on.
  const std::string command = qxtest::readFile(record);
  EXPECT_NE(command.find("-notify_wnd \"星海奇遇记 安装\""), std::string::npos) << command;
  EXPECT_NE(command.find(" /MERGETASKS=\"quicklaunchicon,runafterinstall\""), std::string::npos) << command;
  EXPECT_EQ(qxtest::readFile(installPath + "\\Vantor_Data\\StreamingAssets\\channel.txt"), "1007");
  EXPECT_FALSE(qxtest::fileExists(installPath + "\\Vantor_Data\\StreamingAssets\\spreader.txt"));
  EXPECT_EQ(registryInstallPath(), installPath);
  // The extracted payload and its stamped work folder are gone.
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES) << folder;
}

TEST_F(PayloadRun, NoChannelFileWithoutAChannel) {
  g_document = qxtest::readFile(std::string(QX_SOURCE_DIR) + "/resources/CONFIG.2052.JSON");
  reread();
  manager().setInstallPath(installPath);
  extract();
  runAndWait();
  ASSERT_EQ(listener.events.size(), 1u);
  EXPECT_FALSE(qxtest::fileExists(installPath + "\\Vantor_Data\\StreamingAssets\\channel.txt"));
}

TEST_F(PayloadRun, AnUnreadableResultIsAFailedInstall) {
  SetEnvironmentVariableA("QX_PAYLOAD_STEPS", "20");
  extract();
  ASSERT_TRUE(manager().runSetup("title", 0));
  InstallManagerTestApi::forgetPayloadProcess();
  pump.until([this] { return pump.quit; }, 3000);
  SetEnvironmentVariableA("QX_PAYLOAD_STEPS", nullptr);
  EXPECT_TRUE(listener.events.empty());
  ASSERT_TRUE(pump.quit);
  EXPECT_EQ(pump.quitCode, 103);
  dialogs.waitForBoxes(1, 5000);
  EXPECT_EQ(dialogs.boxes(), (qxtest::Boxes{{"出错", "安装失败，请检查安装包是否完整后重新安装。"}}));
  EXPECT_EQ(registryInstallPath(), "<none>");
}

// Nothing starts that was not checked and held.
TEST_F(PayloadRun, FailedStartIsReportedAndNotPolled) {
  manager().setSetupDir("Q:\\nowhere\\");
  EXPECT_FALSE(manager().runSetup("title", 0));
  // Two ticks of the polling's period: a poll would have come by then.
  ASSERT_TRUE(qxtest::waitForTicks(pump, 200, 2));
  EXPECT_FALSE(pump.quit) << "a payload that never started must not end the program";
}

} // namespace
