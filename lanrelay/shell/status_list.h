// The status list as text: one row of six cells per board the relay knows
// (state, board ID, type, IP address, MAC address, the PCs that have it open),
// rebuilt from the engine's board table on every refresh. A GUI front draws
// these rows in its list; the headless front prints them for `--status`.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "lanrelay/engine/records.h"

namespace shell {

constexpr size_t kStatusColumnCount = 6;
using StatusRow = std::array<std::string, kStatusColumnCount>;

// "Status", "Board ID", "Type", "IP Address", "MAC address", "Open Device PC".
const StatusRow& statusHeadings();
// Width shares of the columns in percent (15, 10, 10, 15, 15, 35).
const std::array<int, kStatusColumnCount>& statusWidthShares();

// "Connecting", "Information", "Connected", "Disconnected"; "" for NoDevice
// or any other value.
const char* boardStateText(engine::BoardState state);

// The row of one board. Board ID "-" when negative, type "-" outside 0..255,
// openers' addresses in the map's order joined by ",".
StatusRow statusRow(const engine::BoardRecord& board);

// One row per record in table order; records in NoDevice get none.
std::vector<StatusRow> statusRows(const std::vector<engine::BoardRecord>& boards);

// Headings and rows as a plain-text table: columns left-aligned and padded to
// their widest cell, two spaces apart, lines ending in "\n" (no trailing blanks).
std::string formatStatusTable(const std::vector<StatusRow>& rows);

}  // namespace shell
