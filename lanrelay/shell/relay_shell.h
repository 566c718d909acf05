// The relay program around the engine: it holds the settings, the event
// texts and the logs, owns the one Engine, implements the services the engine
// calls, and shows what happens through a ShellFront (headless lines now, a
// windowed front later, both on the same loop thread).
//
// Ownership: the program owns the RelayShell, the front and the event loop;
// the shell keeps references to the front and the loop, which must outlive it.
// Thread: construct, call and destroy on the thread that runs the loop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "lanrelay/engine/engine.h"
#include "lanrelay/shell/debug_log.h"
#include "lanrelay/shell/event_texts.h"
#include "lanrelay/shell/log_clock.h"
#include "lanrelay/shell/shell_front.h"
#include "lanrelay/shell/status_list.h"
#include "lanrelay/shell/system_log.h"
#include "platform/event_loop.h"

namespace shell {

struct ShellPaths {
  std::string settingsFolder;  // holds lanrelay.ini; created at start
  std::string programFolder;   // searched first for message.ini
  std::string currentFolder;   // used when the program folder has no message.ini
};

class RelayShell final : public engine::ShellServices {
 public:
  RelayShell(ShellFront& front, platform::EventLoop& loop, ShellPaths paths, LogClock clock = localTimeNow,
             engine::EngineOptions engineOptions = {});
  ~RelayShell() override;
  RelayShell(const RelayShell&) = delete;
  RelayShell& operator=(const RelayShell&) = delete;

  // The start order: settings, text-file folder, event texts, debug log, the
  // icon, then the engine's start sequence (local addresses, listener, first
  // board search, relay responder and probe, timers). Call once.
  void start();

  // The shutdown order: the local-address sockets closed, the icon removed,
  // then the engine released with all its remaining sockets. Call once, after
  // the loop has stopped; the shell is inert afterwards.
  void shutdown();

  // Accepted new values (a configuration dialog's OK): stored, passed to the
  // engine for the ones that need more than storing (search period, server
  // port), then all nine written to the settings file.
  void applySettings(const engine::RelaySettings& accepted);

  const engine::RelaySettings& settings() const { return settings_; }
  const std::string& settingsPath() const { return settingsPath_; }
  const std::string& textFolder() const { return textFolder_; }
  const EventTexts& eventTexts() const { return eventTexts_; }
  const DebugLog& debugLog() const { return debugLog_; }
  // The status list as last rebuilt (empty until the engine's first refresh).
  const std::vector<StatusRow>& statusRows() const { return statusRows_; }
  // Null before start() and after shutdown().
  const engine::Engine* engine() const { return engine_.get(); }

  // engine::ShellServices
  void refreshStatusList() override;
  void raiseEvent(engine::EventIndex event, const engine::BoardRecord* board, const std::string& extra) override;
  bool debugLogEnabled() const override;
  void writeDebugLog(int tag, const engine::Ipv4Address& from, const engine::Ipv4Address& to,
                     const uint8_t* bytes, int count) override;
  void listenerFailed(int32_t serverPort) override;
  void anotherRelayFound(const engine::Ipv4Address& other) override;

 private:
  ShellFront& front_;
  platform::EventLoop& loop_;
  ShellPaths paths_;
  LogClock clock_;
  engine::EngineOptions engineOptions_;

  engine::RelaySettings settings_;  // read by the engine at each use
  std::string settingsPath_;
  std::string textFolder_;
  EventTexts eventTexts_;
  DebugLog debugLog_;
  SystemLog systemLog_;
  std::vector<StatusRow> statusRows_;
  // Declared last: destroyed first, while the settings it reads still exist.
  std::unique_ptr<engine::Engine> engine_;
};

}  // namespace shell
