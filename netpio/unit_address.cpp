#include "netpio/unit_address.h"

namespace netpio {
namespace {

int lowSigned16(int value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }

}  // namespace

std::optional<int> typeSlotOf(int typeCode) {
  switch (typeCode) {
    case 0x12: return 0;
    case 0x13: return 1;
    default: return std::nullopt;
  }
}

uint8_t typeCodeOfSlot(int slot) {
  switch (slot) {
    case 0: return 0x12;
    case 1: return 0x13;
    default: return 0;
  }
}

std::optional<Unit> unitFromArguments(int typeCode, int boardId) {
  const int code = lowSigned16(typeCode);
  const int id = lowSigned16(boardId);
  const std::optional<int> slot = typeSlotOf(code);
  if (!slot || id < 0 || id >= kBoardIds) return std::nullopt;
  return Unit{static_cast<uint8_t>(code), *slot, static_cast<uint8_t>(id)};
}

}  // namespace netpio
