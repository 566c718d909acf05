// The serial link: the serial port table, line settings under their lock, the
// probe exchange, and the write and read primitives with their time-outs.
#include "usbpio/library.h"

namespace usbpio {

int32_t Library::registerPort(const PortListEntry& listed, int32_t port) {
  std::lock_guard<std::mutex> hold(portTableLock_);
  for (size_t p = 0; p < ports_.size(); ++p) {
    if (ports_[p].port != kNoToken) continue;
    ports_[p] = SerialPortEntry{listed.description, listed.portName, port};
    return static_cast<int32_t>(p);
  }
  return -1;
}

void Library::closePort(int32_t entry) {
  if (entry < 0 || static_cast<size_t>(entry) >= ports_.size()) return;
  std::lock_guard<std::mutex> hold(portTableLock_);
  SerialPortEntry& slot = ports_[static_cast<size_t>(entry)];
  if (slot.port != kNoToken) serial_.close(slot.port);
  slot = SerialPortEntry{};
}

bool Library::applyLineSettings(int32_t port) {
  std::lock_guard<std::mutex> hold(serialSettingsLock_);
  return serial_.applyLinkSettings(port);
}

bool Library::restoreLineSettings(int32_t port) {
  if (port == kNoToken) return false;
  std::lock_guard<std::mutex> hold(serialSettingsLock_);
  return serial_.restoreSettings(port);
}

bool Library::probeExchange(int32_t port, const uint8_t* request, size_t length, uint8_t* reply,
                            size_t replyLength) {
  if (port == kNoToken || length == 0) return false;
  std::lock_guard<std::mutex> hold(serialSettingsLock_);
  // Whatever the port held before we took it is not an answer to the probe.
  serial_.discardInput(port);
  size_t moved = 0;
  if (serial_.write(port, request, length, timeouts_.writeMs(length), &moved) != SerialOutcome::Done) {
    return false;
  }
  return serial_.read(port, reply, replyLength, timeouts_.readMs(replyLength), &moved) == SerialOutcome::Done;
}

uint32_t Library::serialWrite(unsigned unit, const uint8_t* data, size_t length) {
  if (unit >= kUnitSlots || units_[unit].linkState != kSerialLinkOpen) return UPIO_BAD_UNIT;
  if (length == 0) return UPIO_BAD_ARGUMENT;
  size_t moved = 0;
  const int32_t port = tokenOf(units_[unit].pipeHandle[0]);
  if (serial_.write(port, data, length, timeouts_.writeMs(length), &moved) != SerialOutcome::Done ||
      moved < length) {
    return UPIO_TIMEOUT;
  }
  return UPIO_OK;
}

uint32_t Library::serialRead(unsigned unit, uint8_t* data, size_t length) {
  if (unit >= kUnitSlots || units_[unit].linkState != kSerialLinkOpen) return UPIO_BAD_UNIT;
  if (length == 0) return UPIO_BAD_ARGUMENT;
  size_t moved = 0;
  const int32_t port = tokenOf(units_[unit].pipeHandle[0]);
  if (serial_.read(port, data, length, timeouts_.readMs(length), &moved) != SerialOutcome::Done) {
    return UPIO_TIMEOUT;
  }
  // A reply cut short by the time-out would hand zeros out as board values.
  if (moved < length) return UPIO_TIMEOUT;
  return UPIO_OK;
}

uint32_t Library::serialCommand(unsigned unit, const uint8_t* request, size_t length, uint8_t* reply,
                                size_t replyLength) {
  if (unit < kUnitSlots && units_[unit].linkState == kSerialLinkOpen) {
    // A reply that came too late for an earlier command must not be taken
    // as the answer to this one.
    serial_.discardInput(tokenOf(units_[unit].pipeHandle[0]));
  }
  const uint32_t sent = serialWrite(unit, request, length);
  if (sent != UPIO_OK || replyLength == 0) return sent;
  return serialRead(unit, reply, replyLength);
}

}  // namespace usbpio
