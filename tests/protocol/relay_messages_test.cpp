#include "protocol/relay_messages.h"

#include <gtest/gtest.h>

#include <vector>

namespace protocol {
namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes bytesOf(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

TEST(ProtocolMessages, ControlMessagesHaveTheirExactBytes) {
  EXPECT_EQ(bytesOf(buildOpenRequest(3, 0x12)), (Bytes{0x7F, 0x71, 0x03, 0x12}));
  EXPECT_EQ(bytesOf(buildOpenResult(RelayStatus::Ok)), (Bytes{0x7F, 0x71, 0x00}));
  EXPECT_EQ(bytesOf(buildOpenResult(RelayStatus::UnknownBoard)), (Bytes{0x7F, 0x71, 0xFE}));
  EXPECT_EQ(bytesOf(buildAcknowledge(RelayStatus::Ok)), (Bytes{0x7F, 0x73, 0x00}));
  EXPECT_EQ(bytesOf(buildAcknowledge(RelayStatus::UnknownBoard)), (Bytes{0x7F, 0x73, 0xFE}));
  EXPECT_EQ(bytesOf(buildAcknowledge(RelayStatus::Refused)), (Bytes{0x7F, 0x73, 0xFA}));
  EXPECT_EQ(bytesOf(buildNoReply()), (Bytes{0x7F, 0x74, 0xFD}));
  EXPECT_EQ(bytesOf(buildDeviceListRequest()), (Bytes{0x7F, 0x75}));
  EXPECT_EQ(bytesOf(buildVersionRequest()), (Bytes{0x7F, 0x76}));
  EXPECT_EQ(bytesOf(buildVersionAnswer(0x3100)), (Bytes{0x7F, 0x76, 0x00, 0x31}));
}

TEST(ProtocolMessages, PackedVersionGivesOneHexDigitPerPart) {
  EXPECT_EQ(packVersion(3, 1, 0, 0), 0x3100);
  EXPECT_EQ(packVersion(1, 1, 0, 0), 0x1100);
  EXPECT_EQ(packVersion(1, 2, 3, 4), 0x1234);
}

TEST(ProtocolMessages, FrameHeaderRoundTripsLittleEndian) {
  const uint8_t wire[8] = {0x03, 0x93, 0x04, 0x01, 0xB4, 0xB5, 0x00, 0x00};
  const FrameHeader h = FrameHeader::parse(wire);
  EXPECT_EQ(h.unit, 3);
  EXPECT_EQ(h.tag, 0x93);
  EXPECT_EQ(h.payloadLength, 0x0104);
  EXPECT_EQ(h.boardWord, 0xB5B4);
  EXPECT_EQ(h.mustBeZero, 0);
  EXPECT_EQ(h.frameLength(), 8u + 0x104);
  uint8_t again[8] = {};
  h.write(again);
  EXPECT_EQ(Bytes(again, again + 8), Bytes(wire, wire + 8));
}

DeviceListRecord sampleRecord(uint8_t id) {
  DeviceListRecord r;
  r.boardId = id;
  r.typeCode = 0x13;
  r.address.octets = {192, 168, 0, 20};
  r.mac = {0x00, 0x80, 0x4c, 0x01, 0x02, 0x03};
  r.openCount = 2;
  return r;
}

TEST(ProtocolMessages, DeviceListRecordLayout) {
  uint8_t wire[16];
  sampleRecord(5).write(wire);
  EXPECT_EQ(Bytes(wire, wire + 16),
            (Bytes{5, 0x13, 192, 168, 0, 20, 0x00, 0x80, 0x4c, 0x01, 0x02, 0x03, 2, 0, 0, 0}));
  const DeviceListRecord back = DeviceListRecord::parse(wire);
  EXPECT_EQ(back.address, sampleRecord(5).address);
  EXPECT_EQ(back.mac, sampleRecord(5).mac);
  EXPECT_EQ(back.openCount, 2);
  EXPECT_EQ(back.address.toString(), "192.168.0.20");
  EXPECT_EQ(macToString(back.mac), "00:80:4c:01:02:03");
}

TEST(ProtocolMessages, EmptyDeviceListIsFourBytes) {
  EXPECT_EQ(buildDeviceList({}), (Bytes{0x7F, 0x75, 0x00, 0x00}));
}

TEST(ProtocolMessages, DeviceListStopsAtSixtyThreeRecords) {
  std::vector<DeviceListRecord> records;
  for (int i = 0; i < 70; ++i) records.push_back(sampleRecord(static_cast<uint8_t>(i & 15)));
  const Bytes list = buildDeviceList(records);
  ASSERT_EQ(list.size(), 4u + 63 * 16);
  EXPECT_EQ(list[2] | (list[3] << 8), 63 * 16);
}

}  // namespace
}  // namespace protocol
