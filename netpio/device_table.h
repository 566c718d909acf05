// The boards the relay listed, by type slot and Board ID, rebuilt from each
// device list. Pure: fed the relay's 16-byte records.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "netpio/unit_address.h"

namespace netpio {

struct ListedBoard {
  bool present = false;
  std::array<uint8_t, 4> address{};
  std::array<uint8_t, 6> mac{};
  uint8_t openCount = 0;
};

class DeviceTable {
 public:
  // Replaces the table with the boards of `count` records. Records of unknown
  // type codes or Board IDs above 15 are skipped. A list naming one board
  // twice is refused as a whole: false, and the table keeps its content.
  bool rebuild(const uint8_t* records, size_t count);

  uint32_t boardCount() const;
  const ListedBoard& board(int slot, int boardId) const { return boards_[slot][boardId]; }

  // Writes up to `capacity` 16-byte device info records (slot 0 first, then
  // slot 1, Board IDs ascending) after zero-filling capacity records.
  uint32_t writeInfo(uint8_t* out, uint32_t capacity) const;

 private:
  std::array<std::array<ListedBoard, kBoardIds>, kTypeSlots> boards_{};
  std::array<uint16_t, kTypeSlots> counts_{};
};

}  // namespace netpio
