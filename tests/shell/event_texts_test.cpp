#include "lanrelay/shell/event_texts.h"

#include <gtest/gtest.h>

#include "lanrelay/shell/board_type_names.h"
#include "temp_folder.h"

namespace shell {
namespace {

using engine::EventIndex;
using engine::IconKind;
using shell_test::TempFolder;

engine::BoardRecord board3() {
  engine::BoardRecord board;
  board.state = engine::BoardState::Connected;
  board.boardId = 3;
  board.typeCode = 0x12;
  board.ip = protocol::Ipv4Address{{10, 0, 0, 5}};
  board.mac = {0x00, 0x80, 0x4c, 0xab, 0x0c, 0xff};
  return board;
}

TEST(ShellEventTexts, LoadsAllTenSectionsWithExactIconWords) {
  TempFolder dir;
  dir.write("message.ini",
            "[CONNECT]\nICON=INFORMATION\nTITLE=Up {id}\nMESSAGE=Board {id}\n"
            "[DISCONNECT]\nICON=WARNING\nTITLE=Down\n"
            "[OPEN]\nICON=error\nTITLE=lower case icon\n"
            "[DUPLICATE]\nICON=ERROR\n"
            "[DEBUG_INFORMATION]\nICON=INFORMATION\nMESSAGE=" + std::string(300, 'm') + "\n");
  EventTexts texts = loadEventTexts(dir.file("message.ini"));
  EXPECT_EQ(texts[0].icon, IconKind::Information);
  EXPECT_EQ(texts[0].title, "Up {id}");
  EXPECT_EQ(texts[0].message, "Board {id}");
  EXPECT_EQ(texts[1].icon, IconKind::Warning);
  EXPECT_EQ(texts[1].message, "");
  EXPECT_EQ(texts[2].icon, IconKind::None) << "ICON words are compared with their case";
  EXPECT_EQ(texts[3].icon, IconKind::None);
  EXPECT_EQ(texts[3].title, "");
  EXPECT_EQ(texts[4].icon, IconKind::Error);
  EXPECT_EQ(texts[9].message, std::string(259, 'm'));
}

TEST(ShellEventTexts, MissingFileGivesEmptyTexts) {
  TempFolder dir;
  for (const EventText& text : loadEventTexts(dir.file("message.ini"))) {
    EXPECT_EQ(text.icon, IconKind::None);
    EXPECT_EQ(text.title, "");
    EXPECT_EQ(text.message, "");
  }
}

TEST(ShellEventTexts, ShippedTextsCoverEveryEvent) {
  EventTexts texts = loadEventTexts(LANRELAY_SHIPPED_MESSAGE_INI);
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_NE(texts[i].icon, IconKind::None) << engine::kEventKeys[i];
    EXPECT_FALSE(texts[i].title.empty()) << engine::kEventKeys[i];
    EXPECT_FALSE(texts[i].message.empty()) << engine::kEventKeys[i];
  }
}

struct FillCase {
  const char* name;
  const char* text;
  EventIndex event;
  bool withBoard;
  const char* extra;
  const char* expected;
};

class ShellFillPlaceholders : public ::testing::TestWithParam<FillCase> {};

TEST_P(ShellFillPlaceholders, Fills) {
  const FillCase& c = GetParam();
  engine::BoardRecord board = board3();
  EXPECT_EQ(fillPlaceholders(c.text, c.event, c.withBoard ? &board : nullptr, c.extra), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShellFillPlaceholders,
    ::testing::Values(
        FillCase{"IdAndType", "{id}/{type}/{id}", EventIndex::Connect, true, "", "3/LRB-32EX/3"},
        FillCase{"BoardAddressForConnect", "{ip}", EventIndex::Connect, true, "192.168.0.9", "10.0.0.5"},
        FillCase{"ClientAddressForOpen", "{ip}", EventIndex::Open, true, "192.168.0.9", "192.168.0.9"},
        FillCase{"ClientAddressForClose", "{ip}", EventIndex::Close, true, "192.168.0.9", "192.168.0.9"},
        FillCase{"Mac", "{dupmac}", EventIndex::Disconnect, true, "", "00:80:4c:ab:0c:ff"},
        FillCase{"DuplicateKeptForConnect", "{duplicate}", EventIndex::Connect, true, "x", "{duplicate}"},
        FillCase{"DuplicateForDuplicate", "{duplicate}", EventIndex::Duplicate, true, "10.0.0.5,10.0.0.6",
                 "10.0.0.5,10.0.0.6"},
        FillCase{"DuplicateLanrelayWithoutBoard", "{duplicate} {id}", EventIndex::DuplicateLanrelay, false,
                 "10.0.0.7", "10.0.0.7 {id}"},
        FillCase{"InformationForSystemError", "{information}", EventIndex::SystemError, false, "report",
                 "report"},
        FillCase{"InformationKeptForOpen", "{information}", EventIndex::Open, true, "x", "{information}"},
        FillCase{"NoBoardKeepsBoardPlaceholders", "{id}{type}{ip}{dupmac}", EventIndex::SystemError, false, "",
                 "{id}{type}{ip}{dupmac}"},
        FillCase{"BackslashNBecomesCrLf", "two\\nwords", EventIndex::Connect, false, "", "two\r\nwords"},
        FillCase{"ReplacedTextIsNotRescanned", "{information}", EventIndex::SystemError, false, "{information}",
                 "{information}"}),
    [](const ::testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

TEST(ShellFillPlaceholders, TypeStaysForUnidentifiedBoard) {
  engine::BoardRecord board = board3();
  board.typeCode = -1;
  board.boardId = -1;
  EXPECT_EQ(fillPlaceholders("{id} {type}", EventIndex::Disconnect, &board, ""), "-1 {type}");
}

}  // namespace
}  // namespace shell
