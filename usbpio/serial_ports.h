// The serial ports as the serial link sees them: the list of candidate ports,
// and open, settings, write, read and close on one of them. The Linux backend
// is termios_serial_ports.cpp; tests run it against a pseudo-terminal.
//
// Port tokens are small non-negative integers (kNoToken on failure). Every call
// runs on the caller's thread; reads and writes block at most for the time-out
// they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "usbpio/pipe_driver.h"

namespace usbpio {

// The description the serial probe looks for: the system's name for the
// USB-to-UART bridge that the serial-link boards carry. Backends give it to
// every port that leads to such a bridge.
inline constexpr const char* kBridgeDescription = "Silicon Labs CP210x USB to UART Bridge";

struct PortListEntry {
  std::string description;  // what the system says the device is
  std::string portName;     // what open() takes
};

enum class SerialOutcome { Done, Failed };

class SerialPorts {
 public:
  virtual ~SerialPorts() = default;

  // Ports present now, at most `limit` of them.
  virtual std::vector<PortListEntry> listPorts(size_t limit) = 0;
  // Port number of a port name, 1..99, or 0 when it has none that fits.
  virtual unsigned portNumber(const std::string& portName) = 0;

  // Opens the port for this process alone: a port that another program (or
  // another process of this library) holds gives kNoToken.
  virtual int32_t open(const std::string& portName) = 0;
  virtual void close(int32_t port) = 0;

  // Keeps the port's current line settings with the port, to be given back by
  // restoreSettings().
  virtual bool saveSettings(int32_t port) = 0;
  // 115200 baud, 8 data bits, no parity, 1 stop bit; flow control kept.
  virtual bool applyLinkSettings(int32_t port) = 0;
  virtual bool restoreSettings(int32_t port) = 0;
  // Drops bytes received but not yet read (a late reply of an earlier exchange).
  virtual void discardInput(int32_t port) = 0;

  // Write `length` bytes; Failed when the port fails or the time-out ends first.
  virtual SerialOutcome write(int32_t port, const uint8_t* data, size_t length, unsigned timeoutMs,
                              size_t* moved) = 0;
  // Read until `length` bytes came or the time-out ended; a time-out with fewer
  // bytes is Done, with `moved` telling how many.
  virtual SerialOutcome read(int32_t port, uint8_t* data, size_t length, unsigned timeoutMs,
                             size_t* moved) = 0;
};

}  // namespace usbpio
