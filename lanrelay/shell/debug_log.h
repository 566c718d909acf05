// The service log: one line per frame, datagram or connection change the
// engine reports, all in one file "debug.log". It is on only when the debug
// settings file ("debug.ini", [LOG] FOLDER) names an existing folder; that is
// decided once at start. Lines end in CR LF.
//
// Thread: the relay's loop thread only.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "lanrelay/shell/log_clock.h"
#include "protocol/relay_messages.h"

namespace shell {

// Tag values with a word of their own; any other tag is printed in decimal
// (the engine passes a board's ID there).
constexpr int kDebugTagControl = -1;   // "-"
constexpr int kDebugTagDatagram = -2;  // "udp"

// State words, chosen by the count of an entry without bytes.
constexpr int kDebugClose = 0;
constexpr int kDebugTimeout = -1;
constexpr int kDebugConnecting = -2;
constexpr int kDebugConnect = -3;
constexpr int kDebugConnectError = -4;
// With bytes, this count prints 16 of them.
constexpr int kDebugSixteenBytes = -8;

// One entry: bytes given (`hasBytes`) prints min(count, bytes.size()) of them
// (16 for count -8); no bytes prints the state word of `count`. An address of
// 0.0.0.0 stands for the relay itself and prints "lanrelay".
struct DebugEntry {
  int tag = kDebugTagControl;
  protocol::Ipv4Address from;
  protocol::Ipv4Address to;
  bool hasBytes = false;
  std::span<const uint8_t> bytes;
  int count = 0;
};

// "%02d:%02d:%02d.%03d,tag,from,to" then ",%02x" per byte or the state word,
// then CR LF.
std::string debugLogLine(const LocalTime& time, const DebugEntry& entry);

class DebugLog {
 public:
  // Off: writes nothing.
  DebugLog();
  // Reads [LOG] FOLDER from `debugSettingsPath`; on when that folder exists.
  DebugLog(const std::string& debugSettingsPath, LogClock clock);

  bool enabled() const { return enabled_; }
  const std::string& path() const { return path_; }  // "<folder>/debug.log" when enabled

  // Appends the entry's line when enabled; lost quietly when it cannot be written.
  void write(const DebugEntry& entry) const;

 private:
  bool enabled_ = false;
  std::string path_;
  LogClock clock_;
};

}  // namespace shell
