// The serial link end to end: the library's termios code against simulated
// boards on pseudo-terminals, checking the exact bytes each export sends.
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/usbpio/rig.h"

namespace {

using usbpio_test::Rig;
using Bytes = std::vector<uint8_t>;

class UsbpioSerialLink : public testing::Test {
 protected:
  // One serial board, loaded and opened as unit 0, with the load's own
  // requests (probe, identify) forgotten.
  void loadOne(usbsim::SerialBoardSettings settings = {}) {
    board = &rig.addSerialBoard(settings);
    ASSERT_TRUE(board->ok());
    rig.load();
    ASSERT_EQ(rig.lib().unitCount(), 1u);
    ASSERT_EQ(rig.open(0), UPIO_OK);
    board->clearRequests();
  }
  // The last request, once the board has seen one more since the last look.
  // The newest request, once the board has seen at least one more than at
  // the last look (a write gets no answer to wait for).
  Bytes lastRequest() {
    board->waitForRequests(seen_ + 1);
    const auto requests = board->requests();
    seen_ = requests.size();
    return requests.empty() ? Bytes{} : requests.back();
  }
  size_t seen_ = 0;

  Rig rig;
  usbsim::PtyBoardServer* board = nullptr;
};

TEST_F(UsbpioSerialLink, LoadProbesIdentifiesAndDescribesTheUnit) {
  usbsim::SerialBoardSettings settings;
  settings.boardId = 9;
  settings.typeCode = 0x13;
  board = &rig.addSerialBoard(settings);
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 1u);
  const auto requests = board->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], (Bytes{0x81, 0x00, 0x10, 0x00, 0xC0, 0x00, 0x20, 0x00}));
  EXPECT_EQ(requests[1], (Bytes{0xF3, 0x00}));

  const UpioDeviceInfo info = usbpio::deviceInfoOf(rig.lib().unit(0));
  EXPECT_EQ(info.board_id, 9);
  EXPECT_EQ(info.pipe_count, 1);
  EXPECT_EQ(info.endpoint_address[0], 0);  // index in the port list
  const std::string path = board->portPath();
  const unsigned ptyIndex = static_cast<unsigned>(std::stoul(path.substr(path.find_last_of('/') + 1)));
  EXPECT_EQ(info.max_packet_size[0], ptyIndex + 1);
  EXPECT_EQ(info.board_type_code[0], 0x13);
  EXPECT_NE(info.pipe_handle[0], usbpio::kInvalidHandle);
  EXPECT_EQ(info.pipe_handle[1], usbpio::kInvalidHandle);
  EXPECT_EQ(rig.lib().portList().at(0).description, "Silicon Labs CP210x USB to UART Bridge");
}

struct TypeCase {
  uint8_t typeCode;
  uint16_t type;
  uint32_t result;
};
void PrintTo(const TypeCase& c, std::ostream* os) { *os << "type code " << int{c.typeCode}; }

class UsbpioSerialBoardType : public UsbpioSerialLink, public testing::WithParamInterface<TypeCase> {};

TEST_P(UsbpioSerialBoardType, TypeCodeGivesBoardType) {
  usbsim::SerialBoardSettings settings;
  settings.typeCode = GetParam().typeCode;
  loadOne(settings);
  uint16_t code = 0, type = 77;
  EXPECT_EQ(rig.lib().getBoardCode(0, &code), UPIO_OK);
  EXPECT_EQ(code, 0x5A1B);
  EXPECT_EQ(rig.lib().getBoardType(0, &type), GetParam().result);
  EXPECT_EQ(type, GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(Codes, UsbpioSerialBoardType,
                         testing::Values(TypeCase{0x11, 3, UPIO_OK}, TypeCase{0x12, 4, UPIO_OK},
                                         TypeCase{0x13, 5, UPIO_OK}, TypeCase{0x20, 0, UPIO_UNKNOWN_BOARD}),
                         [](const testing::TestParamInfo<TypeCase>& info) {
                           return "code" + std::to_string(info.param.typeCode);
                         });

TEST_F(UsbpioSerialLink, ReadsUseTheirCommands) {
  usbsim::SerialBoardSettings settings;
  settings.inputs = 0x44332211;
  settings.outputs = 0x88776655;
  loadOne(settings);
  uint16_t value = 0;
  ASSERT_EQ(rig.lib().rInB(0, 2, &value), UPIO_OK);
  EXPECT_EQ(value, 0x33);
  EXPECT_EQ(lastRequest(), (Bytes{0x93, 0x01}));
  ASSERT_EQ(rig.lib().rInW(0, 1, &value), UPIO_OK);
  EXPECT_EQ(value, 0x3322);
  ASSERT_EQ(rig.lib().rInW(0, 3, &value), UPIO_OK);
  EXPECT_EQ(value, 0x44);
  EXPECT_EQ(rig.lib().unit(0).outputCache, (std::array<uint8_t, 4>{}));  // inputs leave the cache alone

  uint32_t dw = 0;
  ASSERT_EQ(rig.lib().rOutDW(0, &dw), UPIO_OK);
  EXPECT_EQ(dw, 0x88776655u);
  EXPECT_EQ(lastRequest(), (Bytes{0x91, 0x00}));
  EXPECT_EQ(rig.lib().unit(0).outputCache, (std::array<uint8_t, 4>{0x55, 0x66, 0x77, 0x88}));
  ASSERT_EQ(rig.lib().rOutB(0, 3, &value), UPIO_OK);
  EXPECT_EQ(value, 0x88);

  uint16_t version[2] = {};
  ASSERT_EQ(rig.lib().rVersion(0, version), UPIO_OK);
  EXPECT_EQ(lastRequest(), (Bytes{0xF1, 0x00}));
  EXPECT_EQ(version[0], 0x0102);
  EXPECT_EQ(version[1], 0x0304);
}

TEST_F(UsbpioSerialLink, WritesSendAllFourOutputBytes) {
  loadOne();
  ASSERT_EQ(rig.lib().wOutDW(0, 0x04030201), UPIO_OK);
  EXPECT_EQ(lastRequest(), (Bytes{0x90, 0x00, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(rig.lib().unit(0).outputCache, (std::array<uint8_t, 4>{1, 2, 3, 4}));

  ASSERT_EQ(rig.lib().wOutDW(0, 0x44332211), UPIO_OK);
  lastRequest();
  ASSERT_EQ(rig.lib().wOutB(0, 1, 0x5A), UPIO_OK);
  EXPECT_EQ(lastRequest(), (Bytes{0x90, 0x00, 0x11, 0x5A, 0x33, 0x44}));
  EXPECT_EQ(rig.lib().unit(0).outputCache, (std::array<uint8_t, 4>{0x11, 0x5A, 0x33, 0x44}));
  ASSERT_EQ(rig.lib().wOutW(0, 3, 0xABCD), UPIO_OK);
  EXPECT_EQ(lastRequest(), (Bytes{0x90, 0x00, 0x11, 0x5A, 0x33, 0xCD}));
  EXPECT_EQ(board->settings().outputs, 0xCD335A11u);
}

TEST_F(UsbpioSerialLink, InOutSendsTheExchangeCommand) {
  usbsim::SerialBoardSettings settings;
  settings.inputs = 0xCAFEF00D;
  loadOne(settings);
  uint32_t inputs = 0;
  ASSERT_EQ(rig.lib().inOutDW(0, &inputs, 0x000000FF), UPIO_OK);
  EXPECT_EQ(lastRequest(), (Bytes{0x95, 0x01, 0, 0, 0, 0, 0xFF, 0, 0, 0}));
  EXPECT_EQ(inputs, 0xCAFEF00Du);
  EXPECT_EQ(rig.lib().unit(0).outputCache, (std::array<uint8_t, 4>{0xFF, 0, 0, 0}));
}

TEST_F(UsbpioSerialLink, FilterRequests) {
  loadOne();
  ASSERT_EQ(rig.lib().setFilter(0, 0x5, 3), UPIO_OK);
  EXPECT_EQ(lastRequest(), (Bytes{0xA2, 0x33, 0x88, 0x00, 0x88, 0x00}));
  ASSERT_EQ(rig.lib().setFilter(0, 0xF, 640), UPIO_OK);
  EXPECT_EQ(lastRequest(), (Bytes{0xA2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  ASSERT_EQ(rig.lib().setFilterEx(0, 0x81, 3), UPIO_OK);
  EXPECT_EQ(lastRequest(), (Bytes{0xA2, 0x81, 0x03, 0x00, 0x00, 0x30}));
}

struct CheckCase {
  const char* name;
  uint32_t (*call)(usbpio::Library&, uint32_t unit);
  uint32_t onUnit16;
  uint32_t onClosed;
};
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

uint32_t callRInB(usbpio::Library& l, uint32_t u) { uint16_t v; return l.rInB(u, 0, &v); }
uint32_t callRInBPort4(usbpio::Library& l, uint32_t u) { uint16_t v; return l.rInB(u, 4, &v); }
uint32_t callRInDW(usbpio::Library& l, uint32_t u) { uint32_t v; return l.rInDW(u, &v); }
uint32_t callROutW(usbpio::Library& l, uint32_t u) { uint16_t v; return l.rOutW(u, 3, &v); }
uint32_t callWOutB(usbpio::Library& l, uint32_t u) { return l.wOutB(u, 0, 1); }
uint32_t callWOutWPort4(usbpio::Library& l, uint32_t u) { return l.wOutW(u, 4, 1); }
uint32_t callInOut(usbpio::Library& l, uint32_t u) { uint32_t v; return l.inOutDW(u, &v, 0); }
uint32_t callFilter(usbpio::Library& l, uint32_t u) { return l.setFilter(u, 1, 0); }
uint32_t callFilterMask0(usbpio::Library& l, uint32_t u) { return l.setFilter(u, 0, 1); }
uint32_t callFilterMask16(usbpio::Library& l, uint32_t u) { return l.setFilter(u, 16, 1); }
uint32_t callFilterTime(usbpio::Library& l, uint32_t u) { return l.setFilter(u, 1, 65536); }
uint32_t callFilterEx(usbpio::Library& l, uint32_t u) { return l.setFilterEx(u, 1, 1); }
uint32_t callFilterExMask(usbpio::Library& l, uint32_t u) { return l.setFilterEx(u, 256, 1); }
uint32_t callFilterExSetting(usbpio::Library& l, uint32_t u) { return l.setFilterEx(u, 1, 16); }
uint32_t callVersion(usbpio::Library& l, uint32_t u) { uint16_t v[2]; return l.rVersion(u, v); }
uint32_t callClose(usbpio::Library& l, uint32_t u) { return l.closeDevice(u); }
uint32_t callSend(usbpio::Library& l, uint32_t u) { uint8_t b = 0; uint16_t n = 1; return l.usbSend(u, &b, &n); }

// The first error met wins: the unit number, then the arguments, then whether
// the unit is open.
class UsbpioResultOrder : public UsbpioSerialLink, public testing::WithParamInterface<CheckCase> {};

TEST_P(UsbpioResultOrder, ChecksComeInOrder) {
  loadOne();
  ASSERT_EQ(rig.lib().closeDevice(0), UPIO_OK);
  EXPECT_EQ(GetParam().call(rig.lib(), 16), GetParam().onUnit16);
  EXPECT_EQ(GetParam().call(rig.lib(), 0), GetParam().onClosed);
  EXPECT_TRUE(board->requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Exports, UsbpioResultOrder,
    testing::Values(CheckCase{"rInB", callRInB, UPIO_BAD_UNIT, UPIO_NOT_OPEN},
                    CheckCase{"rInBPort4", callRInBPort4, UPIO_BAD_UNIT, UPIO_BAD_ARGUMENT},
                    CheckCase{"rInDW", callRInDW, UPIO_BAD_UNIT, UPIO_NOT_OPEN},
                    CheckCase{"rOutW", callROutW, UPIO_BAD_UNIT, UPIO_NOT_OPEN},
                    CheckCase{"wOutB", callWOutB, UPIO_BAD_UNIT, UPIO_NOT_OPEN},
                    CheckCase{"wOutWPort4", callWOutWPort4, UPIO_BAD_UNIT, UPIO_BAD_ARGUMENT},
                    CheckCase{"InOutDW", callInOut, UPIO_BAD_UNIT, UPIO_NOT_OPEN},
                    CheckCase{"SetFilter", callFilter, UPIO_BAD_UNIT, UPIO_NOT_OPEN},
                    CheckCase{"SetFilterMask0", callFilterMask0, UPIO_BAD_UNIT, UPIO_BAD_ARGUMENT},
                    CheckCase{"SetFilterMask16", callFilterMask16, UPIO_BAD_UNIT, UPIO_BAD_ARGUMENT},
                    CheckCase{"SetFilterTime", callFilterTime, UPIO_BAD_UNIT, UPIO_BAD_ARGUMENT},
                    CheckCase{"SetFilterEx", callFilterEx, UPIO_BAD_UNIT, UPIO_BAD_UNIT},
                    CheckCase{"SetFilterExMask", callFilterExMask, UPIO_BAD_UNIT, UPIO_BAD_ARGUMENT},
                    CheckCase{"SetFilterExSetting", callFilterExSetting, UPIO_BAD_UNIT, UPIO_BAD_ARGUMENT},
                    CheckCase{"rVersion", callVersion, UPIO_BAD_UNIT, UPIO_BAD_UNIT},
                    CheckCase{"CloseDevice", callClose, UPIO_BAD_UNIT, UPIO_BAD_UNIT},
                    CheckCase{"UsbSend", callSend, UPIO_BAD_UNIT, UPIO_BAD_UNIT}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

TEST_F(UsbpioSerialLink, RawTransfersUpTo512Bytes) {
  loadOne();
  Bytes buffer(600, 0);
  uint16_t length = 0;
  EXPECT_EQ(rig.lib().usbSend(0, buffer.data(), &length), UPIO_BAD_LENGTH);
  length = 513;
  EXPECT_EQ(rig.lib().usbRecv(0, buffer.data(), &length), UPIO_BAD_LENGTH);
  EXPECT_EQ(rig.lib().usbSend(0, buffer.data(), &length), UPIO_BAD_LENGTH);
  EXPECT_EQ(length, 513);
  length = 512;  // bytes the board does not take as a command
  ASSERT_EQ(rig.lib().usbSend(0, buffer.data(), &length), UPIO_OK);
  EXPECT_EQ(length, 512);
  ASSERT_TRUE(board->waitForRequests(512));
  board->clearRequests();

  // A raw request the board answers: the identify command.
  const Bytes identify = {0xF3, 0x00};
  length = 2;
  ASSERT_EQ(rig.lib().usbSend(0, identify.data(), &length), UPIO_OK);
  EXPECT_EQ(length, 2);
  length = 16;
  ASSERT_EQ(rig.lib().usbRecv(0, buffer.data(), &length), UPIO_OK);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[1], 0x12);
  // Nothing more to come: a raw read reports the 0 bytes that came in time.
  length = 4;
  ASSERT_EQ(rig.lib().usbRecv(0, buffer.data(), &length), UPIO_OK);
  EXPECT_EQ(length, 0);
}

TEST_F(UsbpioSerialLink, ShortRepliesAndSilenceAreTimeOuts) {
  loadOne();
  usbsim::SerialBoardSettings settings = board->settings();
  settings.truncateReplies = true;
  board->changeSettings(settings);
  uint32_t value = 7;
  EXPECT_EQ(rig.lib().rInDW(0, &value), UPIO_TIMEOUT);
  settings.truncateReplies = false;
  settings.silent = true;
  board->changeSettings(settings);
  EXPECT_EQ(rig.lib().rInDW(0, &value), UPIO_TIMEOUT);
  EXPECT_EQ(value, 7u);
  // A late reply of the earlier command is not taken for the next one's.
  settings.silent = false;
  settings.inputs = 0x01020304;
  board->changeSettings(settings);
  ASSERT_EQ(rig.lib().rInDW(0, &value), UPIO_OK);
  EXPECT_EQ(value, 0x01020304u);
}

TEST_F(UsbpioSerialLink, BoardThatDoesNotIdentifyIsStillAUnit) {
  usbsim::SerialBoardSettings settings;
  settings.silentIdentify = true;
  board = &rig.addSerialBoard(settings);
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 1u);
  EXPECT_EQ(rig.lib().unit(0).boardId, 99);
  EXPECT_EQ(rig.lib().unit(0).boardTypeCode[0], 0);
}

struct termios settingsOf(const std::string& path) {
  struct termios t {};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) {
    tcgetattr(fd, &t);
    ::close(fd);
  }
  return t;
}

TEST_F(UsbpioSerialLink, LineSettingsAreAppliedAndGivenBackAtUnload) {
  board = &rig.addSerialBoard();
  const struct termios before = settingsOf(board->portPath());
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 1u);
  ASSERT_EQ(rig.open(0), UPIO_OK);
  // The library holds the port alone, so look at it through the keeper's view:
  // a second open is refused while the library has it.
  const int second = ::open(board->portPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (second >= 0) {
    // root passes the exclusive-use flag; the settings can then be read.
    struct termios now {};
    ASSERT_EQ(tcgetattr(second, &now), 0);
    EXPECT_EQ(cfgetospeed(&now), B115200);
    EXPECT_EQ(now.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(now.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(now.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(now.c_iflag & (IXON | ICRNL), 0u);
    ::close(second);
  }
  rig.library.reset();
  rig.serial.reset();
  const struct termios after = settingsOf(board->portPath());
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST_F(UsbpioSerialLink, ClosedUnitsPortIsGivenBackToo) {
  board = &rig.addSerialBoard();
  const struct termios before = settingsOf(board->portPath());
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 1u);  // loaded, never opened
  rig.library.reset();
  const struct termios after = settingsOf(board->portPath());
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

TEST_F(UsbpioSerialLink, WrongSignatureLeavesThePortAsItWas) {
  usbsim::SerialBoardSettings settings;
  settings.wrongSignature = true;
  board = &rig.addSerialBoard(settings);
  const struct termios before = settingsOf(board->portPath());
  rig.load();
  EXPECT_EQ(rig.lib().unitCount(), 0u);
  ASSERT_EQ(board->requests().size(), 1u);  // the probe, and no identify
  const struct termios after = settingsOf(board->portPath());
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

TEST_F(UsbpioSerialLink, PortHeldByAnotherLoadIsSkipped) {
  auto& first = rig.addSerialBoard();
  usbsim::SerialBoardSettings settings;
  settings.boardId = 2;
  rig.addSerialBoard(settings);
  rig.load();
  ASSERT_EQ(rig.lib().unitCount(), 2u);
  (void)first;

  // A second load (another process would do the same) finds both ports taken.
  usbpio_test::FakePipeDriver noPipes;
  usbpio::TermiosSerialPorts otherPorts("/nonexistent", rig.extraPorts);
  usbpio::Library other(noPipes, otherPorts, rig.ids, usbpio_test::fastTimeouts());
  EXPECT_EQ(other.unitCount(), 0u);
  EXPECT_EQ(other.portList().size(), 2u);
}

}  // namespace

namespace {

// The termios ports with the port numbers a test chooses, to reach the case
// of a port whose name gives no usable number.
class RenumberedPorts final : public usbpio::SerialPorts {
 public:
  RenumberedPorts(usbpio::SerialPorts& real, std::vector<unsigned> numbers) : real_(real), numbers_(std::move(numbers)) {}
  std::vector<usbpio::PortListEntry> listPorts(size_t limit) override {
    list_ = real_.listPorts(limit);
    return list_;
  }
  unsigned portNumber(const std::string& name) override {
    for (size_t i = 0; i < list_.size(); ++i) {
      if (list_[i].portName == name) return numbers_.at(i);
    }
    return 0;
  }
  int32_t open(const std::string& name) override { return real_.open(name); }
  void close(int32_t port) override { real_.close(port); }
  bool saveSettings(int32_t port) override { return real_.saveSettings(port); }
  bool applyLinkSettings(int32_t port) override { return real_.applyLinkSettings(port); }
  bool restoreSettings(int32_t port) override { return real_.restoreSettings(port); }
  void discardInput(int32_t port) override { real_.discardInput(port); }
  usbpio::SerialOutcome write(int32_t port, const uint8_t* data, size_t length, unsigned timeoutMs,
                              size_t* moved) override {
    return real_.write(port, data, length, timeoutMs, moved);
  }
  usbpio::SerialOutcome read(int32_t port, uint8_t* data, size_t length, unsigned timeoutMs,
                             size_t* moved) override {
    return real_.read(port, data, length, timeoutMs, moved);
  }

 private:
  usbpio::SerialPorts& real_;
  std::vector<unsigned> numbers_;
  std::vector<usbpio::PortListEntry> list_;
};

TEST(UsbpioSerialPortNumber, PortWithoutANumberIsGivenUpAndTheSearchGoesOn) {
  Rig rig;
  auto& unnumbered = rig.addSerialBoard();
  usbsim::SerialBoardSettings second;
  second.boardId = 7;
  rig.addSerialBoard(second);
  const struct termios before = settingsOf(unnumbered.portPath());

  usbpio::TermiosSerialPorts termios("/nonexistent", rig.extraPorts);
  RenumberedPorts ports(termios, {0, 12});
  usbpio::Library library(rig.pipes, ports, rig.ids, usbpio_test::fastTimeouts());
  ASSERT_EQ(library.unitCount(), 1u);
  EXPECT_EQ(library.unit(0).boardId, 7);
  EXPECT_EQ(library.unit(0).endpointAddress[0], 1);
  EXPECT_EQ(library.unit(0).maxPacketSize[0], 12);
  // The given-up port was probed, then closed with its settings back.
  EXPECT_EQ(unnumbered.requests().size(), 1u);
  const struct termios after = settingsOf(unnumbered.portPath());
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  const int fd = ::open(unnumbered.portPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);  // nobody holds it any more
  ::close(fd);
}

}  // namespace
