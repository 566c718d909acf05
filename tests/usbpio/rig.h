// A loaded library over a fake pipe driver and simulated serial boards on
// pseudo-terminals, for tests that drive it the way an application does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/usbpio/fake_pipe_driver.h"
#include "tools/usbsim/pty_board_server.h"
#include "usbpio/library.h"
#include "usbpio/termios_serial_ports.h"

namespace usbpio_test {

// Short serial time-outs so that a silent board costs half a second, yet
// long enough for a simulated board on a busy machine to answer.
inline usbpio::SerialTimeouts fastTimeouts() { return usbpio::SerialTimeouts{500, 2, 500, 2}; }

struct Rig {
  FakePipeDriver pipes;
  usbpio::BoardIds ids = usbpio::defaultBoardIds();
  std::vector<std::unique_ptr<usbsim::PtyBoardServer>> serialBoards;
  std::vector<std::string> extraPorts;
  std::unique_ptr<usbpio::TermiosSerialPorts> serial;
  std::unique_ptr<usbpio::Library> library;

  FakeBoard& addPipeBoard(unsigned pair, uint8_t boardId) {
    return pipes.add(ids.pair[pair].vendor, ids.pair[pair].product, pair == 0 ? layoutA() : layoutB(), boardId);
  }

  usbsim::PtyBoardServer& addSerialBoard(usbsim::SerialBoardSettings settings = {}) {
    serialBoards.push_back(std::make_unique<usbsim::PtyBoardServer>(settings));
    serialBoards.back()->start();
    extraPorts.push_back(serialBoards.back()->portPath());
    return *serialBoards.back();
  }

  usbpio::Library& load(const std::string& ttyClassRoot = "/nonexistent") {
    serial = std::make_unique<usbpio::TermiosSerialPorts>(ttyClassRoot, extraPorts);
    library = std::make_unique<usbpio::Library>(pipes, *serial, ids, fastTimeouts());
    return *library;
  }

  usbpio::Library& lib() { return *library; }

  // Opens unit n through its own DeviceInfo record, as an application would.
  uint32_t open(unsigned n) {
    UpioDeviceInfo info = usbpio::deviceInfoOf(library->unit(n));
    uint32_t unit = 99;
    return library->openDevice(&unit, &info);
  }
};

}  // namespace usbpio_test
