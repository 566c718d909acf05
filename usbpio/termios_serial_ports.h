// Serial ports on Linux: candidates from sysfs (every tty whose USB interface
// is bound to the kernel's cp210x driver) plus the ports a user names, and
// termios for the line settings, with poll() deadlines for the time-outs.
#pragma once

#include <termios.h>

#include <string>
#include <string_view>
#include <vector>

#include "usbpio/serial_ports.h"

namespace usbpio {

// Port number of a tty device name ("ttyUSB0" -> 1): its index plus one, so
// that 0 can keep meaning "no port". 0 when the name ends in no digits or the
// number would not fit two digits.
unsigned portNumberOfTtyName(std::string_view name);

class TermiosSerialPorts final : public SerialPorts {
 public:
  // ttyClassRoot is normally "/sys/class/tty"; extraPorts are paths the user
  // named (a pseudo-terminal, a /dev/serial/by-id link, ...).
  TermiosSerialPorts(std::string ttyClassRoot, std::vector<std::string> extraPorts);
  ~TermiosSerialPorts() override;

  std::vector<PortListEntry> listPorts(size_t limit) override;
  unsigned portNumber(const std::string& portName) override;
  int32_t open(const std::string& portName) override;
  void close(int32_t port) override;
  bool saveSettings(int32_t port) override;
  bool applyLinkSettings(int32_t port) override;
  bool restoreSettings(int32_t port) override;
  void discardInput(int32_t port) override;
  SerialOutcome write(int32_t port, const uint8_t* data, size_t length, unsigned timeoutMs,
                      size_t* moved) override;
  SerialOutcome read(int32_t port, uint8_t* data, size_t length, unsigned timeoutMs, size_t* moved) override;

 private:
  struct OpenPort {
    int fd = -1;
    bool hasSaved = false;
    struct termios saved {};
  };
  OpenPort* find(int32_t port);

  std::string ttyClassRoot_;
  std::vector<std::string> extraPorts_;
  std::vector<OpenPort> open_;
};

}  // namespace usbpio
