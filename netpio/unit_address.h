// Units: a board type code mapped to its type slot, and a Board ID 0..15.
// Exports take both as int and use the low 16 bits as signed values.
#pragma once

#include <cstdint>
#include <optional>

namespace netpio {

constexpr int kTypeSlots = 16;   // room kept in the tables; only slots 0 and 1 are used
constexpr int kBoardIds = 16;
constexpr int kUnitCount = kTypeSlots * kBoardIds;

struct Unit {
  uint8_t typeCode = 0;
  int slot = 0;
  uint8_t boardId = 0;
  int index() const { return slot * kBoardIds + boardId; }
};

// The type slot of a board type code: 0x12 -> 0, 0x13 -> 1; nullopt otherwise.
std::optional<int> typeSlotOf(int typeCode);
// The type code listed for a slot (0 for unused slots).
uint8_t typeCodeOfSlot(int slot);

// The unit named by two export arguments, or nullopt for a bad argument.
std::optional<Unit> unitFromArguments(int typeCode, int boardId);

}  // namespace netpio
