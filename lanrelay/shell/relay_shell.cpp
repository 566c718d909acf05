#include "lanrelay/shell/relay_shell.h"

#include <algorithm>
#include <span>

#include "lanrelay/shell/settings_file.h"
#include "lanrelay/shell/text_folder.h"
#include "lanrelay/shell/text_utils.h"

namespace shell {

RelayShell::RelayShell(ShellFront& front, platform::EventLoop& loop, ShellPaths paths, LogClock clock,
                       engine::EngineOptions engineOptions)
    : front_(front),
      loop_(loop),
      paths_(std::move(paths)),
      clock_(std::move(clock)),
      engineOptions_(std::move(engineOptions)),
      systemLog_(clock_) {}

RelayShell::~RelayShell() = default;

void RelayShell::start() {
  createSettingsFolder(paths_.settingsFolder);
  settingsPath_ = settingsPathIn(paths_.settingsFolder);
  settings_ = loadSettings(settingsPath_);

  textFolder_ = textFileFolder(paths_.programFolder, paths_.currentFolder);
  eventTexts_ = loadEventTexts(textFolder_ + "/message.ini");
  debugLog_ = DebugLog(textFolder_ + "/debug.ini", clock_);

  front_.addIcon();
  engine_ = std::make_unique<engine::Engine>(*this, settings_, loop_, engineOptions_);
  engine_->startEngine();
}

void RelayShell::shutdown() {
  if (!engine_) return;
  engine_->closeNicSockets();
  front_.removeIcon();
  engine_.reset();
}

void RelayShell::applySettings(const engine::RelaySettings& accepted) {
  engine::RelaySettings old = settings_;
  settings_ = accepted;
  if (engine_) engine_->onConfigChanged(old, settings_);
  saveSettings(settingsPath_, settings_);  // a failed write is not reported
}

void RelayShell::refreshStatusList() {
  if (!engine_) return;
  statusRows_ = shell::statusRows(engine_->boards());
  front_.statusListChanged(statusRows_);
}

void RelayShell::raiseEvent(engine::EventIndex event, const engine::BoardRecord* board, const std::string& extra) {
  auto index = static_cast<size_t>(event);
  if (index >= eventTexts_.size()) return;
  const EventText& text = eventTexts_[index];
  std::string title = fillPlaceholders(text.title, event, board, extra);
  std::string message = fillPlaceholders(text.message, event, board, extra);
  // An empty message means no balloon at all, as the notification area has it.
  if (settings_.popupFlag != 0 && !message.empty()) {
    front_.showBalloon(text.icon, cutToCharacters(title, kBalloonTitleLimit),
                       cutToCharacters(message, kBalloonTextLimit));
  }
  systemLog_.write(settings_.logFlag != 0, settings_.logFolder, static_cast<int>(text.icon), title, message);
}

bool RelayShell::debugLogEnabled() const { return debugLog_.enabled(); }

void RelayShell::writeDebugLog(int tag, const engine::Ipv4Address& from, const engine::Ipv4Address& to,
                               const uint8_t* bytes, int count) {
  DebugEntry entry{tag, from, to, bytes != nullptr, {}, count};
  if (bytes != nullptr) {
    size_t printed = count == kDebugSixteenBytes ? 16 : static_cast<size_t>(std::max(count, 0));
    entry.bytes = std::span<const uint8_t>(bytes, printed);
  }
  debugLog_.write(entry);
}

void RelayShell::listenerFailed(int32_t) {
  front_.showMessage(engine::IconKind::Error, kProgramCaption, "Can not wait for connection");
}

void RelayShell::anotherRelayFound(const engine::Ipv4Address& other) {
  constexpr auto event = engine::EventIndex::DuplicateLanrelay;
  const EventText& text = eventTexts_[static_cast<size_t>(event)];
  std::string address = other.toString();
  std::string title = fillPlaceholders(text.title, event, nullptr, address);
  std::string message = fillPlaceholders(text.message, event, nullptr, address);
  // No balloon and no system-log line for this one: the message says it all
  // and the program ends right after it.
  front_.showMessage(engine::IconKind::Error, kProgramCaption, title + "\r\n" + message);
  front_.requestExit();
}

}  // namespace shell
