// netpio device management against the fake relay: relay address, device
// list and its table, open and close, board code, versions, and the mapping
// of relaylink results to error bits.
#include <gtest/gtest.h>

#include <string>

#include "netpio/error_bits.h"
#include "netpio/relay_address.h"
#include "netpio_fixture.h"

namespace {

using fake::Bytes;
using fake::deviceList;
using fake::FakeRelay;

constexpr uint16_t kPatience = 2000;

Bytes record(uint8_t id, uint8_t type, uint8_t lastOctet, uint8_t opens) {
  return {id, type, 10, 0, 0, lastOctet, 0x00, 0x80, 0x4C, 0x00, 0x00, lastOctet, opens, 0, 0, 0};
}

class NetpioDevices : public testing::Test {
 protected:
  void SetUp() override {
    netpio_test::privateLockDirectory();
    ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), kPatience), 0u);
  }
  FakeRelay relay;
};

TEST(NetpioErrorBits, FollowTheRelaylinkResult) {
  const struct {
    int rc;
    uint32_t bit;
  } table[] = {{-1, 0x10000}, {-2, 0x20000}, {-3, 0x40000}, {-4, 0x80000}, {-5, 0x100000}, {-6, 0x200000},
               {-16, 0x80000000u}};
  for (const auto& row : table) {
    EXPECT_EQ(netpio::linkErrorBit(row.rc), row.bit) << row.rc;
    EXPECT_EQ(netpio::failureBit(row.rc), row.bit) << row.rc;
  }
  EXPECT_EQ(netpio::failureBit(5), NPIO_UNEXPECTED);
}

TEST(NetpioProgLink, HostTest) {
  const struct {
    const char* host;
    bool accepted;
  } table[] = {{"1.2.3.4", true},        {"1.2.3", false},           {"192.168.1.256", false},
               {"abc.def.ghi", true},    {"192.168.100.200", true},  {"192.168.100.2001", false},
               {"..1.2.3..", true},      {"-5.-5.-5.-5", true},      {"1.2.3.4.5.6", true},
               {"", false}};
  for (const auto& row : table) EXPECT_EQ(netpio::acceptableRelayHost(row.host), row.accepted) << row.host;
  EXPECT_FALSE(netpio::acceptableRelayHost(nullptr));
  EXPECT_EQ(npio_SetProgLink(nullptr, 1, 1), NPIO_BAD_ARGUMENT);
  EXPECT_EQ(npio_SetProgLink("1.2.3", 1, 1), NPIO_BAD_ARGUMENT);
}

TEST_F(NetpioDevices, FailedProgLinkKeepsTheAddress) {
  EXPECT_EQ(npio_SetProgLink("10.0.0.256", 1, 1), NPIO_BAD_ARGUMENT);
  uint32_t count = 99;
  EXPECT_EQ(npio_GetDeviceCount(&count), 0u);  // still reaches our relay
  EXPECT_EQ(count, 0u);
}

TEST_F(NetpioDevices, CountsKnownTypesAndSkipsOthers) {
  relay.setDeviceListAnswer(deviceList({record(1, 0x12, 11, 0), record(2, 0x13, 12, 1), record(3, 0x05, 13, 0),
                                        record(17, 0x12, 14, 0)}));
  uint32_t count = 99;
  EXPECT_EQ(npio_GetDeviceCount(&count), 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(relay.controls(), (std::vector<Bytes>{{0x7F, 0x75}}));
}

TEST_F(NetpioDevices, DuplicateBoardRefusesTheListAndKeepsTheTable) {
  relay.setDeviceListAnswer(deviceList({record(1, 0x12, 11, 0), record(2, 0x12, 12, 5)}));
  uint32_t count = 0;
  ASSERT_EQ(npio_GetDeviceCount(&count), 0u);
  relay.setDeviceListAnswer(deviceList({record(7, 0x13, 21, 0), record(7, 0x13, 22, 0)}));
  count = 99;
  EXPECT_EQ(npio_GetDeviceCount(&count), NPIO_DUPLICATE_BOARD);
  EXPECT_EQ(count, 99u);
  // The table behind the failed refresh is the previous one; the device info
  // call refreshes again, so let the relay send the good list once more.
  relay.setDeviceListAnswer(deviceList({record(1, 0x12, 11, 0), record(2, 0x12, 12, 5)}));
  uint16_t opens = 0;
  EXPECT_EQ(npio_GetOpenDevCount(0x12, 2, &opens), 0u);
  EXPECT_EQ(opens, 5);
}

TEST_F(NetpioDevices, DeviceInfoRecordsInSlotThenIdOrder) {
  relay.setDeviceListAnswer(deviceList({record(9, 0x13, 31, 0), record(4, 0x12, 32, 0), record(2, 0x12, 33, 0)}));
  uint8_t records[4 * 16];
  std::fill(std::begin(records), std::end(records), 0xEE);
  uint32_t count = 4;
  ASSERT_EQ(npio_GetDeviceInfo(&count, records), 0u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Bytes(records, records + 16), (Bytes{0x12, 0, 2, 0, 10, 0, 0, 33, 0x00, 0x80, 0x4C, 0, 0, 33, 0, 0}));
  EXPECT_EQ(Bytes(records + 16, records + 20), (Bytes{0x12, 0, 4, 0}));
  EXPECT_EQ(Bytes(records + 32, records + 36), (Bytes{0x13, 0, 9, 0}));
  EXPECT_EQ(Bytes(records + 48, records + 64), Bytes(16, 0));  // the capacity is zero-filled
}

TEST_F(NetpioDevices, DeviceInfoCapacityOneOfThree) {
  relay.setDeviceListAnswer(deviceList({record(9, 0x13, 31, 0), record(4, 0x12, 32, 0), record(2, 0x12, 33, 0)}));
  uint8_t records[32];
  std::fill(std::begin(records), std::end(records), 0xEE);
  uint32_t count = 1;
  ASSERT_EQ(npio_GetDeviceInfo(&count, records), 0u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(records[2], 2);
  EXPECT_EQ(Bytes(records + 16, records + 32), Bytes(16, 0xEE));
}

TEST_F(NetpioDevices, DeviceInfoCapacityZeroStillRefreshes) {
  uint32_t count = 0;
  EXPECT_EQ(npio_GetDeviceInfo(&count, nullptr), NPIO_BAD_ARGUMENT);
  EXPECT_EQ(relay.controls(), (std::vector<Bytes>{{0x7F, 0x75}}));
}

TEST_F(NetpioDevices, OpenCountOfUnlistedBoardIsZero) {
  relay.setDeviceListAnswer(deviceList({record(1, 0x12, 11, 3)}));
  uint16_t opens = 99;
  EXPECT_EQ(npio_GetOpenDevCount(0x13, 1, &opens), 0u);
  EXPECT_EQ(opens, 0);
  EXPECT_EQ(npio_GetOpenDevCount(0x12, 1, &opens), 0u);
  EXPECT_EQ(opens, 3);
  EXPECT_EQ(npio_GetOpenDevCount(0x14, 1, &opens), NPIO_BAD_ARGUMENT);
}

TEST_F(NetpioDevices, RefreshFailuresMapToErrorBits) {
  relay.setDeviceListAnswer({});
  ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), 40), 0u);
  uint32_t count = 99;
  EXPECT_EQ(npio_GetDeviceCount(&count), NPIO_TIMEOUT);
  EXPECT_EQ(count, 99u);
  relay.setDeviceListAnswer(deviceList(std::vector<Bytes>(33, record(1, 0x12, 1, 0))));
  ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), kPatience), 0u);
  EXPECT_EQ(npio_GetDeviceCount(&count), NPIO_UNEXPECTED);  // more than 512 bytes of records
}

TEST_F(NetpioDevices, OpenSendsTypeAndIdAndCloseClosesTheConnection) {
  ASSERT_EQ(npio_OpenDevice(0x13, 10), 0u);
  EXPECT_EQ(relay.controls(), (std::vector<Bytes>{{0x7F, 0x71, 10, 0x13}}));
  EXPECT_EQ(relay.connectionsOpen(), 1);
  EXPECT_EQ(npio_CloseDevice(0x13, 10), 0u);
  EXPECT_EQ(relay.connectionsOpen(), 0);
  EXPECT_EQ(npio_CloseDevice(0x13, 10), NPIO_SOCKET_FAILURE);
}

TEST_F(NetpioDevices, OpenFailures) {
  EXPECT_EQ(npio_OpenDevice(0x14, 1), NPIO_BAD_ARGUMENT);
  EXPECT_EQ(npio_OpenDevice(0x12, 16), NPIO_BAD_ARGUMENT);
  EXPECT_EQ(npio_OpenDevice(0x12, -1), NPIO_BAD_ARGUMENT);
  relay.setOpenAnswer({0x7F, 0x71, 0xFE});
  EXPECT_EQ(npio_OpenDevice(0x12, 1), NPIO_UNKNOWN_BOARD);
  uint32_t value;
  EXPECT_EQ(npio_rInDW(0x12, 1, &value), NPIO_SOCKET_FAILURE);  // the unit stayed closed
  // A positive status is no success: the relay did not bind the unit.
  relay.setOpenAnswer({0x7F, 0x71, 0x05});
  EXPECT_EQ(npio_OpenDevice(0x12, 1), NPIO_UNEXPECTED);
  EXPECT_EQ(npio_rInDW(0x12, 1, &value), NPIO_SOCKET_FAILURE);
  relay.setOpenAnswer({});
  ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), 40), 0u);
  EXPECT_EQ(npio_OpenDevice(0x12, 1), NPIO_TIMEOUT);
  EXPECT_EQ(npio_CloseDevice(0x12, 5), NPIO_SOCKET_FAILURE);  // never opened
}

TEST_F(NetpioDevices, OpeningAgainReplacesTheConnection) {
  ASSERT_EQ(npio_OpenDevice(0x12, 1), 0u);
  ASSERT_EQ(npio_OpenDevice(0x12, 1), 0u);
  EXPECT_EQ(relay.connectionsOpen(), 1);
  EXPECT_EQ(npio_CloseDevice(0x12, 1), 0u);
}

TEST(NetpioBoardCode, NeedsNoRelay) {
  uint16_t code = 0;
  EXPECT_EQ(npio_GetBoardCode(0x13, 15, &code), 0u);
  EXPECT_EQ(code, 0x5C20);
  EXPECT_EQ(npio_GetBoardCode(0x11, 0, &code), NPIO_BAD_ARGUMENT);
}

TEST_F(NetpioDevices, ProgramVersions) {
  uint16_t relayVersion = 0, libraryVersion = 0;
  EXPECT_EQ(npio_GetProgVersion(&relayVersion, &libraryVersion), 0u);
  EXPECT_EQ(relayVersion, 0x3100);
  EXPECT_EQ(libraryVersion, 0x1100);
  libraryVersion = 0;
  EXPECT_EQ(npio_GetProgVersion(nullptr, &libraryVersion), 0u);
  EXPECT_EQ(libraryVersion, 0x1100);
  EXPECT_EQ(relay.connectionsAccepted(), 1);  // the null relay pointer made no connection
  relay.setVersionAnswer({});
  ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), 40), 0u);
  relayVersion = 7;
  EXPECT_EQ(npio_GetProgVersion(&relayVersion, &libraryVersion), NPIO_TIMEOUT);
  EXPECT_EQ(relayVersion, 7);
}

}  // namespace
