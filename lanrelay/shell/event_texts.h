// The operator-facing texts of the relay's events, read once at start from the
// editable event text file "message.ini" (one section per event: ICON, TITLE,
// MESSAGE), and the filling of their placeholders with a board's data.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "lanrelay/engine/event_index.h"
#include "lanrelay/engine/records.h"
#include "protocol/relay_messages.h"

namespace shell {

struct EventText {
  engine::IconKind icon = engine::IconKind::None;
  std::string title;
  std::string message;
};

// Indexed by engine::EventIndex; sections engine::kEventKeys.
using EventTexts = std::array<EventText, engine::kEventCount>;

// ICON "INFORMATION", "WARNING", "ERROR" (exact, case included); anything
// else means no icon.
engine::IconKind iconKindFromWord(std::string_view word);

// All ten events from the file; a missing file, section or key gives empty
// texts and icon 0. Texts are cut to 259 characters.
EventTexts loadEventTexts(const std::string& messageFilePath);

// Fills, in this order: with a board (null: none), "{id}", "{type}" (type code 0..255 only),
// "{ip}" (the extra text for events 2 and 3, else the board's address) and
// "{dupmac}"; "{duplicate}" with the extra text for events 4 and 5;
// "{information}" with the extra text for events 6 to 9; finally each
// backslash-n pair becomes CR LF. A placeholder outside its condition stays.
std::string fillPlaceholders(std::string_view text, engine::EventIndex event, const engine::BoardRecord* board,
                             std::string_view extra);

}  // namespace shell
