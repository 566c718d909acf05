#include "tools/boardsim/board_config.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using boardsim::BoardSetup;
using boardsim::Faults;
using boardsim::InputMode;
using boardsim::ParseOutcome;
using boardsim::SimulatorOptions;

TEST(BoardsimConfig, BoardOptionWithEveryField) {
  BoardSetup board;
  std::string error;
  ASSERT_TRUE(boardsim::parseBoardOption(
      "ip=10.77.0.11,id=3,type=0x13,mac=02:aa:bb:cc:dd:ee,inputs=counter:50,fault=slow:200+split,version=0x0107:2",
      board, error))
      << error;
  EXPECT_EQ(board.identity.address.toString(), "10.77.0.11");
  EXPECT_EQ(board.identity.boardId, 3);
  EXPECT_EQ(board.identity.typeCode, 0x13);
  EXPECT_EQ(protocol::macToString(board.identity.mac), "02:aa:bb:cc:dd:ee");
  EXPECT_EQ(board.inputs.mode, InputMode::Counter);
  EXPECT_EQ(board.inputs.periodMs, 50u);
  EXPECT_EQ(board.faults.slowMs, 200u);
  EXPECT_TRUE(board.faults.split);
  EXPECT_EQ(board.version[0], 0x0107);
  EXPECT_EQ(board.version[1], 2);
}

TEST(BoardsimConfig, DefaultsForAMinimalBoard) {
  BoardSetup board;
  std::string error;
  ASSERT_TRUE(boardsim::parseBoardOption("ip=10.77.0.12", board, error)) << error;
  EXPECT_EQ(board.identity.boardId, 0);
  EXPECT_EQ(board.identity.typeCode, 0x12);
  EXPECT_EQ(protocol::macToString(board.identity.mac), "02:00:0a:4d:00:0c");
  EXPECT_EQ(board.inputs.mode, InputMode::FollowOutputs);
  EXPECT_EQ(board.faults, Faults{});
}

TEST(BoardsimConfig, RejectsBadBoardOptionsWithAReason) {
  const char* bad[] = {
      "",                           // no ip
      "id=3",                       // no ip
      "ip=10.77.0",                 // short address
      "ip=10.77.0.256",             // octet too big
      "ip=10.77.0.1x",              // not a number
      "ip=10.77.0.11,id=16",        // Board IDs end at 15
      "ip=10.77.0.11,type=0x100",   // type is a byte
      "ip=10.77.0.11,mac=02:00:00", // short MAC
      "ip=10.77.0.11,inputs=often", // unknown input mode
      "ip=10.77.0.11,inputs=counter:0",
      "ip=10.77.0.11,fault=flaky",  // unknown fault
      "ip=10.77.0.11,fault=drop:0",
      "ip=10.77.0.11,version=1",    // needs two values
      "ip=10.77.0.11,colour=red",   // unknown field
      "ip=10.77.0.11,id",           // not KEY=VALUE
  };
  for (const char* text : bad) {
    BoardSetup board;
    std::string error;
    EXPECT_FALSE(boardsim::parseBoardOption(text, board, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(BoardsimConfig, FaultsAndInputsReadBackAsWritten) {
  const char* faults[] = {"none", "silent", "nosearch", "slow:300", "split", "drop:2", "silent+slow:5+split+drop:9"};
  for (const char* text : faults) {
    Faults parsed;
    std::string error;
    ASSERT_TRUE(boardsim::parseFaults(text, parsed, error)) << text << ": " << error;
    EXPECT_EQ(boardsim::describeFaults(parsed), text);
  }
  const char* inputs[] = {"follow", "fixed:0x0000ff00", "counter:100"};
  for (const char* text : inputs) {
    boardsim::InputSetup parsed;
    std::string error;
    ASSERT_TRUE(boardsim::parseInputs(text, parsed, error)) << text << ": " << error;
    EXPECT_EQ(boardsim::describeInputs(parsed), text);
  }
}

ParseOutcome parse(std::vector<const char*> args, SimulatorOptions& options, std::string& error) {
  args.insert(args.begin(), "boardsim");
  return boardsim::parseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(BoardsimConfig, CountMakesConsecutiveBoards) {
  SimulatorOptions options;
  std::string error;
  ASSERT_EQ(parse({"--count", "3", "--first-ip", "10.77.0.11", "--first-id", "14", "--type", "0x13"}, options, error),
            ParseOutcome::Run)
      << error;
  ASSERT_EQ(options.boards.size(), 3u);
  EXPECT_EQ(options.boards[2].identity.address.toString(), "10.77.0.13");
  EXPECT_EQ(options.boards[0].identity.boardId, 14);
  EXPECT_EQ(options.boards[2].identity.boardId, 0);  // IDs wrap at 16
  EXPECT_EQ(options.boards[1].identity.typeCode, 0x13);
  EXPECT_NE(options.boards[0].identity.mac, options.boards[1].identity.mac);
  EXPECT_EQ(options.searchPort, 30718);
  EXPECT_EQ(options.boardPort, 10001);
}

TEST(BoardsimConfig, CommandLineMistakesAreErrors) {
  const std::vector<std::vector<const char*>> bad = {
      {},
      {"--bogus"},
      {"--board"},
      {"--count", "2"},
      {"--first-ip", "10.0.0.1", "--board", "ip=10.0.0.2"},
      {"--count", "3", "--first-ip", "10.0.0.253"},
      {"--board", "ip=10.0.0.2", "--board", "ip=10.0.0.2"},
      {"--board", "ip=10.0.0.2", "--board-port", "70000"},
  };
  for (const auto& args : bad) {
    SimulatorOptions options;
    std::string error;
    EXPECT_EQ(parse(args, options, error), ParseOutcome::Error) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(error.empty());
  }
  SimulatorOptions options;
  std::string error;
  EXPECT_EQ(parse({"--board", "ip=10.0.0.2", "--help"}, options, error), ParseOutcome::Help);
}

}  // namespace
