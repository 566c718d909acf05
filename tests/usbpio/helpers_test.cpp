// Pure helpers of the USB board library: filter steps, port groups, board IDs
// from the environment's text, port numbers of tty names, the serial
// time-outs, and the exported record layout.
#include <gtest/gtest.h>

#include <cstddef>

#include "usbpio/board_ids.h"
#include "usbpio/filter_steps.h"
#include "usbpio/library.h"
#include "usbpio/termios_serial_ports.h"

namespace {

struct StepCase {
  uint32_t time;
  uint8_t step;
};
void PrintTo(const StepCase& c, std::ostream* os) { *os << "time " << c.time; }

class UsbpioFilterSteps : public testing::TestWithParam<StepCase> {};

TEST_P(UsbpioFilterSteps, TimeMapsToNearestStep) {
  EXPECT_EQ(usbpio::filterStepForTime(GetParam().time), GetParam().step) << "time " << GetParam().time;
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsbpioFilterSteps,
    testing::Values(StepCase{0, 0}, StepCase{1, 6}, StepCase{2, 7}, StepCase{3, 8},  // 300: midpoint of 200/400
                    StepCase{4, 8}, StepCase{5, 8},                                   // 500 below midpoint 600
                    StepCase{6, 9}, StepCase{8, 9}, StepCase{9, 10},                  // 900: midpoint of 800/1000
                    StepCase{10, 10}, StepCase{24, 10}, StepCase{25, 11},             // 2500: midpoint of 1000/4000
                    StepCase{479, 14}, StepCase{480, 15}, StepCase{639, 15}, StepCase{640, 15},
                    StepCase{700, 15}, StepCase{65535, 15}),
    [](const testing::TestParamInfo<StepCase>& info) { return "time" + std::to_string(info.param.time); });

TEST(UsbpioPortGroups, EachPortCoversTwoGroups) {
  EXPECT_EQ(usbpio::groupMaskForPorts(0x1), 0x03);
  EXPECT_EQ(usbpio::groupMaskForPorts(0x5), 0x33);
  EXPECT_EQ(usbpio::groupMaskForPorts(0x8), 0xC0);
  EXPECT_EQ(usbpio::groupMaskForPorts(0xF), 0xFF);
}

TEST(UsbpioBoardIds, ParsesTwoHexPairs) {
  auto ids = usbpio::parseBoardIds("04d8:00df, 04D8:00E0");
  ASSERT_TRUE(ids.has_value());
  EXPECT_EQ(ids->pair[0].vendor, 0x04D8);
  EXPECT_EQ(ids->pair[0].product, 0x00DF);
  EXPECT_EQ(ids->pair[1].vendor, 0x04D8);
  EXPECT_EQ(ids->pair[1].product, 0x00E0);
}

TEST(UsbpioBoardIds, RefusesMalformedText) {
  for (const char* text : {"", "1234:5678", "1234:5678,", "12345:1,1:1", "xyz:1,1:1", "1:1,1:", "1:1;2:2"}) {
    EXPECT_FALSE(usbpio::parseBoardIds(text).has_value()) << text;
  }
}

TEST(UsbpioBoardIds, SplitsPortList) {
  const auto ports = usbpio::splitPortList(" /dev/pts/3 ,,/dev/serial/by-id/usb-x-if00-port0,");
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0], "/dev/pts/3");
  EXPECT_EQ(ports[1], "/dev/serial/by-id/usb-x-if00-port0");
  EXPECT_TRUE(usbpio::splitPortList("").empty());
}

TEST(UsbpioPortNumber, TtyIndexPlusOneUpToTwoDigits) {
  EXPECT_EQ(usbpio::portNumberOfTtyName("ttyUSB0"), 1u);
  EXPECT_EQ(usbpio::portNumberOfTtyName("ttyUSB6"), 7u);
  EXPECT_EQ(usbpio::portNumberOfTtyName("ttyUSB11"), 12u);
  EXPECT_EQ(usbpio::portNumberOfTtyName("ttyUSB98"), 99u);
  EXPECT_EQ(usbpio::portNumberOfTtyName("ttyUSB99"), 0u);   // would need three digits
  EXPECT_EQ(usbpio::portNumberOfTtyName("ttyUSB100"), 0u);
  EXPECT_EQ(usbpio::portNumberOfTtyName("ttyUSB"), 0u);
  EXPECT_EQ(usbpio::portNumberOfTtyName("3"), 4u);          // /dev/pts/3
}

TEST(UsbpioSerialTimeouts, DefaultsAreConstantPlusPerByte) {
  const usbpio::SerialTimeouts timeouts;
  EXPECT_EQ(timeouts.readMs(4), 250u + 4 * 250u);
  EXPECT_EQ(timeouts.readMs(17), 250u + 17 * 250u);
  EXPECT_EQ(timeouts.writeMs(6), 100u + 6 * 100u);
}

TEST(UsbpioDeviceInfo, RecordLayoutIsFixed) {
  EXPECT_EQ(sizeof(UpioDeviceInfo), 84u);
  EXPECT_EQ(offsetof(UpioDeviceInfo, pipe_count), 2u);
  EXPECT_EQ(offsetof(UpioDeviceInfo, endpoint_address), 4u);
  EXPECT_EQ(offsetof(UpioDeviceInfo, max_packet_size), 20u);
  EXPECT_EQ(offsetof(UpioDeviceInfo, board_type_code), 36u);
  EXPECT_EQ(offsetof(UpioDeviceInfo, pipe_handle), 52u);
}

}  // namespace
