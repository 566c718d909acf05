#include "tools/boardsim/board_model.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/board_commands.h"

namespace {

using boardsim::BoardIdentity;
using boardsim::BoardModel;
using boardsim::FrameOutcome;
using boardsim::InputMode;
using Bytes = std::vector<uint8_t>;

BoardIdentity identity(uint8_t id, uint8_t type = 0x12) {
  BoardIdentity board;
  board.address.octets = {10, 77, 0, 11};
  board.mac = {0x02, 0x00, 0x0a, 0x4d, 0x00, 0x0b};
  board.boardId = id;
  board.typeCode = type;
  return board;
}

Bytes bytesOf(const protocol::RequestFrame& frame) { return Bytes(frame.view().begin(), frame.view().end()); }

// Bytes 4-5 of a reply are the board's own; compare everything else.
Bytes withoutBoardWord(Bytes reply) {
  if (reply.size() >= 6) reply[4] = reply[5] = 0;
  return reply;
}

Bytes answer(BoardModel& board, const Bytes& frame) {
  const auto result = board.handleFrame(frame);
  EXPECT_EQ(result.outcome, FrameOutcome::Replied);
  return withoutBoardWord(result.reply);
}

TEST(BoardsimModel, AnswersTheByteExamplesOfTheCommandSet) {
  BoardModel board(identity(3));
  // Byte write of 0x5A to port 1 of board 3, and its empty reply.
  const Bytes write = {0x03, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x92, 0x00,
                       0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x5A, 0x00, 0x00};
  EXPECT_EQ(bytesOf(protocol::writeByteFrame(3, 1, 0x5A)), write);
  EXPECT_EQ(answer(board, write), (Bytes{0x03, 0x92, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  // The loop-back board reads its outputs as inputs.
  const Bytes read = {0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x93, 0x01};
  EXPECT_EQ(answer(board, read), (Bytes{0x03, 0x93, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5A, 0x00, 0x00}));
}

struct CommandCase {
  const char* name;
  protocol::RequestFrame request;
  Bytes expectedReply;  // bytes 4-5 zeroed
  uint32_t outputsAfter;
};

class BoardsimModelCommands : public testing::TestWithParam<CommandCase> {};

// Every case starts from outputs 0x11223344, inputs fixed at 0xA1B2C3D4 and
// version 0x0105/0x0200.
TEST_P(BoardsimModelCommands, RepliesAndSetsOutputs) {
  const CommandCase& c = GetParam();
  BoardModel board(identity(5));
  board.setInputMode(InputMode::Fixed);
  board.setInputValue(0xA1B2C3D4);
  ASSERT_EQ(board.handleFrame(bytesOf(protocol::writeOutputsFrame(5, 0x11223344))).outcome, FrameOutcome::Replied);
  EXPECT_EQ(answer(board, bytesOf(c.request)), c.expectedReply);
  EXPECT_EQ(board.outputs(), c.outputsAfter);
}

constexpr uint8_t kId = 5;
INSTANTIATE_TEST_SUITE_P(
    AllCommands, BoardsimModelCommands,
    testing::Values(
        CommandCase{"ReadInputs", protocol::readInputsFrame(kId),
                    {kId, 0x93, 4, 0, 0, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1}, 0x11223344},
        CommandCase{"ReadOutputs", protocol::readOutputsFrame(kId),
                    {kId, 0x91, 4, 0, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11}, 0x11223344},
        CommandCase{"ReadVersion", protocol::readVersionFrame(kId),
                    {kId, 0xF1, 4, 0, 0, 0, 0, 0, 0x05, 0x01, 0x00, 0x02}, 0x11223344},
        CommandCase{"WriteOutputs", protocol::writeOutputsFrame(kId, 0xCAFEF00D),
                    {kId, 0x90, 0, 0, 0, 0, 0, 0}, 0xCAFEF00D},
        CommandCase{"WriteByteAtPort0", protocol::writeByteFrame(kId, 0, 0xEE),
                    {kId, 0x92, 0, 0, 0, 0, 0, 0}, 0x112233EE},
        CommandCase{"WriteByteAtPort3", protocol::writeByteFrame(kId, 3, 0xEE),
                    {kId, 0x92, 0, 0, 0, 0, 0, 0}, 0xEE223344},
        CommandCase{"WriteWordAtPosition1", protocol::writeWordFrame(kId, 1, 0xBEEF),
                    {kId, 0x92, 0, 0, 0, 0, 0, 0}, 0x11BEEF44},
        // At position 3 only port 3 exists: the low byte of the word lands there.
        CommandCase{"WriteWordAtPosition3", protocol::writeWordFrame(kId, 3, 0x1234),
                    {kId, 0x92, 0, 0, 0, 0, 0, 0}, 0x34223344},
        CommandCase{"Exchange", protocol::exchangeFrame(kId, 0x0F0F0F0F),
                    {kId, 0x95, 8, 0, 0, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1, 0x0F, 0x0F, 0x0F, 0x0F}, 0x0F0F0F0F},
        CommandCase{"SetFilter", protocol::filterFrame(kId, 0x81, 5),
                    {kId, 0xA2, 0, 0, 0, 0, 0, 0}, 0x11223344}),
    [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

TEST(BoardsimModel, ExchangeOnALoopBackBoardReportsTheNewOutputsAsInputs) {
  BoardModel board(identity(1));
  const Bytes reply = answer(board, bytesOf(protocol::exchangeFrame(1, 0x89ABCDEF)));
  EXPECT_EQ(reply, (Bytes{1, 0x95, 8, 0, 0, 0, 0, 0, 0xEF, 0xCD, 0xAB, 0x89, 0xEF, 0xCD, 0xAB, 0x89}));
}

TEST(BoardsimModel, FilterSettingsGoOnlyToSelectedGroups) {
  BoardModel board(identity(2));
  const Bytes request = bytesOf(protocol::filterFrame(2, 0x81, 5));
  // The payload of the group mask 0x81 with setting 5.
  EXPECT_EQ(Bytes(request.begin() + 8, request.end()), (Bytes{0xA2, 0x81, 0x05, 0x00, 0x00, 0x50}));
  answer(board, request);
  for (unsigned group = 0; group < 8; ++group)
    EXPECT_EQ(board.filterSetting(group), (group == 0 || group == 7) ? 5 : 0) << "group " << group;
  // Group mask 0 is accepted and changes nothing.
  answer(board, bytesOf(protocol::filterFrame(2, 0x00, 9)));
  EXPECT_EQ(board.filterSetting(0), 5);
}

TEST(BoardsimModel, IdentificationAndAliveRequestsCarryIdAndType) {
  BoardModel board(identity(7, 0x13));
  // The relay's 24-byte request: unit 0xFF (identification) or the ID (alive).
  Bytes request = {0xFF, 0, 0x10, 0, 0, 0, 0, 0, 0xFF, 0, 0x02, 0x00, 0x0a, 0x4d, 0x00, 0x0b,
                   10, 77, 0, 11, 0, 0, 0, 0};
  const Bytes expected = {7,    0xFF, 0x10, 0, 0, 0, 0, 0, 7, 0x13, 0x02, 0x00, 0x0a, 0x4d, 0x00, 0x0b,
                          10,   77,   0,    11, 0, 0, 0, 0};
  EXPECT_EQ(answer(board, request), expected);
  request[0] = 7;
  EXPECT_EQ(answer(board, request), expected);
  request[0] = 6;
  EXPECT_EQ(board.handleFrame(request).outcome, FrameOutcome::NotForUs);
}

TEST(BoardsimModel, RepliesCarryARunningBoardWord) {
  BoardModel board(identity(0));
  const auto first = board.handleFrame(bytesOf(protocol::readOutputsFrame(0))).reply;
  const auto second = board.handleFrame(bytesOf(protocol::readOutputsFrame(0))).reply;
  EXPECT_NE(first[4] | first[5] << 8, second[4] | second[5] << 8);
  EXPECT_EQ(first[6], 0);
  EXPECT_EQ(first[7], 0);
}

TEST(BoardsimModel, StaysQuietOnFramesItCannotTake) {
  BoardModel board(identity(4));
  struct Case {
    const char* what;
    Bytes frame;
    FrameOutcome outcome;
  };
  const Case cases[] = {
      {"another unit", bytesOf(protocol::readInputsFrame(3)), FrameOutcome::NotForUs},
      {"unknown code 0x0093", {4, 0, 2, 0, 0, 0, 0, 0, 0x93, 0x00}, FrameOutcome::Unknown},
      {"identify (USB only)", {4, 0, 2, 0, 0, 0, 0, 0, 0xF3, 0x00}, FrameOutcome::Unknown},
      {"write outputs too short", {4, 0, 4, 0, 0, 0, 0, 0, 0x90, 0x00, 1, 2}, FrameOutcome::Unknown},
      {"read inputs too long", {4, 0, 3, 0, 0, 0, 0, 0, 0x93, 0x01, 0}, FrameOutcome::Unknown},
      {"filter too short", {4, 0, 2, 0, 0, 0, 0, 0, 0xA2, 0x01}, FrameOutcome::Unknown},
      {"no command", {4, 0, 0, 0, 0, 0, 0, 0}, FrameOutcome::Unknown},
  };
  for (const Case& c : cases) {
    const auto result = board.handleFrame(c.frame);
    EXPECT_EQ(result.outcome, c.outcome) << c.what;
    EXPECT_TRUE(result.reply.empty()) << c.what;
  }
  EXPECT_EQ(board.outputs(), 0u);
}

TEST(BoardsimModel, InputModes) {
  BoardModel board(identity(0));
  answer(board, bytesOf(protocol::writeOutputsFrame(0, 0x55)));
  EXPECT_EQ(board.inputs(), 0x55u);  // follows by default
  board.setInputMode(InputMode::Fixed);
  board.setInputValue(0x1234);
  board.onInputTick();
  EXPECT_EQ(board.inputs(), 0x1234u);
  board.setInputMode(InputMode::Counter);
  board.setInputValue(0xFFFFFFFF);
  board.onInputTick();
  EXPECT_EQ(board.inputs(), 0u);  // wraps like a 32-bit counter
  board.onInputTick();
  EXPECT_EQ(board.inputs(), 1u);
}

}  // namespace
