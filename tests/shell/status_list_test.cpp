#include "lanrelay/shell/status_list.h"

#include <gtest/gtest.h>

#include <set>

#include "lanrelay/shell/board_type_names.h"

namespace shell {
namespace {

using engine::BoardRecord;
using engine::BoardState;

TEST(ShellTypeNames, UnknownCodesShowThemselvesInUpperCaseHex) {
  EXPECT_EQ(boardTypeName(0x00), "-(00h)-");
  EXPECT_EQ(boardTypeName(0x0A), "-(0Ah)-");
  EXPECT_EQ(boardTypeName(0x4F), "-(4Fh)-");
  EXPECT_EQ(boardTypeName(0xAF), "-(AFh)-");
  EXPECT_EQ(boardTypeName(0xFF), "-(FFh)-");
  EXPECT_EQ(boardTypeName(-1), "-");
  EXPECT_EQ(boardTypeName(256), "-");
}

TEST(ShellTypeNames, SixModelNamesAreDistinct) {
  std::set<std::string> names;
  for (int code = 0; code < 256; ++code) {
    const std::string& name = boardTypeName(code);
    bool model = code == 0x02 || code == 0x03 || code == 0x12 || code == 0x13 || code == 0x81 || code == 0x82;
    EXPECT_EQ(name.rfind("-(", 0) != 0, model) << code;
    if (!model) {
      EXPECT_EQ(name.size(), 7u) << code;
    }
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 256u);
}

BoardRecord record(BoardState state, int id, int type, protocol::Ipv4Address ip) {
  BoardRecord board;
  board.state = state;
  board.boardId = id;
  board.typeCode = type;
  board.ip = ip;
  board.mac = {0x00, 0x0a, 0xbc, 0xde, 0xf0, 0x01};
  return board;
}

TEST(ShellStatusList, RowsFollowTheTableAndSkipAbsentBoards) {
  std::vector<BoardRecord> boards;
  boards.push_back(record(BoardState::Connecting, -1, -1, {{10, 0, 0, 1}}));
  boards.push_back(record(BoardState::NoDevice, 1, 0x12, {{10, 0, 0, 2}}));
  boards.push_back(record(BoardState::Connected, 3, 0x12, {{10, 0, 0, 3}}));
  boards.push_back(record(BoardState::Disconnected, 4, 0x40, {{10, 0, 0, 4}}));
  boards.push_back(record(BoardState::Information, -1, -1, {{10, 0, 0, 5}}));
  boards[2].openers[12] = {{192, 168, 1, 7}};
  boards[2].openers[9] = {{192, 168, 1, 8}};

  std::vector<StatusRow> rows = statusRows(boards);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (StatusRow{"Connecting", "-", "-", "10.0.0.1", "00:0a:bc:de:f0:01", ""}));
  // Openers in the map's order (by client socket), one comma between, none after.
  EXPECT_EQ(rows[1], (StatusRow{"Connected", "3", boardTypeName(0x12), "10.0.0.3", "00:0a:bc:de:f0:01",
                                "192.168.1.8,192.168.1.7"}));
  EXPECT_EQ(rows[2], (StatusRow{"Disconnected", "4", "-(40h)-", "10.0.0.4", "00:0a:bc:de:f0:01", ""}));
  EXPECT_EQ(rows[3][0], "Information");

  boards[2].openers.erase(9);
  EXPECT_EQ(statusRows(boards)[1][5], "192.168.1.7");
}

TEST(ShellStatusList, HeadingsAndWidthShares) {
  EXPECT_EQ(statusHeadings(), (StatusRow{"Status", "Board ID", "Type", "IP Address", "MAC address", "Open Device PC"}));
  int total = 0;
  for (int share : statusWidthShares()) total += share;
  EXPECT_EQ(total, 100);
}

TEST(ShellStatusList, TableAlignsColumns) {
  std::vector<StatusRow> rows = {{"Connected", "3", "LRB-32EX", "10.0.0.3", "00:0a:bc:de:f0:01", "1.2.3.4"}};
  EXPECT_EQ(formatStatusTable(rows),
            "Status     Board ID  Type      IP Address  MAC address        Open Device PC\n"
            "Connected  3         LRB-32EX  10.0.0.3    00:0a:bc:de:f0:01  1.2.3.4\n");
  EXPECT_EQ(formatStatusTable({}), "Status  Board ID  Type  IP Address  MAC address  Open Device PC\n");
}

}  // namespace
}  // namespace shell
