// The pipe link over the fake driver: identification of both variants, the
// exact packets of every I/O export, and recovery from halted endpoints,
// unplugged boards and transfers that never complete.
#include <gtest/gtest.h>

#include "tests/usbpio/rig.h"

namespace {

using usbpio_test::FakeBoard;
using usbpio_test::Rig;
using Bytes = std::vector<uint8_t>;

class UsbpioPipeLink : public testing::Test {
 protected:
  // One board of variant A (pair 0) as unit 0 and one of variant B as unit 1.
  void loadTwo() {
    rig.addPipeBoard(0, 5);
    rig.addPipeBoard(1, 6);
    rig.load();
    ASSERT_EQ(rig.lib().unitCount(), 2u);
  }
  FakeBoard& board(unsigned n) { return rig.pipes.boards[n]; }
  // Forget what load and open sent, so a test sees only its own packets.
  void clearLogs(unsigned n) {
    board(n).writes.clear();
    board(n).reads.clear();
    board(n).pipeResets.clear();
  }

  Rig rig;
};

TEST_F(UsbpioPipeLink, BothVariantsIdentifyAndReportTheirKind) {
  loadTwo();
  EXPECT_EQ(rig.lib().unit(0).boardId, 5);
  EXPECT_EQ(rig.lib().unit(0).pipeCount, 2);
  EXPECT_EQ(rig.lib().unit(0).endpointAddress[0], 0x02);
  EXPECT_EQ(rig.lib().unit(0).endpointAddress[1], 0x86);
  EXPECT_EQ(rig.lib().unit(0).maxPacketSize[0], 64);
  EXPECT_EQ(rig.lib().unit(1).boardId, 6);
  // The identify packet went out on each variant's OUT pipe.
  ASSERT_FALSE(board(0).writes.empty());
  EXPECT_EQ(board(0).writes[0].bytes, (Bytes{8, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(board(0).writes[0].pipe, 0);
  EXPECT_EQ(board(1).writes[0].pipe, 1);
  EXPECT_EQ(rig.lib().unit(0).linkState, usbpio::kLinkClosed);

  uint16_t code = 0, type = 0;
  EXPECT_EQ(rig.lib().getBoardCode(0, &code), UPIO_BAD_UNIT);  // closed
  ASSERT_EQ(rig.open(0), UPIO_OK);
  ASSERT_EQ(rig.open(1), UPIO_OK);
  EXPECT_EQ(rig.lib().getBoardCode(0, &code), UPIO_OK);
  EXPECT_EQ(code, 0x5A12);
  EXPECT_EQ(rig.lib().getBoardType(0, &type), UPIO_OK);
  EXPECT_EQ(type, 2);
  EXPECT_EQ(rig.lib().getBoardCode(1, &code), UPIO_OK);
  EXPECT_EQ(code, 0x5A10);
  EXPECT_EQ(rig.lib().getBoardType(1, &type), UPIO_OK);
  EXPECT_EQ(type, 1);
}

TEST_F(UsbpioPipeLink, VariantBWithoutSignatureStaysUnidentified) {
  rig.addPipeBoard(1, 6);
  rig.pipes.boards[0].signature = {'X', 'V', 'K'};
  rig.addPipeBoard(0, 7);
  rig.pipes.boards[1].signature = {'X', 'X', 'X'};  // variant A takes any reply
  rig.addPipeBoard(0, 8);
  rig.pipes.boards[2].silentIdentify = true;
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 3u);
  EXPECT_EQ(rig.lib().unit(0).boardId, 99);
  EXPECT_EQ(rig.lib().unit(1).boardId, 7);
  EXPECT_EQ(rig.lib().unit(2).boardId, 99);
}

TEST_F(UsbpioPipeLink, OpeningResetsTheBoardEachTime) {
  loadTwo();
  const int before = board(0).deviceResets;
  ASSERT_EQ(rig.open(0), UPIO_OK);
  EXPECT_EQ(rig.open(0), UPIO_ALREADY_OPEN);
  ASSERT_EQ(rig.lib().closeDevice(0), UPIO_OK);
  EXPECT_EQ(rig.lib().closeDevice(0), UPIO_BAD_UNIT);
  ASSERT_EQ(rig.open(0), UPIO_OK);
  EXPECT_EQ(board(0).deviceResets, before + 2);
}

TEST_F(UsbpioPipeLink, CommandsGoOutAndRepliesComeInOnTheVariantsPipes) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  ASSERT_EQ(rig.open(1), UPIO_OK);
  board(0).inputs = 0x44332211;
  board(1).inputs = 0x88776655;
  clearLogs(0);
  clearLogs(1);
  uint32_t value = 0;
  ASSERT_EQ(rig.lib().rInDW(0, &value), UPIO_OK);
  EXPECT_EQ(value, 0x44332211u);
  ASSERT_EQ(rig.lib().rInDW(1, &value), UPIO_OK);
  EXPECT_EQ(value, 0x88776655u);
  EXPECT_EQ(board(0).writes.at(0).pipe, 0);  // 0x02 on pipe 0
  EXPECT_EQ(board(0).reads, (std::vector<int>{1}));  // 0x86 on pipe 1
  EXPECT_EQ(board(1).writes.at(0).pipe, 1);  // 0x02 on pipe 1
  EXPECT_EQ(board(1).reads, (std::vector<int>{0}));  // 0x81 on pipe 0
  EXPECT_EQ(board(0).writes.at(0).timeoutMs, 5000u);
  EXPECT_EQ(board(0).readTimeouts.back(), 5000u);
}

TEST_F(UsbpioPipeLink, ReadsExchangeWithTheCacheAndRefreshIt) {
  loadTwo();
  ASSERT_EQ(rig.open(1), UPIO_OK);
  board(1).inputs = 0x44332211;
  board(1).outputs = {0xA1, 0xB2, 0xC3, 0xD4};  // set by someone else before
  clearLogs(1);

  uint16_t value = 0;
  ASSERT_EQ(rig.lib().rInB(1, 2, &value), UPIO_OK);
  EXPECT_EQ(value, 0x33);
  // The exchange carries the cache (cleared by open), so the board's outputs follow it.
  EXPECT_EQ(board(1).writes.at(0).bytes, (Bytes{4, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(rig.lib().rInW(1, 1, &value), UPIO_OK);
  EXPECT_EQ(value, 0x3322);
  ASSERT_EQ(rig.lib().rInW(1, 3, &value), UPIO_OK);
  EXPECT_EQ(value, 0x44);

  ASSERT_EQ(rig.lib().wOutDW(1, 0x0D0C0B0A), UPIO_OK);
  // The board's outputs change behind the library's back; a read takes them
  // from reply bytes 4 to 7 into the cache.
  board(1).keepOutputsOnExchange = true;
  board(1).outputs = {0x11, 0x22, 0x33, 0x44};
  ASSERT_EQ(rig.lib().rOutB(1, 1, &value), UPIO_OK);
  EXPECT_EQ(value, 0x22);
  EXPECT_EQ(board(1).writes.back().bytes, (Bytes{4, 0, 0, 0, 0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(rig.lib().unit(1).outputCache, (std::array<uint8_t, 4>{0x11, 0x22, 0x33, 0x44}));
  uint32_t outputs = 0;
  ASSERT_EQ(rig.lib().rOutDW(1, &outputs), UPIO_OK);
  EXPECT_EQ(outputs, 0x44332211u);
  ASSERT_EQ(rig.lib().rOutW(1, 2, &value), UPIO_OK);
  EXPECT_EQ(value, 0x4433);
}

TEST_F(UsbpioPipeLink, ByteAndWordWritesSendTheCacheWithTheirBytesReplaced) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  ASSERT_EQ(rig.lib().wOutDW(0, 0x44332211), UPIO_OK);
  EXPECT_EQ(board(0).writes.back().bytes, (Bytes{2, 0, 0, 0, 0x11, 0x22, 0x33, 0x44}));
  ASSERT_EQ(rig.lib().wOutB(0, 1, 0x5A), UPIO_OK);
  EXPECT_EQ(board(0).writes.back().bytes, (Bytes{2, 0, 0, 0, 0x11, 0x5A, 0x33, 0x44}));
  ASSERT_EQ(rig.lib().wOutW(0, 3, 0xABCD), UPIO_OK);
  EXPECT_EQ(board(0).writes.back().bytes, (Bytes{2, 0, 0, 0, 0x11, 0x5A, 0x33, 0xCD}));
  ASSERT_EQ(rig.lib().wOutW(0, 0, 0xBEEF), UPIO_OK);
  EXPECT_EQ(board(0).writes.back().bytes, (Bytes{2, 0, 0, 0, 0xEF, 0xBE, 0x33, 0xCD}));
  EXPECT_TRUE(board(0).replies.empty());  // writes read nothing back
}

TEST_F(UsbpioPipeLink, InOutExchangesTheValue) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  board(0).inputs = 0xCAFEF00D;
  uint32_t inputs = 0;
  ASSERT_EQ(rig.lib().inOutDW(0, &inputs, 0x000000FF), UPIO_OK);
  EXPECT_EQ(inputs, 0xCAFEF00Du);
  EXPECT_EQ(board(0).writes.back().bytes, (Bytes{4, 0, 0, 0, 0xFF, 0, 0, 0}));
  EXPECT_EQ(rig.lib().unit(0).outputCache, (std::array<uint8_t, 4>{0xFF, 0, 0, 0}));
}

TEST_F(UsbpioPipeLink, FilterPacketAndSerialOnlyExports) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  ASSERT_EQ(rig.lib().setFilter(0, 0xF, 0), UPIO_OK);
  EXPECT_EQ(board(0).writes.back().bytes, (Bytes{1, 0, 0, 0, 0x0F, 0, 1, 0}));
  ASSERT_EQ(rig.lib().setFilter(0, 0x3, 0x1234), UPIO_OK);
  EXPECT_EQ(board(0).writes.back().bytes, (Bytes{1, 0, 0, 0, 0x03, 0, 0x34, 0x12}));
  EXPECT_EQ(rig.lib().setFilterEx(0, 0x81, 3), UPIO_BAD_UNIT);
  uint16_t version[2] = {};
  EXPECT_EQ(rig.lib().rVersion(0, version), UPIO_BAD_UNIT);
}

TEST_F(UsbpioPipeLink, UnpluggedBoardFailsBeforeAnyTransfer) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  clearLogs(0);
  board(0).attached = false;
  uint32_t value = 0;
  EXPECT_EQ(rig.lib().rInDW(0, &value), UPIO_NOT_OPEN);
  EXPECT_EQ(rig.lib().wOutDW(0, 1), UPIO_NOT_OPEN);
  EXPECT_TRUE(board(0).writes.empty());
  EXPECT_TRUE(board(0).reads.empty());
  EXPECT_EQ(rig.lib().unit(0).linkState, usbpio::kPipeLinkOpen);  // stays open until closed
}

struct HaltCase {
  const char* name;
  unsigned unit;
  uint8_t haltedEndpoint;
  int resetPipe;
};
void PrintTo(const HaltCase& c, std::ostream* os) { *os << c.name; }

class UsbpioPipeHalt : public UsbpioPipeLink, public testing::WithParamInterface<HaltCase> {};

TEST_P(UsbpioPipeHalt, HaltedEndpointIsResetAndReported) {
  loadTwo();
  const HaltCase& c = GetParam();
  ASSERT_EQ(rig.open(c.unit), UPIO_OK);
  clearLogs(c.unit);
  board(c.unit).halted.insert(c.haltedEndpoint);
  uint32_t value = 0;
  EXPECT_EQ(rig.lib().rInDW(c.unit, &value), UPIO_PIPE_HALTED);
  EXPECT_EQ(board(c.unit).pipeResets, (std::vector<int>{c.resetPipe}));
  // The reset cleared the halt: the next call goes through.
  EXPECT_EQ(rig.lib().rInDW(c.unit, &value), UPIO_OK);
}

INSTANTIATE_TEST_SUITE_P(Endpoints, UsbpioPipeHalt,
                         testing::Values(HaltCase{"VariantAOut", 0, 0x02, 0}, HaltCase{"VariantAIn", 0, 0x86, 1},
                                         HaltCase{"VariantBOut", 1, 0x02, 1}, HaltCase{"VariantBIn", 1, 0x81, 0}),
                         [](const testing::TestParamInfo<HaltCase>& info) { return info.param.name; });

TEST_F(UsbpioPipeLink, FailedTransferTellsAttachedFromGone) {
  loadTwo();
  ASSERT_EQ(rig.open(1), UPIO_OK);
  clearLogs(1);
  board(1).failTransfers = true;
  EXPECT_EQ(rig.lib().wOutDW(1, 1), UPIO_BAD_UNIT);  // still attached
  EXPECT_EQ(board(1).pipeResets, (std::vector<int>{1}));
  board(1).failTransfers = false;
  board(1).unplugDuringTransfer = true;
  EXPECT_EQ(rig.lib().wOutDW(1, 1), UPIO_NOT_OPEN);  // gone while transferring
  EXPECT_EQ(board(1).pipeResets, (std::vector<int>{1, 1}));
}

TEST_F(UsbpioPipeLink, UnreadableStatusCountsAsNotHalted) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  board(0).halted.insert(0x02);
  board(0).statusFailsAfterTransfer = true;
  EXPECT_EQ(rig.lib().wOutDW(0, 1), UPIO_BAD_UNIT);
}

TEST_F(UsbpioPipeLink, TransferThatNeverCompletesTimesOutWithoutReset) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  clearLogs(0);
  board(0).neverCompletes = true;
  uint32_t value = 7;
  EXPECT_EQ(rig.lib().rInDW(0, &value), UPIO_TIMEOUT);
  EXPECT_EQ(value, 7u);
  EXPECT_TRUE(board(0).pipeResets.empty());
  EXPECT_EQ(rig.lib().unit(0).linkState, usbpio::kPipeLinkOpen);
}

TEST_F(UsbpioPipeLink, ShortReplyIsNotTakenAsValues) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  board(0).shortReply = 3;
  uint32_t value = 7;
  EXPECT_EQ(rig.lib().rInDW(0, &value), UPIO_TIMEOUT);
  EXPECT_EQ(value, 7u);
}

TEST_F(UsbpioPipeLink, RawTransfersKeepToPipeZerosPacketSize) {
  loadTwo();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  Bytes buffer(100, 0x33);
  uint16_t length = 0;
  EXPECT_EQ(rig.lib().usbSend(0, buffer.data(), &length), UPIO_BAD_LENGTH);
  length = 65;
  EXPECT_EQ(rig.lib().usbSend(0, buffer.data(), &length), UPIO_BAD_LENGTH);
  EXPECT_EQ(length, 65);
  length = 64;
  EXPECT_EQ(rig.lib().usbSend(0, buffer.data(), &length), UPIO_OK);
  EXPECT_EQ(length, 64);
  EXPECT_EQ(board(0).writes.back().bytes, Bytes(64, 0x33));

  board(0).replies.push_back({1, 2, 3});
  length = 64;
  EXPECT_EQ(rig.lib().usbRecv(0, buffer.data(), &length), UPIO_OK);
  EXPECT_EQ(length, 3);  // a raw read reports what came
  EXPECT_EQ(buffer[2], 3);

  length = 8;
  EXPECT_EQ(rig.lib().usbRecv(16, buffer.data(), &length), UPIO_BAD_UNIT);
  EXPECT_EQ(rig.lib().usbRecv(1, buffer.data(), &length), UPIO_BAD_UNIT);  // closed
  board(0).neverCompletes = true;
  EXPECT_EQ(rig.lib().usbRecv(0, buffer.data(), &length), UPIO_TIMEOUT);
  EXPECT_EQ(length, 8);  // left as it was
}

TEST_F(UsbpioPipeLink, ReadinessLoopResetsABoardThatDoesNotAnswer) {
  rig.addPipeBoard(0, 3);
  rig.pipes.boards[0].statusFailures = 2;
  rig.pipes.boards[0].resetFailures = 1;
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 1u);
  // Two rounds: the first needs a second reset after one that failed.
  EXPECT_EQ(board(0).deviceResets, 3);
  EXPECT_EQ(rig.lib().unit(0).boardId, 3);
}

}  // namespace
