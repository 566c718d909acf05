// The relay's nine settings with their defaults. The shell loads and saves
// them (lanrelay.ini); the engine only reads them, at each use, so a changed
// value takes effect at its next use (see Engine::onConfigChanged for the
// ones that need more). Values are used as read: no range check is applied.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

struct RelaySettings {
  // [CLIENT]
  int32_t boardPort = 10001;       // PORT: TCP port of the boards
  int32_t aliveTime = 10;          // ALIVE_TIME: board search period, seconds
  int32_t nonCommTime = 10;        // NON_COMM_TIME: silence before an alive request, seconds
  int32_t responseTime = 300;      // RESPONSE_TIME: time a board has to answer, milliseconds
  int32_t errorCount = 2;          // ERROR_COUNT: alive time-outs in a row that disconnect
  // [SERVER]
  int32_t serverPort = 10010;      // PORT: TCP port on which clients connect
  // [LOG]
  int32_t logFlag = 0;             // FLAG: system log on (non-zero)
  std::string logFolder;           // FOLDER: folder of the daily system log files
  // [POPUP]
  int32_t popupFlag = 1;           // FLAG: event balloons on (non-zero)

  friend bool operator==(const RelaySettings&, const RelaySettings&) = default;
};

}  // namespace engine
