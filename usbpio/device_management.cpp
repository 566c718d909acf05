// Counting, listing, opening, closing and classifying units.
#include "usbpio/library.h"

namespace usbpio {
namespace {

constexpr uint16_t kSerialBoardCode = 0x5A1B;

struct BoardKind {
  uint16_t code;
  uint16_t type;
};

bool pipeBoardKind(const UnitEntry& entry, BoardKind* kind) {
  if (entry.endpointAddress[0] == 0x81 && entry.endpointAddress[1] == 0x02) {
    *kind = BoardKind{0x5A10, 1};
    return true;
  }
  if (entry.endpointAddress[0] == 0x02 && entry.endpointAddress[1] == 0x86) {
    *kind = BoardKind{0x5A12, 2};
    return true;
  }
  return false;
}

// Serial boards report a type code; 0x12 and 0x13 are the codes the network
// boards use for the wired and the wireless model.
uint16_t serialBoardType(uint16_t typeCode) {
  switch (typeCode) {
    case 0x11: return 3;
    case 0x12: return 4;
    case 0x13: return 5;
    default: return 0;
  }
}

}  // namespace

uint32_t Library::getDeviceCount(int32_t* count) const {
  *count = static_cast<int32_t>(unitCount_);
  return unitCount_ == 0 ? UPIO_NO_UNIT : UPIO_OK;
}

uint32_t Library::getDeviceInfo(uint32_t* count, UpioDeviceInfo* records) const {
  uint32_t n = *count;
  if (n == 0) return UPIO_NO_UNIT;
  if (n > unitCount_) {
    *count = unitCount_;
    n = unitCount_;
  }
  for (uint32_t i = 0; i < n; ++i) records[i] = deviceInfoOf(units_[i]);
  return UPIO_OK;
}

uint32_t Library::openDevice(uint32_t* unit, const UpioDeviceInfo* info) {
  if (unitCount_ == 0) return UPIO_NO_UNIT;
  unsigned match = kUnitSlots;
  for (unsigned n = 0; n < unitCount_; ++n) {
    const UnitEntry& entry = units_[n];
    if (entry.boardId != info->board_id || entry.pipeCount != info->pipe_count) continue;
    // A pipe-link board carries no type code of its own.
    if (entry.pipeCount != 2 && entry.boardTypeCode[0] != info->board_type_code[0]) continue;
    match = n;
    break;
  }
  if (match == kUnitSlots) return UPIO_NO_UNIT;
  UnitEntry& entry = units_[match];
  if (entry.linkState != kLinkClosed) return UPIO_ALREADY_OPEN;
  if (entry.pipeCount == 1) {
    entry.linkState = kSerialLinkOpen;
  } else {
    // Opening starts every session from a freshly reset board.
    const int32_t device = deviceOf(entry);
    if (device != kNoToken) pipes_.resetDevice(device);
    entry.linkState = kPipeLinkOpen;
  }
  entry.outputCache = {};
  *unit = match;
  return UPIO_OK;
}

uint32_t Library::closeDevice(uint32_t unit) {
  if (unit >= kUnitSlots || units_[unit].linkState == kLinkClosed) return UPIO_BAD_UNIT;
  units_[unit].linkState = kLinkClosed;
  return UPIO_OK;
}

uint32_t Library::getBoardCode(uint32_t unit, uint16_t* code) const {
  if (unit >= kUnitSlots || units_[unit].linkState == kLinkClosed) return UPIO_BAD_UNIT;
  const UnitEntry& entry = units_[unit];
  if (entry.linkState == kSerialLinkOpen) {
    *code = kSerialBoardCode;
    return UPIO_OK;
  }
  BoardKind kind{};
  if (!pipeBoardKind(entry, &kind)) return UPIO_UNKNOWN_BOARD;
  *code = kind.code;
  return UPIO_OK;
}

uint32_t Library::getBoardType(uint32_t unit, uint16_t* type) const {
  if (unit >= kUnitSlots || units_[unit].linkState == kLinkClosed) return UPIO_BAD_UNIT;
  const UnitEntry& entry = units_[unit];
  if (entry.linkState == kSerialLinkOpen) {
    *type = serialBoardType(entry.boardTypeCode[0]);
    return *type == 0 ? UPIO_UNKNOWN_BOARD : UPIO_OK;
  }
  BoardKind kind{};
  if (!pipeBoardKind(entry, &kind)) return UPIO_UNKNOWN_BOARD;
  *type = kind.type;
  return UPIO_OK;
}

}  // namespace usbpio
