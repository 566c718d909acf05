// The pipe link: the driver connection table, the choice of pipes, and the
// transfer primitive with its time-out and its recovery from failed transfers.
#include "usbpio/library.h"

namespace usbpio {

int32_t Library::registerConnection(const std::string& path, int32_t device) {
  std::lock_guard<std::mutex> hold(connectionLock_);
  for (size_t c = 0; c < connections_.size(); ++c) {
    if (connections_[c].device != kNoToken) continue;
    connections_[c] = DriverConnection{path, device};
    return static_cast<int32_t>(c);
  }
  return -1;
}

void Library::closeConnection(int32_t connection) {
  if (connection < 0 || static_cast<size_t>(connection) >= connections_.size()) return;
  std::lock_guard<std::mutex> hold(connectionLock_);
  DriverConnection& entry = connections_[static_cast<size_t>(connection)];
  if (entry.device != kNoToken) pipes_.closeDevice(entry.device);
  entry = DriverConnection{};
}

int32_t Library::deviceOf(const UnitEntry& entry) const {
  if (entry.connection < 0 || static_cast<size_t>(entry.connection) >= connections_.size()) return kNoToken;
  return connections_[static_cast<size_t>(entry.connection)].device;
}

bool Library::attached(const UnitEntry& entry) {
  const int32_t device = deviceOf(entry);
  if (device == kNoToken) return false;
  uint32_t value = 0;
  return pipes_.queryAttached(device, &value) && value != 0;
}

// The two board variants put their OUT endpoint 0x02 on different pipes; the
// IN endpoint is 0x81 on pipe 0 or 0x86 on pipe 1.
bool Library::choosePipe(const UnitEntry& entry, Direction direction, PipeChoice* choice) {
  if (direction == Direction::Out) {
    if (entry.endpointAddress[1] == 0x02) *choice = PipeChoice{1, 2};
    else if (entry.endpointAddress[0] == 0x02) *choice = PipeChoice{0, 2};
    else return false;
    return true;
  }
  if (entry.endpointAddress[0] == 0x81) *choice = PipeChoice{0, 1};
  else if (entry.endpointAddress[1] == 0x86) *choice = PipeChoice{1, 6};
  else return false;
  return true;
}

uint32_t Library::pipeTransfer(unsigned unit, const uint8_t* outData, uint8_t* inData, size_t length,
                               size_t* moved) {
  const Direction direction = inData != nullptr ? Direction::In : Direction::Out;
  const UnitEntry& entry = units_[unit];
  PipeChoice choice{};
  if (!choosePipe(entry, direction, &choice)) return UPIO_UNKNOWN_BOARD;
  // Check before starting anything: a transfer to a board that has gone would
  // only fail later, after the wait.
  if (!attached(entry)) return UPIO_NOT_OPEN;

  const int32_t pipe = tokenOf(entry.pipeHandle[choice.pipe]);
  *moved = 0;
  const TransferOutcome outcome = direction == Direction::Out
                                      ? pipes_.write(pipe, outData, length, kPipeTimeoutMs, moved)
                                      : pipes_.read(pipe, inData, length, kPipeTimeoutMs, moved);
  if (outcome == TransferOutcome::Completed) return UPIO_OK;
  if (outcome == TransferOutcome::TimedOut) return UPIO_TIMEOUT;

  // When the status itself cannot be read, the endpoint is taken as not
  // halted: the attachment check below then tells a gone board from a
  // transfer that simply failed.
  uint16_t status = 0;
  const int32_t device = deviceOf(entry);
  if (pipes_.getStatus(device, kRecipientEndpoint, choice.statusEndpoint, &status) && (status & 1)) {
    pipes_.resetPipe(pipe);
    return UPIO_PIPE_HALTED;
  }
  const bool stillAttached = attached(entry);
  pipes_.resetPipe(pipe);
  return stillAttached ? UPIO_BAD_UNIT : UPIO_NOT_OPEN;
}

uint32_t Library::pipeWrite(unsigned unit, const uint8_t* data, size_t length) {
  if (unit >= kUnitSlots || units_[unit].linkState != kPipeLinkOpen) return UPIO_BAD_UNIT;
  size_t moved = 0;
  return pipeTransfer(unit, data, nullptr, length, &moved);
}

uint32_t Library::pipeRead(unsigned unit, uint8_t* data, size_t length) {
  if (unit >= kUnitSlots || units_[unit].linkState != kPipeLinkOpen) return UPIO_BAD_UNIT;
  size_t moved = 0;
  const uint32_t result = pipeTransfer(unit, nullptr, data, length, &moved);
  // A command reply that stops short would leave stale bytes where values are
  // expected; report it like a reply that never came.
  if (result == UPIO_OK && moved < length) return UPIO_TIMEOUT;
  return result;
}

uint32_t Library::pipeExchange(unsigned unit, const std::array<uint8_t, 8>& request,
                               std::array<uint8_t, 8>* reply) {
  const uint32_t sent = pipeWrite(unit, request.data(), request.size());
  if (sent != UPIO_OK) return sent;
  reply->fill(0);
  return pipeRead(unit, reply->data(), reply->size());
}

}  // namespace usbpio
