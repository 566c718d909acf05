// The one-shot query connections: device list and version.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "fake_relay.h"
#include "relaylink.h"

namespace {

using fake::Bytes;
using fake::deviceList;
using fake::FakeRelay;

constexpr uint32_t kPatience = 2000;

Bytes record(uint8_t id, uint8_t type, uint8_t lastOctet, uint8_t opens) {
  return {id, type, 192, 168, 0, lastOctet, 0x00, 0x80, 0x4C, 0x01, 0x02, lastOctet, opens, 0, 0, 0};
}

TEST(RelaylinkDevice, EmptyListGivesZeroAndClosesTheConnection) {
  FakeRelay relay;
  uint8_t buf[64];
  EXPECT_EQ(rlk_deviceA("127.0.0.1", relay.port(), buf, sizeof buf, kPatience), 0);
  EXPECT_EQ(relay.controls(), (std::vector<Bytes>{{0x7F, 0x75}}));
  EXPECT_EQ(relay.connectionsOpen(), 0);
}

struct ListCase {
  const char* name;
  int records;
  int bufferSize;
  int result;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class RelaylinkDeviceLists : public testing::TestWithParam<ListCase> {};

TEST_P(RelaylinkDeviceLists, StoreRecordsThatFit) {
  const ListCase& c = GetParam();
  FakeRelay relay;
  std::vector<Bytes> records;
  for (int i = 0; i < c.records; ++i) records.push_back(record(static_cast<uint8_t>(i % 16), 0x12, uint8_t(10 + i), 1));
  const Bytes message = deviceList(records);
  relay.setDeviceListAnswer(message);
  Bytes buf(static_cast<size_t>(c.bufferSize) + 4, 0xEE);
  EXPECT_EQ(rlk_deviceA("127.0.0.1", relay.port(), buf.data(), c.bufferSize, kPatience), c.result);
  if (c.result > 0) {
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 16 * c.result), Bytes(message.begin() + 4, message.end()));
  }
  EXPECT_EQ(Bytes(buf.end() - 4, buf.end()), Bytes(4, 0xEE));
  EXPECT_EQ(relay.connectionsOpen(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, RelaylinkDeviceLists,
                         testing::Values(ListCase{"ThreeBoards", 3, 512, 3},
                                         ListCase{"ExactFit", 2, 32, 2},
                                         ListCase{"OneByteShort", 2, 31, -4},
                                         ListCase{"ThirtyTwoBoardsInFiveTwelve", 32, 512, 32},
                                         ListCase{"ThirtyThreeBoardsTooMany", 33, 512, -4},
                                         // More than one read's worth: kept across reads.
                                         ListCase{"SixtyThreeBoardsLargeBuffer", 63, 1024, 63}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RelaylinkDevice, NullHostAndWideHost) {
  FakeRelay relay;
  uint8_t buf[64];
  EXPECT_EQ(rlk_deviceA(nullptr, relay.port(), buf, sizeof buf, kPatience), -5);
  EXPECT_EQ(rlk_deviceW(nullptr, relay.port(), buf, sizeof buf, kPatience), -5);
  relay.setDeviceListAnswer(deviceList({record(1, 0x13, 7, 0)}));
  EXPECT_EQ(rlk_deviceW(u"127.0.0.1", relay.port(), buf, sizeof buf, kPatience), 1);
}

TEST(RelaylinkDevice, SilentRelayTimesOutAndClosed) {
  FakeRelay relay;
  relay.setDeviceListAnswer({});
  uint8_t buf[64];
  EXPECT_EQ(rlk_deviceA("127.0.0.1", relay.port(), buf, sizeof buf, 40), -3);
  EXPECT_EQ(relay.connectionsOpen(), 0);
}

TEST(RelaylinkVersion, OwnVersionWithoutTraffic) {
  EXPECT_EQ(rlk_versionA(nullptr, 1, 0), 0x1100);
  EXPECT_EQ(rlk_versionA("", 1, 0), 0x1100);
  EXPECT_EQ(rlk_versionW(nullptr, 1, 0), 0x1100);
  EXPECT_EQ(rlk_versionW(u"", 1, 0), 0x1100);
}

TEST(RelaylinkVersion, RelayVersion) {
  FakeRelay relay;
  EXPECT_EQ(rlk_versionA("127.0.0.1", relay.port(), kPatience), 0x3100);
  EXPECT_EQ(relay.controls(), (std::vector<Bytes>{{0x7F, 0x76}}));
  relay.setVersionAnswer({0x55, 0x7F, 0x76, 0x34, 0x12});
  EXPECT_EQ(rlk_versionW(u"127.0.0.1", relay.port(), kPatience), 0x1234);
  EXPECT_EQ(relay.connectionsOpen(), 0);
}

TEST(RelaylinkVersion, Failures) {
  FakeRelay relay;
  relay.setVersionAnswer({});
  EXPECT_EQ(rlk_versionA("127.0.0.1", relay.port(), 40), -3);
  int port;
  {
    FakeRelay gone;
    port = gone.port();
  }
  EXPECT_EQ(rlk_versionA("127.0.0.1", port, kPatience), -1);
}

}  // namespace
