// Finding boards at load and opening them: the order of units, what each pass
// may find, the port list from sysfs and from the user, and the device
// management exports around the unit table.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/usbpio/rig.h"

namespace {

using usbpio_test::Rig;
using Bytes = std::vector<uint8_t>;

TEST(UsbpioDiscovery, NoBoardsLoadsEmpty) {
  Rig rig;
  rig.load();
  int32_t count = -1;
  EXPECT_EQ(rig.lib().getDeviceCount(&count), UPIO_NO_UNIT);
  EXPECT_EQ(count, 0);
  uint32_t room = 4;
  UpioDeviceInfo records[4];
  EXPECT_EQ(rig.lib().getDeviceInfo(&room, records), UPIO_OK);
  EXPECT_EQ(room, 0u);
  UpioDeviceInfo wanted{};
  uint32_t unit = 42;
  EXPECT_EQ(rig.lib().openDevice(&unit, &wanted), UPIO_NO_UNIT);
  EXPECT_EQ(unit, 42u);
  EXPECT_EQ(rig.lib().unit(0).boardId, 99);
  EXPECT_EQ(rig.lib().unit(15).connection, -1);
  EXPECT_EQ(rig.lib().unit(15).pipeHandle[7], usbpio::kInvalidHandle);
  EXPECT_EQ(rig.lib().unit(7).mutexName, "USBMUTEX07");
}

TEST(UsbpioDiscovery, PipeBoardsComeBeforeSerialOnes) {
  Rig rig;
  usbsim::SerialBoardSettings serial;
  serial.boardId = 4;
  rig.addSerialBoard(serial);
  rig.addPipeBoard(0, 1);
  rig.addPipeBoard(1, 2);
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 3u);
  EXPECT_EQ(rig.lib().unit(0).boardId, 1);
  EXPECT_EQ(rig.lib().unit(0).pipeCount, 2);
  EXPECT_EQ(rig.lib().unit(1).boardId, 2);
  EXPECT_EQ(rig.lib().unit(2).boardId, 4);
  EXPECT_EQ(rig.lib().unit(2).pipeCount, 1);
  EXPECT_EQ(rig.lib().unit(2).endpointAddress[0], 0);

  int32_t count = 0;
  EXPECT_EQ(rig.lib().getDeviceCount(&count), UPIO_OK);
  EXPECT_EQ(count, 3);
}

TEST(UsbpioDiscovery, DeviceInfoCountRules) {
  Rig rig;
  rig.addPipeBoard(0, 1);
  rig.addPipeBoard(0, 2);
  rig.addPipeBoard(1, 3);
  rig.load();
  UpioDeviceInfo records[16] = {};
  uint32_t count = 0;
  EXPECT_EQ(rig.lib().getDeviceInfo(&count, records), UPIO_NO_UNIT);
  count = 10;
  EXPECT_EQ(rig.lib().getDeviceInfo(&count, records), UPIO_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(records[2].board_id, 3);
  UpioDeviceInfo two[3] = {};
  two[2].board_id = 0xBEEF;
  count = 2;
  EXPECT_EQ(rig.lib().getDeviceInfo(&count, two), UPIO_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(two[1].board_id, 2);
  EXPECT_EQ(two[2].board_id, 0xBEEF);  // nothing past the count written
}

TEST(UsbpioDiscovery, OpenPicksTheLowestMatchingUnit) {
  Rig rig;
  rig.addPipeBoard(0, 5);
  rig.addPipeBoard(0, 5);
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 2u);
  UpioDeviceInfo info = usbpio::deviceInfoOf(rig.lib().unit(1));
  uint32_t unit = 99;
  EXPECT_EQ(rig.lib().openDevice(&unit, &info), UPIO_OK);
  EXPECT_EQ(unit, 0u);
  EXPECT_EQ(rig.lib().openDevice(&unit, &info), UPIO_ALREADY_OPEN);
  info.board_id = 6;
  EXPECT_EQ(rig.lib().openDevice(&unit, &info), UPIO_NO_UNIT);
}

TEST(UsbpioDiscovery, ReopenClearsTheOutputCache) {
  Rig rig;
  rig.addSerialBoard();
  rig.load();
  ASSERT_EQ(rig.open(0), UPIO_OK);
  ASSERT_EQ(rig.lib().wOutDW(0, 0x44332211), UPIO_OK);
  ASSERT_EQ(rig.lib().closeDevice(0), UPIO_OK);
  ASSERT_EQ(rig.open(0), UPIO_OK);
  rig.serialBoards[0]->clearRequests();
  ASSERT_EQ(rig.lib().wOutB(0, 0, 0x5A), UPIO_OK);
  ASSERT_TRUE(rig.serialBoards[0]->waitForRequests(1));
  EXPECT_EQ(rig.serialBoards[0]->requests().back(), (Bytes{0x90, 0x00, 0x5A, 0, 0, 0}));
}

TEST(UsbpioDiscovery, SerialMatchNeedsTheTypeCode) {
  Rig rig;
  usbsim::SerialBoardSettings settings;
  settings.typeCode = 0x11;
  rig.addSerialBoard(settings);
  rig.load();
  UpioDeviceInfo info = usbpio::deviceInfoOf(rig.lib().unit(0));
  info.board_type_code[0] = 0x12;
  uint32_t unit = 0;
  EXPECT_EQ(rig.lib().openDevice(&unit, &info), UPIO_NO_UNIT);
  info.board_type_code[0] = 0x11;
  EXPECT_EQ(rig.lib().openDevice(&unit, &info), UPIO_OK);
}

// A pipe-link candidate that fails its check uses up the pass: no serial
// probe is made in it. A device that is not a board does not.
TEST(UsbpioDiscovery, FailedPipeCheckUsesUpThePass) {
  Rig rig;
  rig.addPipeBoard(0, 1);
  rig.pipes.boards[0].endpoints = usbpio_test::layoutB();  // variant A IDs, variant B layout
  rig.pipes.add(0xDEAD, 0xBEEF, usbpio_test::layoutA(), 2);  // not a board
  rig.addSerialBoard();
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 1u);
  EXPECT_EQ(rig.lib().unit(0).pipeCount, 1);  // the serial board, found in pass 1
  EXPECT_FALSE(rig.pipes.boards[0].deviceOpen);  // its connection is closed again
  EXPECT_EQ(rig.pipes.boards[0].openPipes, 0);
  EXPECT_FALSE(rig.pipes.boards[1].deviceOpen);
}

// Sixteen passes in all: fifteen pipe-link candidates that fail their check
// leave one pass for the serial ports, while fifteen devices that are not
// boards at all leave every pass free to probe a port.
TEST(UsbpioDiscovery, SixteenPassesShareOutPipeAndSerialProbes) {
  Rig failing;
  for (int i = 0; i < 15; ++i) failing.pipes.add(failing.ids.pair[0].vendor, failing.ids.pair[0].product,
                                                  usbpio_test::layoutB(), 1);
  failing.addSerialBoard();
  failing.addSerialBoard();
  failing.load();
  EXPECT_EQ(failing.lib().unitCount(), 1u);
  EXPECT_EQ(failing.lib().unit(0).endpointAddress[0], 0);  // port-list index 0

  Rig foreign;
  for (int i = 0; i < 15; ++i) foreign.pipes.add(0xDEAD, 0xBEEF, usbpio_test::layoutA(), 1);
  foreign.addSerialBoard();
  foreign.addSerialBoard();
  foreign.load();
  ASSERT_EQ(foreign.lib().unitCount(), 2u);
  EXPECT_EQ(foreign.lib().unit(1).endpointAddress[0], 1);
}

struct ConfigCase {
  const char* name;
  Bytes config;
};
void PrintTo(const ConfigCase& c, std::ostream* os) { *os << c.name; }

class UsbpioBadConfiguration : public testing::TestWithParam<ConfigCase> {};

TEST_P(UsbpioBadConfiguration, BoardIsNotAUnit) {
  Rig rig;
  rig.addPipeBoard(0, 1);
  Bytes config = GetParam().config;
  if (config.size() >= 4 && config[2] == 0) config[2] = static_cast<uint8_t>(config.size());
  rig.pipes.boards[0].rawConfig = config;
  rig.load();
  EXPECT_EQ(rig.lib().unitCount(), 0u);
  EXPECT_EQ(rig.pipes.boards[0].openPipes, 0);
}

Bytes header() { return {9, 2, 0, 0, 1, 1, 0, 0x80, 50}; }
Bytes with(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const Bytes kInterface0 = {9, 4, 0, 0, 2, 0xFF, 0, 0, 0};
const Bytes kOut2 = {7, 5, 0x02, 2, 64, 0, 0};
const Bytes kIn86 = {7, 5, 0x86, 2, 64, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Descriptors, UsbpioBadConfiguration,
    testing::Values(ConfigCase{"HeaderOnly", header()},
                    ConfigCase{"FirstNotAnInterface", with(with(header(), kOut2), kIn86)},
                    ConfigCase{"InterfaceOne", with(with(with(header(), {9, 4, 1, 0, 2, 0xFF, 0, 0, 0}), kOut2), kIn86)},
                    ConfigCase{"ZeroLengthDescriptor", with(with(with(header(), kInterface0), kOut2), {0, 5, 0x86})},
                    ConfigCase{"RunsPastTheEnd", with(with(with(header(), kInterface0), kOut2), {7, 5, 0x86})},
                    ConfigCase{"OneEndpoint", with(with(header(), kInterface0), kOut2)},
                    ConfigCase{"NineEndpoints",
                               with(with(with(with(with(with(with(with(with(with(header(), kInterface0), kOut2), kIn86),
                                                                      kOut2), kIn86), kOut2), kIn86), kOut2), kIn86),
                                    kOut2)}),
    [](const testing::TestParamInfo<ConfigCase>& info) { return info.param.name; });

TEST(UsbpioDiscovery, AmbiguousTotalLengthIsRefused) {
  Rig rig;
  rig.addPipeBoard(0, 1);
  Bytes config = with(with(with(header(), kInterface0), kOut2), kIn86);
  config[2] = 0x10;  // claims 528 bytes, more than a configuration may hold here
  config[3] = 0x02;
  rig.pipes.boards[0].rawConfig = config;
  rig.load();
  EXPECT_EQ(rig.lib().unitCount(), 0u);
}

// sysfs as the port list sees it: tty entries whose device's driver link
// names the bridge driver are ports; others are not even opened.
class UsbpioPortList : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/usbpio-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  void addTty(const std::string& name, const std::string& driver) {
    const auto dir = root_ / "class" / name / "device";
    std::filesystem::create_directories(dir);
    std::filesystem::create_directories(root_ / "drivers" / driver);
    std::filesystem::create_directory_symlink(root_ / "drivers" / driver, dir / "driver");
  }
  std::string classRoot() const { return (root_ / "class").string(); }

  std::filesystem::path root_;
};

TEST_F(UsbpioPortList, BridgeTtysInIndexOrderThenNamedPorts) {
  addTty("ttyUSB10", "cp210x");
  addTty("ttyUSB2", "cp210x");
  addTty("ttyUSB1", "ftdi_sio");
  addTty("ttyS0", "serial8250");
  usbpio::TermiosSerialPorts ports(classRoot(), {"/dev/ttyUSB2", "/tmp/named-port"});
  const auto list = ports.listPorts(64);
  ASSERT_EQ(list.size(), 3u);  // the named ttyUSB2 is there once
  EXPECT_EQ(list[0].portName, "/dev/ttyUSB2");
  EXPECT_EQ(list[1].portName, "/dev/ttyUSB10");
  EXPECT_EQ(list[2].portName, "/tmp/named-port");
  for (const auto& entry : list) EXPECT_EQ(entry.description, "Silicon Labs CP210x USB to UART Bridge");
  EXPECT_EQ(ports.listPorts(1).size(), 1u);
}

TEST_F(UsbpioPortList, NamedPortThatIsNotATerminalIsNotAUnit) {
  const std::string file = (root_ / "plain-file").string();
  std::ofstream(file) << "not a tty";
  Rig rig;
  rig.extraPorts.push_back(file);
  rig.load();
  EXPECT_EQ(rig.lib().unitCount(), 0u);
  EXPECT_EQ(rig.lib().portList().size(), 1u);
}

TEST_F(UsbpioPortList, PortNumberComesFromTheTtyBehindALink) {
  usbpio::TermiosSerialPorts ports(classRoot(), {});
  EXPECT_EQ(ports.portNumber("/dev/ttyUSB6"), 7u);
  std::ofstream(root_ / "ttyUSB3") << "";
  const auto link = root_ / "usb-board-if00-port0";
  std::filesystem::create_symlink(root_ / "ttyUSB3", link);
  EXPECT_EQ(ports.portNumber(link.string()), 4u);
}

}  // namespace
