#include "netpio/device_table.h"

#include <algorithm>
#include <cstring>

#include "netpio.h"
#include "protocol/byte_order.h"
#include "protocol/relay_messages.h"

namespace netpio {

bool DeviceTable::rebuild(const uint8_t* records, size_t count) {
  DeviceTable fresh;
  for (size_t i = 0; i < count; ++i) {
    const protocol::DeviceListRecord record =
        protocol::DeviceListRecord::parse(records + i * protocol::kDeviceListRecordSize);
    const std::optional<int> slot = typeSlotOf(record.typeCode);
    if (!slot || record.boardId >= kBoardIds) continue;
    ListedBoard& entry = fresh.boards_[*slot][record.boardId];
    if (entry.present) return false;
    entry.present = true;
    entry.address = record.address.octets;
    entry.mac = record.mac;
    entry.openCount = record.openCount;
    ++fresh.counts_[*slot];
  }
  *this = fresh;
  return true;
}

uint32_t DeviceTable::boardCount() const {
  uint32_t total = 0;
  for (uint16_t c : counts_) total += c;
  return total;
}

uint32_t DeviceTable::writeInfo(uint8_t* out, uint32_t capacity) const {
  std::memset(out, 0, static_cast<size_t>(capacity) * NPIO_DEVICE_INFO_SIZE);
  uint32_t written = 0;
  for (int slot = 0; slot < kTypeSlots; ++slot) {
    for (int id = 0; id < kBoardIds; ++id) {
      const ListedBoard& b = boards_[slot][id];
      if (!b.present) continue;
      if (written == capacity) return written;
      uint8_t* record = out + static_cast<size_t>(written) * NPIO_DEVICE_INFO_SIZE;
      protocol::writeLe16(record, typeCodeOfSlot(slot));
      protocol::writeLe16(record + 2, static_cast<uint16_t>(id));
      std::copy(b.address.begin(), b.address.end(), record + 4);
      std::copy(b.mac.begin(), b.mac.end(), record + 8);
      ++written;
    }
  }
  return written;
}

}  // namespace netpio
