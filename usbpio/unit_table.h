// The unit table: what the library knows of each of its 16 units, filled once
// at load and kept until unload.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "include/usbpio.h"
#include "usbpio/pipe_driver.h"

namespace usbpio {

constexpr unsigned kUnitSlots = 16;
constexpr unsigned kMaxPipes = 8;
constexpr uint16_t kUnidentifiedBoard = 99;
// The "handles" in UpioDeviceInfo are 4-byte tokens; this one means none.
constexpr uint32_t kInvalidHandle = 0xFFFFFFFFu;

enum LinkState : uint32_t {
  kLinkClosed = 0,
  kPipeLinkOpen = 1,
  kSerialLinkOpen = 2,
};

// Link fields, then the board fields. For a serial-link unit element 0 of the
// address and packet-size arrays carry the port-list index and the port number.
struct UnitEntry {
  uint32_t linkState = kLinkClosed;
  int32_t connection = -1;
  uint16_t boardId = kUnidentifiedBoard;
  uint16_t pipeCount = 0;
  std::array<uint16_t, kMaxPipes> endpointAddress{};
  std::array<uint16_t, kMaxPipes> maxPacketSize{};
  std::array<uint16_t, kMaxPipes> boardTypeCode{};
  std::array<uint32_t, kMaxPipes> pipeHandle = filledHandles();
  // Output bytes last sent to or read from the board.
  std::array<uint8_t, 4> outputCache{};
  // Name of the unit's cross-process object. Nothing in the library waits on
  // it, so it is kept as a name only, for other processes that agree on it.
  std::string mutexName;

  static std::array<uint32_t, kMaxPipes> filledHandles() {
    std::array<uint32_t, kMaxPipes> handles;
    handles.fill(kInvalidHandle);
    return handles;
  }
};

static_assert(sizeof(UpioDeviceInfo) == 84, "UpioDeviceInfo is an 84-byte record");

inline UpioDeviceInfo deviceInfoOf(const UnitEntry& unit) {
  UpioDeviceInfo info{};
  info.board_id = unit.boardId;
  info.pipe_count = unit.pipeCount;
  for (unsigned i = 0; i < kMaxPipes; ++i) {
    info.endpoint_address[i] = unit.endpointAddress[i];
    info.max_packet_size[i] = unit.maxPacketSize[i];
    info.board_type_code[i] = unit.boardTypeCode[i];
    info.pipe_handle[i] = unit.pipeHandle[i];
  }
  return info;
}

inline uint32_t handleOf(int32_t token) {
  return token == kNoToken ? kInvalidHandle : static_cast<uint32_t>(token);
}
inline int32_t tokenOf(uint32_t handle) {
  return handle == kInvalidHandle ? kNoToken : static_cast<int32_t>(handle);
}

}  // namespace usbpio
