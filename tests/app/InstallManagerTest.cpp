#include "app/InstallManager.h"

#include <gtest/gtest.h>

#include <algorithm>

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

void setRegistryInstallPath(const std::string& path) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kKey, "installPath", REG_SZ, path.c_str(), DWORD(path.size() + 1)),
            ERROR_SUCCESS);
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

// How a path is trimmed, a root kept whole, is SetupCommand.InstallPathsSurviveTheCommandLine's.
TEST_F(InstallManagerTest, RegistryValueIsUsedWithoutATrailingBackslash) {
  setRegistryInstallPath("E:\\Spiele\\Mein Spiel\\");
  reread();
  EXPECT_EQ(manager().getDefaultInstallPath(), "E:\\Spiele\\Mein Spiel");
  EXPECT_EQ(manager().getInstallPath(), "E:\\Spiele\\Mein Spiel");
}

// The default on the drive with the most free space, until a caller's path replaces it; a
// path chosen later leaves the default as it is.
TEST_F(InstallManagerTest, DefaultPathOnTheDriveWithTheMostFreeSpaceOrTheCallers) {
  qxtest::DriveTable probe({{'C', kGiB * 3 / 2}, {'G', 40 * kGiB}});
  InstallManager::setDriveProbe(&probe);
  reread();
  EXPECT_EQ(manager().getDefaultInstallPath(), "G:\\Program Files\\vantorworlds");
  EXPECT_EQ(manager().getInstallPath(), manager().getDefaultInstallPath());
  manager().overridePaths("F:\\x");
  EXPECT_EQ(manager().getDefaultInstallPath(), "F:\\x");
  manager().setInstallPath("F:\\y");
  EXPECT_EQ(manager().getDefaultInstallPath(), "F:\\x");
  EXPECT_EQ(manager().getInstallPath(), "F:\\y");
}

// A broken document's label reaches the player's box: e2e_english_windows.
TEST_F(InstallManagerTest, MissingAndEmptyDocument) {
  InstallManager::setDocumentSource(missingDocument);
  std::string error;
  EXPECT_FALSE(manager().readConfig(error));
  EXPECT_EQ(error, "配置文件config.json");

  InstallManager::setDocumentSource(fromString);
  g_document.clear();
  ASSERT_TRUE(manager().readConfig(error));
  EXPECT_EQ(manager().getConfig().carouselCount, 1);
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
    manager().event().connect(&listener);
  }

  // Runs the payload and pumps until completion or a quit message.
  void runAndWait(int mode = 0) {
    ASSERT_TRUE(manager().runSetup("星海奇遇记 安装", mode));
    pump.until([this] { return !listener.events.empty() || pump.quit; }, 20000);
  }

  std::string installPath;
  CompletionListener listener;
  Pump pump;
};

// The command line it is given is SetupCommandTest's; the channel file that a configured
// channel makes, the registry value and the rest of a success, are the one-key scenario's.
// Here: an embedded payload without a channel or a spreader code.
TEST_F(PayloadRun, SuccessRaisesCompletionAndCleansUp) {
  g_document = qxtest::readFile(std::string(QX_SOURCE_DIR) + "/resources/CONFIG.2052.JSON");
  reread();
  manager().setInstallPath(installPath);
  const std::string folder = extract();
  runAndWait();
  ASSERT_EQ(listener.events, std::vector<std::string>{"InstallManager/EVENT_INSTALL_COMPLETE/0/0"});
  EXPECT_FALSE(pump.quit);
  EXPECT_TRUE(qxtest::fileExists(installPath + "\\Vantor_Data\\StreamingAssets")) << "the payload did not run";
  EXPECT_FALSE(qxtest::fileExists(installPath + "\\Vantor_Data\\StreamingAssets\\channel.txt"));
  EXPECT_FALSE(qxtest::fileExists(installPath + "\\Vantor_Data\\StreamingAssets\\spreader.txt"));
  // The extracted payload and its stamped work folder are gone.
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES) << folder;
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
  // The failed install's box and what it leaves are the payload_failure scenario's.
  EXPECT_TRUE(dialogs.waitForBoxes(1, 5000)) << "no box for the failed install";
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
