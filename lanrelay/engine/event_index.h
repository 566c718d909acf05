// Events the engine reports to the shell (ShellServices::raiseEvent). The
// values are the section order of the event text file "message.ini".
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace engine {

enum class EventIndex : int32_t {
  Connect = 0,            // a board has become connected; board given
  Disconnect = 1,         // a board connection is lost; board given
  Open = 2,               // a client opened a board; board given, extra = client address
  Close = 3,              // a client that had a board open went away; board, client address
  Duplicate = 4,          // a second board with a connected board's ID and type; board,
                          // extra = "connected board address,this board address"
  DuplicateLanrelay = 5,  // another relay program answered the probe (not raised: see
                          // ShellServices::anotherRelayFound)
  NicConfigUpdate = 6,    // texts loaded; never raised
  OthersError = 7,        // texts loaded; never raised
  SystemError = 8,        // boards sharing an IP address; no board, extra = report text
  DebugInformation = 9,   // texts loaded; never raised
};

constexpr int kEventCount = 10;

// The section names of "message.ini", in index order.
constexpr std::array<std::string_view, kEventCount> kEventKeys = {
    "CONNECT",          "DISCONNECT",   "OPEN",         "CLOSE",        "DUPLICATE",
    "DUPLICATE_LANRELAY", "NICCONFIG_UPDATE", "OTHERS_ERROR", "SYSTEM_ERROR", "DEBUG_INFORMATION"};

// Icon of an event's balloon, and the level word of its system-log line.
enum class IconKind : int32_t {
  None = 0,
  Information = 1,
  Warning = 2,
  Error = 3,
};

}  // namespace engine
