#include "tools/boardsim/frame_assembler.h"

#include <gtest/gtest.h>

#include "tools/boardsim/search_answer.h"

namespace {

using boardsim::FrameAssembler;
using Bytes = std::vector<uint8_t>;

const Bytes kReadInputs = {0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x93, 0x01};
const Bytes kWriteOutputs = {0x03, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x90, 0x00, 1, 2, 3, 4};

TEST(BoardsimFrameAssembler, AssemblesAFrameSplitAtEveryByte) {
  for (size_t cut = 0; cut <= kWriteOutputs.size(); ++cut) {
    FrameAssembler assembler;
    auto first = assembler.feed({kWriteOutputs.data(), cut});
    auto second = assembler.feed({kWriteOutputs.data() + cut, kWriteOutputs.size() - cut});
    first.insert(first.end(), second.begin(), second.end());
    ASSERT_EQ(first.size(), 1u) << "cut at " << cut;
    EXPECT_EQ(first[0], kWriteOutputs);
  }
}

TEST(BoardsimFrameAssembler, TwoFramesInOneReadComeOutInOrder) {
  Bytes both = kReadInputs;
  both.insert(both.end(), kWriteOutputs.begin(), kWriteOutputs.end());
  FrameAssembler assembler;
  const auto frames = assembler.feed(both);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], kReadInputs);
  EXPECT_EQ(frames[1], kWriteOutputs);
}

TEST(BoardsimFrameAssembler, SkipsBytesThatCannotStartAFrame) {
  // Bytes above 0x0F (other than 0xFF) are never a unit byte.
  Bytes stream = {0x20, 0x7F, 0xAB};
  stream.insert(stream.end(), kReadInputs.begin(), kReadInputs.end());
  FrameAssembler assembler;
  const auto frames = assembler.feed(stream);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], kReadInputs);
  EXPECT_EQ(assembler.discardedBytes(), 3u);
}

TEST(BoardsimFrameAssembler, ImplausibleHeadersNeverBecomeFrames) {
  struct Case {
    const char* what;
    Bytes header;
  };
  const Case cases[] = {
      {"bytes 6-7 not zero", {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}},
      {"length beyond 512", {0x01, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    FrameAssembler assembler;
    for (const auto& frame : assembler.feed(c.header)) EXPECT_NE(frame.size(), c.header.size()) << c.what;
    EXPECT_GE(assembler.discardedBytes(), 1u) << c.what;
  }
}

TEST(BoardsimFrameAssembler, TakesTheRelaysIdentificationRequest) {
  Bytes request(24, 0);
  request[0] = 0xFF;
  request[2] = 0x10;
  request[8] = 0xFF;
  FrameAssembler assembler;
  const auto frames = assembler.feed(request);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], request);
}

TEST(BoardsimSearchAnswer, RecognisesOnlyTheSearch) {
  EXPECT_TRUE(boardsim::isBoardSearch(Bytes{0x00, 0x00, 0x00, 0xF6}));
  EXPECT_FALSE(boardsim::isBoardSearch(Bytes{0x00, 0x00, 0xF6}));
  EXPECT_FALSE(boardsim::isBoardSearch(Bytes{0x00, 0x00, 0x00, 0xF7}));
  EXPECT_FALSE(boardsim::isBoardSearch(Bytes{0x91, 0x00}));
}

TEST(BoardsimSearchAnswer, CarriesTheMacInBytes24To29) {
  boardsim::BoardIdentity board;
  board.address.octets = {10, 77, 0, 12};
  board.mac = {0x02, 0x00, 0x0a, 0x4d, 0x00, 0x0c};
  board.boardId = 9;
  board.typeCode = 0x13;
  const auto answer = boardsim::buildSearchAnswer(board);
  ASSERT_GE(answer.size(), 30u);
  EXPECT_EQ(Bytes(answer.begin() + 24, answer.begin() + 30), Bytes(board.mac.begin(), board.mac.end()));
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 10), (Bytes{0, 0, 0, 0xF7, 10, 77, 0, 12, 0x13, 9}));
}

}  // namespace
