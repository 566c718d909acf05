#include "lanrelay/gui/tray_front.h"

#include <QApplication>
#include <QMessageBox>

#include "lanrelay/gui/config_dialog.h"
#include "lanrelay/gui/program_icon.h"
#include "lanrelay/gui/window_title.h"

namespace gui {
namespace {

// How often to look for a notification area while there is none: the icon
// appears by itself once a tray host starts.
constexpr int kTrayWatchMs = 2000;
constexpr int kBalloonShowMs = 10000;

QString toQ(const std::string& text) {
  // Balloons and message boxes break lines at LF.
  return QString::fromStdString(text).replace("\r\n", "\n");
}

QMessageBox::Icon boxIcon(engine::IconKind icon) {
  switch (icon) {
    case engine::IconKind::Information: return QMessageBox::Information;
    case engine::IconKind::Warning: return QMessageBox::Warning;
    case engine::IconKind::Error: return QMessageBox::Critical;
    case engine::IconKind::None: break;
  }
  return QMessageBox::NoIcon;
}

QSystemTrayIcon::MessageIcon balloonIcon(engine::IconKind icon) {
  switch (icon) {
    case engine::IconKind::Information: return QSystemTrayIcon::Information;
    case engine::IconKind::Warning: return QSystemTrayIcon::Warning;
    case engine::IconKind::Error: return QSystemTrayIcon::Critical;
    case engine::IconKind::None: break;
  }
  return QSystemTrayIcon::NoIcon;
}

}  // namespace

QString trayTip() {
  return QString::fromStdString(std::string(shell::kProgramCaption) + " - Ethernet Packet Control Program")
      .left(static_cast<qsizetype>(shell::kBalloonTitleLimit));
}

TrayFront::TrayFront(platform::EventLoop& loop)
    : bridge_(loop),
      window_(std::make_unique<StatusWindow>(QString::fromStdString(statusWindowTitle(programFileLastWrite())))) {
  presentMessage_ = [](const Message& message) {
    QMessageBox box(boxIcon(message.icon), message.caption, message.text, QMessageBox::Ok);
    box.exec();
  };
  presentBalloon_ = [this](engine::IconKind icon, const QString& title, const QString& text) {
    // A balloon that goes by itself after a while, as the desktop's own do;
    // a time-out of 0 would make it stay until clicked (a sticky notification).
    tray_.showMessage(title, text, balloonIcon(icon), kBalloonShowMs);
  };

  menu_.addAction("Condition Display(&I)", [this] { showStatusWindow(); });
  menu_.addAction("Configulation(&O)", [this] { openConfiguration(); });
  menu_.addSeparator();
  menu_.addAction("Exit(&X)", [this] { requestExit(); });

  tray_.setIcon(programIcon());
  tray_.setToolTip(trayTip());
  tray_.setContextMenu(&menu_);
  QObject::connect(&tray_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) showStatusWindow();
  });
  window_->setOnHidden([this] { addIcon(); });

  trayWatch_.setInterval(kTrayWatchMs);
  QObject::connect(&trayWatch_, &QTimer::timeout, [this] {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    trayWatch_.stop();
    tray_.show();
  });
}

TrayFront::~TrayFront() { bridge_.stop(); }

void TrayFront::run() {
  running_ = true;
  bridge_.start();
  // An exit asked for before the loop ran (QCoreApplication::exit() does
  // nothing then) is honoured here.
  if (!(exitRequested_ && pending_.empty())) QApplication::exec();
  running_ = false;
  bridge_.stop();
}

void TrayFront::addIcon() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_.show();
    return;
  }
  if (trayWatch_.isActive()) return;
  watchForTray();
  // Without an icon the window is the only way in: show it once the operator
  // has read why.
  queueMessage({engine::IconKind::Error, shell::kProgramCaption, "Not be stored in the task tray",
                [this] { showStatusWindow(); }});
}

void TrayFront::watchForTray() { trayWatch_.start(); }

void TrayFront::removeIcon() {
  trayWatch_.stop();
  tray_.hide();
}

void TrayFront::showBalloon(engine::IconKind icon, const std::string& title, const std::string& text) {
  if (text.empty()) return;
  presentBalloon_(icon, toQ(title), toQ(text));
}

void TrayFront::showMessage(engine::IconKind icon, const std::string& caption, const std::string& text) {
  queueMessage({icon, QString::fromStdString(caption), toQ(text), nullptr});
}

void TrayFront::queueMessage(Message message) {
  pending_.push_back(std::move(message));
  if (!showingMessages_) QTimer::singleShot(0, window_.get(), [this] { showPendingMessages(); });
}

void TrayFront::showPendingMessages() {
  if (showingMessages_) return;  // the running walk takes the new ones too
  showingMessages_ = true;
  while (!pending_.empty()) {
    Message message = pending_.front();
    pending_.pop_front();
    presentMessage_(message);
    if (message.then) message.then();
  }
  showingMessages_ = false;
  exitWhenIdle();
}

void TrayFront::statusListChanged(const std::vector<shell::StatusRow>& rows) { window_->setRows(rows); }

void TrayFront::requestExit() {
  exitRequested_ = true;
  // Boxes queued but not shown yet carry the reason for ending (another
  // relay found): they come first, and the last one closed ends the loop.
  // A box the operator already has open does not hold up Exit, --close or
  // SIGTERM: ending the loop closes it.
  exitWhenIdle();
}

void TrayFront::exitWhenIdle() {
  if (!exitRequested_ || !pending_.empty()) return;
  // quit() may refuse while the last window is hidden; exit() always ends
  // the loop (and any nested one, such as an open dialog or box).
  QCoreApplication::exit(0);
}

void TrayFront::showStatusWindow() { window_->showFromTray(); }

void TrayFront::openConfiguration() {
  if (relay_ == nullptr || exitRequested_) return;
  if (configuring_) return;  // one dialog at a time; the open one stays in front
  configuring_ = true;
  ConfigDialog dialog(relay_->settings(), window_.get());
  const bool accepted = dialog.exec() == QDialog::Accepted;
  configuring_ = false;
  // The loop may have been told to end while the dialog was open.
  if (accepted && !exitRequested_) relay_->applySettings(dialog.values());
}

}  // namespace gui
