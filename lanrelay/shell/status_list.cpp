#include "lanrelay/shell/status_list.h"

#include <algorithm>

#include "lanrelay/shell/board_type_names.h"

namespace shell {
namespace {

// Width on a terminal, counted in UTF-8 characters.
size_t displayWidth(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

const StatusRow& statusHeadings() {
  static const StatusRow headings = {"Status", "Board ID", "Type", "IP Address", "MAC address", "Open Device PC"};
  return headings;
}

const std::array<int, kStatusColumnCount>& statusWidthShares() {
  static const std::array<int, kStatusColumnCount> shares = {15, 10, 10, 15, 15, 35};
  return shares;
}

const char* boardStateText(engine::BoardState state) {
  switch (state) {
    case engine::BoardState::Connecting: return "Connecting";
    case engine::BoardState::Information: return "Information";
    case engine::BoardState::Connected: return "Connected";
    case engine::BoardState::Disconnected: return "Disconnected";
    default: return "";
  }
}

StatusRow statusRow(const engine::BoardRecord& board) {
  StatusRow row;
  row[0] = boardStateText(board.state);
  row[1] = board.boardId < 0 ? "-" : std::to_string(board.boardId);
  row[2] = boardTypeName(board.typeCode);  // "-" outside 0..255
  row[3] = board.ip.toString();
  row[4] = protocol::macToString(board.mac);
  for (const auto& [clientSocket, address] : board.openers) {
    if (!row[5].empty()) row[5] += ',';
    row[5] += address.toString();
  }
  return row;
}

std::vector<StatusRow> statusRows(const std::vector<engine::BoardRecord>& boards) {
  std::vector<StatusRow> rows;
  for (const engine::BoardRecord& board : boards) {
    if (board.state != engine::BoardState::NoDevice) rows.push_back(statusRow(board));
  }
  return rows;
}

std::string formatStatusTable(const std::vector<StatusRow>& rows) {
  std::array<size_t, kStatusColumnCount> widths{};
  auto widen = [&widths](const StatusRow& row) {
    for (size_t c = 0; c < kStatusColumnCount; ++c) widths[c] = std::max(widths[c], displayWidth(row[c]));
  };
  widen(statusHeadings());
  for (const StatusRow& row : rows) widen(row);

  std::string table;
  auto emit = [&](const StatusRow& row) {
    std::string line;
    for (size_t c = 0; c < kStatusColumnCount; ++c) {
      line += row[c];
      if (c + 1 < kStatusColumnCount) line.append(widths[c] - displayWidth(row[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    table += line + "\n";
  };
  emit(statusHeadings());
  for (const StatusRow& row : rows) emit(row);
  return table;
}

}  // namespace shell
