// The relay's desktop front: the icon in the notification area with its tip
// and menu, event balloons at it, the status window and the configuration
// dialog, and the relay's message boxes. It drives the relay's loop from
// Qt's loop on the GUI thread (see LoopBridge).
//
// Message boxes wait for the operator in a nested loop, in which the relay
// keeps working. They are never opened inside one of the relay's handlers
// (that would re-enter the engine from within itself): showMessage() queues
// the box and it opens once the handler has returned. An exit requested
// while boxes are queued takes effect once they have been closed, so "another
// relay found" shows its box first and then ends the program; an exit with
// nothing queued ends at once, closing any box still open.
//
// Ownership: made on the relay's loop, which must outlive it; the RelayShell
// is attached before it starts. Needs a QApplication.
// Thread: the GUI thread.
#pragma once

#include <QMenu>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

#include "lanrelay/gui/loop_bridge.h"
#include "lanrelay/gui/status_window.h"
#include "lanrelay/shell/relay_program.h"
#include "lanrelay/shell/relay_shell.h"

namespace gui {

// The icon's tip: the program's name, cut to the tray's 63 characters.
QString trayTip();

class TrayFront final : public shell::ResidentFront {
 public:
  struct Message {
    engine::IconKind icon;
    QString caption;
    QString text;
    std::function<void()> then;  // runs once the box is closed, if set
  };
  // Shows one message box and returns when the operator has closed it.
  using MessagePresenter = std::function<void(const Message&)>;
  // How a balloon reaches the icon (replaceable for tests).
  using BalloonPresenter = std::function<void(engine::IconKind, const QString& title, const QString& text)>;

  explicit TrayFront(platform::EventLoop& loop);
  ~TrayFront() override;

  void setMessagePresenter(MessagePresenter presenter) { presentMessage_ = std::move(presenter); }
  void setBalloonPresenter(BalloonPresenter presenter) { presentBalloon_ = std::move(presenter); }

  // shell::ResidentFront
  void attach(shell::RelayShell& relay) override { relay_ = &relay; }
  void run() override;

  // shell::ShellFront
  void addIcon() override;
  void removeIcon() override;
  void showBalloon(engine::IconKind icon, const std::string& title, const std::string& text) override;
  void showMessage(engine::IconKind icon, const std::string& caption, const std::string& text) override;
  void statusListChanged(const std::vector<shell::StatusRow>& rows) override;
  void requestExit() override;

  // The menu's actions.
  void showStatusWindow();
  void openConfiguration();

  StatusWindow& statusWindow() { return *window_; }
  QSystemTrayIcon& trayIcon() { return tray_; }
  QMenu& menu() { return menu_; }
  bool exitRequested() const { return exitRequested_; }
  size_t pendingMessages() const { return pending_.size(); }

 private:
  void queueMessage(Message message);
  void showPendingMessages();
  void exitWhenIdle();
  void watchForTray();

  LoopBridge bridge_;
  shell::RelayShell* relay_ = nullptr;
  std::unique_ptr<StatusWindow> window_;
  QMenu menu_;
  QSystemTrayIcon tray_;
  QTimer trayWatch_;
  MessagePresenter presentMessage_;
  BalloonPresenter presentBalloon_;
  std::deque<Message> pending_;
  bool showingMessages_ = false;
  bool configuring_ = false;
  bool exitRequested_ = false;
  bool running_ = false;
};

}  // namespace gui
