// Raw transfers: bytes the caller built, passed to the board as they are.
#include "usbpio/library.h"

namespace usbpio {
namespace {

// A raw transfer moves at least one byte and at most one packet of the link.
bool lengthFits(const UnitEntry& entry, uint16_t length) {
  const size_t limit = entry.linkState == kPipeLinkOpen ? entry.maxPacketSize[0] : UPIO_SERIAL_TRANSFER_LIMIT;
  return length != 0 && length <= limit;
}

}  // namespace

uint32_t Library::usbSend(uint32_t unit, const uint8_t* buffer, uint16_t* length) {
  if (unit >= kUnitSlots || units_[unit].linkState == kLinkClosed) return UPIO_BAD_UNIT;
  const UnitEntry& entry = units_[unit];
  const bool pipeLink = entry.linkState == kPipeLinkOpen;
  if (!lengthFits(entry, *length)) return UPIO_BAD_LENGTH;
  size_t moved = 0;
  if (pipeLink) {
    const uint32_t result = pipeTransfer(unit, buffer, nullptr, *length, &moved);
    if (result == UPIO_OK) *length = static_cast<uint16_t>(moved);
    return result;
  }
  const size_t requested = *length;
  const SerialOutcome outcome =
      serial_.write(tokenOf(entry.pipeHandle[0]), buffer, requested, timeouts_.writeMs(requested), &moved);
  *length = static_cast<uint16_t>(moved);
  // A write that the time-out cut short did not send what was asked.
  return outcome == SerialOutcome::Done && moved == requested ? UPIO_OK : UPIO_TIMEOUT;
}

uint32_t Library::usbRecv(uint32_t unit, uint8_t* buffer, uint16_t* length) {
  if (unit >= kUnitSlots || units_[unit].linkState == kLinkClosed) return UPIO_BAD_UNIT;
  const UnitEntry& entry = units_[unit];
  const bool pipeLink = entry.linkState == kPipeLinkOpen;
  if (!lengthFits(entry, *length)) return UPIO_BAD_LENGTH;
  size_t moved = 0;
  if (pipeLink) {
    const uint32_t result = pipeTransfer(unit, nullptr, buffer, *length, &moved);
    if (result == UPIO_OK) *length = static_cast<uint16_t>(moved);
    return result;
  }
  const SerialOutcome outcome =
      serial_.read(tokenOf(entry.pipeHandle[0]), buffer, *length, timeouts_.readMs(*length), &moved);
  *length = outcome == SerialOutcome::Done ? static_cast<uint16_t>(moved) : 0;
  return outcome == SerialOutcome::Done ? UPIO_OK : UPIO_TIMEOUT;
}

}  // namespace usbpio
