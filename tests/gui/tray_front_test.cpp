// The tray front with a real RelayShell (no UDP, loopback listener) on the
// offscreen platform: balloons, deferred message boxes and the exit after
// them, the menu, and the configuration dialog applying and saving.
#include "lanrelay/gui/tray_front.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QEventLoop>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui_test_app.h"
#include "lanrelay/gui/config_dialog.h"
#include "lanrelay/shell/settings_file.h"

namespace gui {
namespace {

using engine::EventIndex;
using engine::IconKind;

struct Balloon {
  IconKind icon;
  std::string title;
  std::string text;
};

class GuiTrayFront : public ::testing::Test {
 protected:
  void SetUp() override {
    gui_test::application();
    std::filesystem::create_directories(dir_.file("program"));
    std::filesystem::create_directories(dir_.file("config"));
    std::filesystem::create_directories(dir_.file("logs"));
    dir_.write("program/message.ini",
               "[CONNECT]\nICON=INFORMATION\nTITLE=Board {id}\nMESSAGE=at {ip}\\nnow\n"
               "[OPEN]\nICON=WARNING\nTITLE=" + std::string(80, 't') + "\nMESSAGE=" + std::string(259, 'm') + "\n"
               "[CLOSE]\nICON=INFORMATION\nTITLE=closed\n");
    // Port 0: any free port, so parallel tests never collide.
    dir_.write("config/lanrelay.ini", "[SERVER]\nPORT=0\n[LOG]\nFLAG=1\nFOLDER=" + dir_.file("logs") + "\n");

    front_ = std::make_unique<TrayFront>(loop_);
    front_->setBalloonPresenter([this](IconKind icon, const QString& title, const QString& text) {
      balloons_.push_back({icon, title.toStdString(), text.toStdString()});
    });
    front_->setMessagePresenter([this](const TrayFront::Message& message) {
      messages_.push_back(message.caption.toStdString() + ": " + message.text.toStdString());
    });
  }

  void start() {
    engine::EngineOptions options;
    options.listenAddress = protocol::Ipv4Address{{127, 0, 0, 1}};
    options.useUdp = false;
    options.startTimers = false;
    options.localAddresses = [](std::vector<engine::Ipv4Address>&) { return true; };
    relay_ = std::make_unique<shell::RelayShell>(
        *front_, loop_, shell::ShellPaths{dir_.file("config"), dir_.file("program"), dir_.file("elsewhere")},
        shell::localTimeNow, options);
    front_->attach(*relay_);
    relay_->start();
  }

  void TearDown() override {
    if (relay_) relay_->shutdown();
  }

  engine::BoardRecord board() const {
    engine::BoardRecord record;
    record.state = engine::BoardState::Connected;
    record.boardId = 3;
    record.typeCode = 0x12;
    record.ip = protocol::Ipv4Address{{10, 0, 0, 5}};
    return record;
  }

  // Runs `edit` on the configuration dialog once it is open, inside its own loop.
  void whenDialogOpens(std::function<void(ConfigDialog&)> edit) {
    QTimer::singleShot(0, [edit = std::move(edit)] {
      auto* dialog = dynamic_cast<ConfigDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      edit(*dialog);
    });
  }

  gui_test::TempFolder dir_;
  platform::EventLoop loop_;
  std::unique_ptr<TrayFront> front_;
  std::unique_ptr<shell::RelayShell> relay_;
  std::vector<Balloon> balloons_;
  std::vector<std::string> messages_;
};

TEST_F(GuiTrayFront, BalloonsAreCutToTheTrayLimitsAndBreakLines) {
  start();
  engine::BoardRecord record = board();
  relay_->raiseEvent(EventIndex::Connect, &record, "");
  relay_->raiseEvent(EventIndex::Open, &record, "10.0.0.9");
  ASSERT_EQ(balloons_.size(), 2u);
  EXPECT_EQ(balloons_[0].icon, IconKind::Information);
  EXPECT_EQ(balloons_[0].title, "Board 3");
  EXPECT_EQ(balloons_[0].text, "at 10.0.0.5\nnow");
  EXPECT_EQ(balloons_[1].icon, IconKind::Warning);
  EXPECT_EQ(balloons_[1].title, std::string(63, 't'));
  EXPECT_EQ(balloons_[1].text, std::string(255, 'm'));
}

TEST_F(GuiTrayFront, NoBalloonForAnEmptyMessageOrWithPopupsOffButTheLogLineAllTheSame) {
  start();
  engine::BoardRecord record = board();
  relay_->raiseEvent(EventIndex::Close, &record, "10.0.0.9");
  engine::RelaySettings quiet = relay_->settings();
  quiet.popupFlag = 0;
  relay_->applySettings(quiet);
  relay_->raiseEvent(EventIndex::Connect, &record, "");
  EXPECT_TRUE(balloons_.empty());
  size_t logFiles = 0;
  std::string logged;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.file("logs"))) {
    ++logFiles;
    logged = dir_.read("logs/" + entry.path().filename().string());
  }
  ASSERT_EQ(logFiles, 1u);
  EXPECT_NE(logged.find("closed"), std::string::npos);
  EXPECT_NE(logged.find("Board 3"), std::string::npos);
}

TEST_F(GuiTrayFront, MessageBoxesWaitUntilTheHandlerReturnedAndExitComesAfterThem) {
  // As "another relay found" does: a box, then the request to end.
  front_->showMessage(IconKind::Error, "lanrelay", "Other relay\r\nat 10.0.0.7");
  front_->requestExit();
  EXPECT_TRUE(messages_.empty());  // not from inside the caller
  EXPECT_EQ(front_->pendingMessages(), 1u);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(5000);
  front_->run();  // returns once the box was shown and closed
  EXPECT_TRUE(guard.isActive()) << "the front did not end by itself";
  EXPECT_EQ(messages_, std::vector<std::string>{"lanrelay: Other relay\nat 10.0.0.7"});
}

TEST_F(GuiTrayFront, ExitFromOutsideDoesNotWaitForTheOperatorsOpenBox) {
  bool boxEnded = false;
  front_->setMessagePresenter([&](const TrayFront::Message&) {
    // A box waits in a loop of its own; --close arrives meanwhile.
    QEventLoop box;
    QTimer::singleShot(0, [&] { front_->requestExit(); });
    box.exec();
    boxEnded = true;
  });
  front_->showMessage(IconKind::Error, "lanrelay", "Can not wait for connection");
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(5000);
  front_->run();
  EXPECT_TRUE(guard.isActive()) << "the exit waited for the box";
  EXPECT_TRUE(boxEnded);
}

TEST_F(GuiTrayFront, ExitBeforeTheLoopRunsEndsAtOnce) {
  front_->requestExit();
  front_->run();
  EXPECT_TRUE(front_->exitRequested());
}

TEST_F(GuiTrayFront, MenuHasTheFourEntriesAndExitEndsTheLoop) {
  QList<QAction*> actions = front_->menu().actions();
  ASSERT_EQ(actions.size(), 4);
  EXPECT_EQ(actions[0]->text(), "Condition Display(&I)");
  EXPECT_EQ(actions[1]->text(), "Configulation(&O)");
  EXPECT_TRUE(actions[2]->isSeparator());
  EXPECT_EQ(actions[3]->text(), "Exit(&X)");
  EXPECT_EQ(front_->trayIcon().toolTip(), trayTip());

  actions[0]->trigger();
  EXPECT_TRUE(front_->statusWindow().isVisible());
  QTimer::singleShot(0, [&] { actions[3]->trigger(); });
  front_->run();
  EXPECT_TRUE(front_->exitRequested());
}

TEST_F(GuiTrayFront, WithoutATrayTheMessageComesFirstThenTheWindow) {
  if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "this platform has a tray";
  bool shownBeforeBox = true;
  front_->setMessagePresenter([&](const TrayFront::Message& message) {
    shownBeforeBox = front_->statusWindow().isVisible();
    messages_.push_back(message.caption.toStdString() + ": " + message.text.toStdString());
  });
  front_->addIcon();
  EXPECT_TRUE(gui_test::processUntil([&] { return front_->statusWindow().isVisible(); }));
  EXPECT_EQ(messages_, std::vector<std::string>{"lanrelay: Not be stored in the task tray"});
  EXPECT_FALSE(shownBeforeBox);
  EXPECT_TRUE(front_->statusWindow().meantShown());
  // Hiding it again does not repeat the message while the tray is watched for.
  front_->statusWindow().hideToTray();
  QCoreApplication::processEvents();
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(GuiTrayFront, StatusListFollowsTheRelay) {
  start();
  front_->statusListChanged({{"Connected", "1", "LRB", "10.0.0.5", "00:00:00:00:00:01", ""}});
  EXPECT_EQ(front_->statusWindow().list().topLevelItemCount(), 1);
}

TEST_F(GuiTrayFront, OkAppliesToTheRunningRelayAndSavesAllNineKeys) {
  start();
  const uint16_t oldPort = relay_->engine()->listenerPort();
  ASSERT_NE(oldPort, 0);
  whenDialogOpens([](ConfigDialog& dialog) {
    dialog.edit(ConfigField::AliveTime)->setText("7");
    dialog.edit(ConfigField::ErrorCount)->setText("4");
    dialog.popupEnabledBox()->setChecked(false);
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  });
  front_->openConfiguration();
  EXPECT_EQ(relay_->settings().aliveTime, 7);
  EXPECT_EQ(relay_->settings().errorCount, 4);
  EXPECT_EQ(relay_->settings().popupFlag, 0);
  // Server port unchanged (0): the listener was left alone.
  EXPECT_EQ(relay_->engine()->listenerPort(), oldPort);

  engine::RelaySettings saved = shell::loadSettings(relay_->settingsPath());
  EXPECT_EQ(saved, relay_->settings());
  const std::string file = dir_.read("config/lanrelay.ini");
  for (const char* line : {"PORT=10001", "ALIVE_TIME=7", "NON_COMM_TIME=10", "RESPONSE_TIME=300", "ERROR_COUNT=4",
                           "PORT=0", "FLAG=1", "FOLDER=", "FLAG=0"}) {
    EXPECT_NE(file.find(line), std::string::npos) << line;
  }
}

TEST_F(GuiTrayFront, CancelChangesNothing) {
  start();
  const std::string before = dir_.read("config/lanrelay.ini");
  const engine::RelaySettings settings = relay_->settings();
  whenDialogOpens([](ConfigDialog& dialog) {
    dialog.edit(ConfigField::AliveTime)->setText("99");
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
  });
  front_->openConfiguration();
  EXPECT_EQ(relay_->settings(), settings);
  EXPECT_EQ(dir_.read("config/lanrelay.ini"), before);
}

}  // namespace
}  // namespace gui
