#include "lanrelay/shell/relay_shell.h"

#include <gtest/gtest.h>

#include "lanrelay/shell/ini_profile.h"
#include "lanrelay/shell/settings_file.h"
#include "temp_folder.h"

namespace shell {
namespace {

using engine::EventIndex;
using engine::IconKind;
using shell_test::TempFolder;

// Records what the shell shows instead of showing it.
class RecordingFront final : public ShellFront {
 public:
  struct Shown {
    IconKind icon;
    std::string title;
    std::string text;
  };
  void addIcon() override { calls.push_back("addIcon"); }
  void removeIcon() override { calls.push_back("removeIcon"); }
  void showBalloon(IconKind icon, const std::string& title, const std::string& text) override {
    balloons.push_back({icon, title, text});
  }
  void showMessage(IconKind icon, const std::string& caption, const std::string& text) override {
    messages.push_back({icon, caption, text});
  }
  void statusListChanged(const std::vector<StatusRow>& rows) override { lastRows = rows; }
  void requestExit() override { calls.push_back("requestExit"); }

  std::vector<std::string> calls;
  std::vector<Shown> balloons;
  std::vector<Shown> messages;
  std::vector<StatusRow> lastRows;
};

const LocalTime kNoon{2024, 6, 1, 12, 0, 0, 0};

class ShellRelayShell : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir_.file("program"));
    std::filesystem::create_directory(dir_.file("logs"));
    dir_.write("program/message.ini",
               "[CONNECT]\nICON=INFORMATION\nTITLE=Board {id} {type}\nMESSAGE=at {ip}\\nnow\n"
               "[OPEN]\nICON=WARNING\nTITLE=" + std::string(80, 't') + "\nMESSAGE=" + std::string(259, 'm') + "\n"
               "[CLOSE]\nICON=INFORMATION\nTITLE=closed\n"
               "[DUPLICATE_LANRELAY]\nICON=ERROR\nTITLE=Other relay\nMESSAGE=at {duplicate}\n"
               "[SYSTEM_ERROR]\nICON=ERROR\nTITLE=Same IP\nMESSAGE={information}\n");
    std::string settings = settingsPathIn(dir_.file("config"));
    createSettingsFolder(dir_.file("config"));
    // Port 0: any free port, so parallel tests never collide.
    writeProfileString(settings, "SERVER", "PORT", "0");
    writeProfileString(settings, "LOG", "FLAG", "1");
    writeProfileString(settings, "LOG", "FOLDER", dir_.file("logs"));
  }

  void start() {
    engine::EngineOptions options;
    options.listenAddress = protocol::Ipv4Address{{127, 0, 0, 1}};
    options.useUdp = false;
    options.startTimers = false;
    options.localAddresses = [](std::vector<engine::Ipv4Address>&) { return true; };
    shell_ = std::make_unique<RelayShell>(
        front_, loop_, ShellPaths{dir_.file("config"), dir_.file("program"), dir_.file("elsewhere")},
        [] { return kNoon; }, options);
    shell_->start();
  }

  engine::BoardRecord board() const {
    engine::BoardRecord record;
    record.state = engine::BoardState::Connected;
    record.boardId = 3;
    record.typeCode = 0x12;
    record.ip = protocol::Ipv4Address{{10, 0, 0, 5}};
    return record;
  }

  std::string systemLog() const { return dir_.read("logs/tvk20240601.log"); }

  TempFolder dir_;
  platform::EventLoop loop_;
  RecordingFront front_;
  std::unique_ptr<RelayShell> shell_;
};

TEST_F(ShellRelayShell, StartsInOrderWithFilesFromTheProgramFolder) {
  start();
  EXPECT_EQ(shell_->settings().serverPort, 0);
  EXPECT_EQ(shell_->textFolder(), dir_.file("program"));
  EXPECT_EQ(shell_->eventTexts()[0].title, "Board {id} {type}");
  EXPECT_FALSE(shell_->debugLogEnabled());
  ASSERT_NE(shell_->engine(), nullptr);
  EXPECT_NE(shell_->engine()->listenerPort(), 0) << "listener open";
  EXPECT_EQ(front_.calls, std::vector<std::string>{"addIcon"});
  EXPECT_TRUE(front_.messages.empty());
  shell_->shutdown();
  EXPECT_EQ(front_.calls, (std::vector<std::string>{"addIcon", "removeIcon"}));
  EXPECT_EQ(shell_->engine(), nullptr);
}

TEST_F(ShellRelayShell, EventShowsBalloonAndWritesSystemLog) {
  start();
  engine::BoardRecord b = board();
  shell_->raiseEvent(EventIndex::Connect, &b, "");
  ASSERT_EQ(front_.balloons.size(), 1u);
  EXPECT_EQ(front_.balloons[0].icon, IconKind::Information);
  EXPECT_EQ(front_.balloons[0].title, "Board 3 LRB-32EX");
  EXPECT_EQ(front_.balloons[0].text, "at 10.0.0.5\r\nnow");
  EXPECT_EQ(systemLog(), "12:00:00,INFORMATION,Board 3 LRB-32EX,at 10.0.0.5 now\r\n");
}

TEST_F(ShellRelayShell, BalloonIsCutButTheLogKeepsEverything) {
  start();
  engine::BoardRecord b = board();
  shell_->raiseEvent(EventIndex::Open, &b, "192.168.0.9");
  ASSERT_EQ(front_.balloons.size(), 1u);
  EXPECT_EQ(front_.balloons[0].title, std::string(63, 't'));
  EXPECT_EQ(front_.balloons[0].text, std::string(255, 'm'));
  EXPECT_EQ(systemLog(), "12:00:00,WARNING," + std::string(80, 't') + "," + std::string(259, 'm') + "\r\n");
}

TEST_F(ShellRelayShell, EmptyMessageOrPopupsOffShowNoBalloonButStillLog) {
  writeProfileString(settingsPathIn(dir_.file("config")), "POPUP", "FLAG", "0");
  start();
  engine::BoardRecord b = board();
  shell_->raiseEvent(EventIndex::Connect, &b, "");
  EXPECT_TRUE(front_.balloons.empty());
  engine::RelaySettings popupsOn = shell_->settings();
  popupsOn.popupFlag = 1;
  shell_->applySettings(popupsOn);
  shell_->raiseEvent(EventIndex::Close, &b, "192.168.0.9");  // no MESSAGE in the file
  EXPECT_TRUE(front_.balloons.empty());
  EXPECT_EQ(systemLog(), "12:00:00,INFORMATION,Board 3 LRB-32EX,at 10.0.0.5 now\r\n12:00:00,INFORMATION,closed,\r\n");
  EXPECT_EQ(readProfileInt(shell_->settingsPath(), "POPUP", "FLAG", -1), 1) << "accepted values are saved";
}

TEST_F(ShellRelayShell, AnotherRelayShowsAMessageAndEndsWithoutBalloonOrLog) {
  start();
  shell_->anotherRelayFound(protocol::Ipv4Address{{10, 0, 0, 9}});
  ASSERT_EQ(front_.messages.size(), 1u);
  EXPECT_EQ(front_.messages[0].icon, IconKind::Error);
  EXPECT_EQ(front_.messages[0].text, "Other relay\r\nat 10.0.0.9");
  EXPECT_TRUE(front_.balloons.empty());
  EXPECT_FALSE(std::filesystem::exists(dir_.file("logs/tvk20240601.log")));
  EXPECT_EQ(front_.calls.back(), "requestExit");
}

TEST_F(ShellRelayShell, ListenerFailureIsReportedAndTheRelayRunsOn) {
  start();
  shell_->listenerFailed(10010);
  ASSERT_EQ(front_.messages.size(), 1u);
  EXPECT_EQ(front_.messages[0].text, "Can not wait for connection");
  EXPECT_EQ(front_.calls, std::vector<std::string>{"addIcon"});
}

TEST_F(ShellRelayShell, DebugLogFollowsDebugIniBesideTheTexts) {
  std::filesystem::create_directory(dir_.file("dbg"));
  dir_.write("program/debug.ini", "[LOG]\nFOLDER=" + dir_.file("dbg") + "\n");
  start();
  ASSERT_TRUE(shell_->debugLogEnabled());
  const uint8_t bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  shell_->writeDebugLog(-2, {{10, 0, 0, 5}}, {}, bytes, -8);
  shell_->writeDebugLog(3, {}, {{10, 0, 0, 5}}, nullptr, -4);
  EXPECT_EQ(dir_.read("dbg/debug.log"),
            "12:00:00.000,udp,10.0.0.5,lanrelay,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10\r\n"
            "12:00:00.000,3,lanrelay,10.0.0.5,connect error\r\n");
}

TEST_F(ShellRelayShell, TextsComeFromTheCurrentFolderWhenTheProgramFolderHasNone) {
  std::filesystem::remove(dir_.file("program/message.ini"));
  start();
  EXPECT_EQ(shell_->textFolder(), dir_.file("elsewhere"));
  EXPECT_EQ(shell_->eventTexts()[0].title, "");
}

TEST_F(ShellRelayShell, StatusListIsEmptyUntilTheFirstRefresh) {
  start();
  EXPECT_TRUE(shell_->statusRows().empty());
  shell_->refreshStatusList();
  EXPECT_TRUE(front_.lastRows.empty()) << "no boards found without UDP";
}

}  // namespace
}  // namespace shell
