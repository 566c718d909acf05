#include "lanrelay/shell/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "lanrelay/shell/ini_profile.h"
#include "temp_folder.h"

namespace shell {
namespace {

using shell_test::TempFolder;

TEST(ShellSettings, AbsentFileGivesDefaults) {
  TempFolder dir;
  engine::RelaySettings s = loadSettings(dir.file("lanrelay.ini"));
  EXPECT_EQ(s.boardPort, 10001);
  EXPECT_EQ(s.aliveTime, 10);
  EXPECT_EQ(s.nonCommTime, 10);
  EXPECT_EQ(s.responseTime, 300);
  EXPECT_EQ(s.errorCount, 2);
  EXPECT_EQ(s.serverPort, 10010);
  EXPECT_EQ(s.logFlag, 0);
  EXPECT_EQ(s.logFolder, "");
  EXPECT_EQ(s.popupFlag, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("lanrelay.ini"))) << "only a save creates the file";
}

TEST(ShellSettings, ValuesAreUsedAsReadWithoutRangeChecks) {
  TempFolder dir;
  dir.write("lanrelay.ini",
            "[client]\nport=70000\nalive_time=0\nNON_COMM_TIME=-5\nRESPONSE_TIME=50ms\n"
            "[SERVER]\nPORT=abc\n[LOG]\nFLAG=1\nFOLDER=/var/log/relay\n[POPUP]\nFLAG=0\n");
  engine::RelaySettings s = loadSettings(dir.file("lanrelay.ini"));
  EXPECT_EQ(s.boardPort, 70000);
  EXPECT_EQ(s.aliveTime, 0);
  EXPECT_EQ(s.nonCommTime, -5);
  EXPECT_EQ(s.responseTime, 50);
  EXPECT_EQ(s.errorCount, 2) << "absent key keeps its default";
  EXPECT_EQ(s.serverPort, 0) << "text without digits reads as 0";
  EXPECT_EQ(s.logFlag, 1);
  EXPECT_EQ(s.logFolder, "/var/log/relay");
  EXPECT_EQ(s.popupFlag, 0);
}

TEST(ShellSettings, LongFolderIsCutTo259Characters) {
  TempFolder dir;
  dir.write("lanrelay.ini", "[LOG]\nFOLDER=/" + std::string(299, 'x') + "\n");
  EXPECT_EQ(loadSettings(dir.file("lanrelay.ini")).logFolder, "/" + std::string(258, 'x'));
}

TEST(ShellSettings, SaveWritesAllNineKeysInOrderAndKeepsTheRest) {
  TempFolder dir;
  dir.write("lanrelay.ini", "; mine\n[EXTRA]\nKEEP=1\n");
  engine::RelaySettings s;
  s.aliveTime = 20;
  s.logFolder = "/tmp/logs";
  ASSERT_TRUE(saveSettings(dir.file("lanrelay.ini"), s));
  EXPECT_EQ(dir.read("lanrelay.ini"),
            "; mine\n[EXTRA]\nKEEP=1\n"
            "[CLIENT]\nPORT=10001\nALIVE_TIME=20\nNON_COMM_TIME=10\nRESPONSE_TIME=300\nERROR_COUNT=2\n"
            "[SERVER]\nPORT=10010\n[LOG]\nFLAG=0\nFOLDER=/tmp/logs\n[POPUP]\nFLAG=1\n");
  EXPECT_EQ(loadSettings(dir.file("lanrelay.ini")), s);
}

TEST(ShellSettings, SaveIntoMissingFolderFailsQuietly) {
  TempFolder dir;
  EXPECT_FALSE(saveSettings(dir.file("gone/lanrelay.ini"), engine::RelaySettings{}));
}

TEST(ShellSettings, FolderFollowsXdgConfigHome) {
  EXPECT_EQ(settingsFolderFor("/x/cfg", "/home/u"), "/x/cfg/lanrelay");
  EXPECT_EQ(settingsFolderFor(nullptr, "/home/u"), "/home/u/.config/lanrelay");
  EXPECT_EQ(settingsFolderFor("", "/home/u"), "/home/u/.config/lanrelay");
  EXPECT_EQ(settingsFolderFor("relative", "/home/u"), "/home/u/.config/lanrelay");
}

TEST(ShellSettings, FolderIsCreatedWithParents) {
  TempFolder dir;
  std::string folder = dir.file("a/b/lanrelay");
  createSettingsFolder(folder);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  createSettingsFolder(folder);  // existing: nothing to report
  EXPECT_EQ(settingsPathIn(folder), folder + "/lanrelay.ini");
}

}  // namespace
}  // namespace shell
