// Exports of device management: relay address, device list, versions, and
// opening and closing units. None of them takes a unit lock.
#include <cstring>
#include <mutex>

#include "netpio.h"
#include "netpio/error_bits.h"
#include "netpio/library_state.h"
#include "protocol/relay_messages.h"
#include "relaylink.h"

namespace netpio {
namespace {

constexpr uint16_t kBoardCode = 0x5C20;
// The relay sends at most 63 records, but a 512-byte list buffer keeps to 32,
// as every caller of the library has seen.
constexpr int kDeviceListBuffer = 512;

// Fetches the relay's device list and rebuilds the table (under setupMutex).
uint32_t refreshDeviceTable(LibraryState& state) {
  const RelayAddress relay = state.relay();
  uint8_t list[kDeviceListBuffer];
  const int n = rlk_deviceA(relay.host.data(), relay.port, list, kDeviceListBuffer, relay.timeoutMs);
  if (n < 0) return linkErrorBit(n);
  return state.devices().rebuild(list, static_cast<size_t>(n)) ? NPIO_OK : NPIO_DUPLICATE_BOARD;
}

}  // namespace
}  // namespace netpio

using namespace netpio;

extern "C" {

uint32_t npio_SetProgLink(const char* host, uint16_t port, uint16_t timeoutMs) {
  if (!acceptableRelayHost(host)) return NPIO_BAD_ARGUMENT;
  LibraryState& state = libraryState();
  std::lock_guard setup(state.setupMutex());
  RelayAddress relay;
  relay.host.fill('\0');
  std::memcpy(relay.host.data(), host, std::strlen(host));
  relay.port = port;
  relay.timeoutMs = timeoutMs;
  state.setRelay(relay);
  return NPIO_OK;
}

uint32_t npio_GetDeviceCount(uint32_t* count) {
  if (count == nullptr) return NPIO_BAD_ARGUMENT;
  LibraryState& state = libraryState();
  std::lock_guard setup(state.setupMutex());
  if (const uint32_t error = refreshDeviceTable(state); error != 0) return error;
  *count = state.devices().boardCount();
  return NPIO_OK;
}

uint32_t npio_GetDeviceInfo(uint32_t* count, uint8_t* records) {
  if (count == nullptr || (records == nullptr && *count != 0)) return NPIO_BAD_ARGUMENT;
  LibraryState& state = libraryState();
  std::lock_guard setup(state.setupMutex());
  if (const uint32_t error = refreshDeviceTable(state); error != 0) return error;
  if (*count == 0) return NPIO_BAD_ARGUMENT;
  *count = state.devices().writeInfo(records, *count);
  return NPIO_OK;
}

uint32_t npio_GetOpenDevCount(int typeCode, int boardId, uint16_t* count) {
  const auto unit = unitFromArguments(typeCode, boardId);
  if (!unit || count == nullptr) return NPIO_BAD_ARGUMENT;
  LibraryState& state = libraryState();
  std::lock_guard setup(state.setupMutex());
  if (const uint32_t error = refreshDeviceTable(state); error != 0) return error;
  const ListedBoard& board = state.devices().board(unit->slot, unit->boardId);
  *count = board.present ? board.openCount : 0;
  return NPIO_OK;
}

uint32_t npio_GetBoardCode(int typeCode, int boardId, uint16_t* code) {
  if (!unitFromArguments(typeCode, boardId) || code == nullptr) return NPIO_BAD_ARGUMENT;
  *code = kBoardCode;
  return NPIO_OK;
}

uint32_t npio_GetProgVersion(uint16_t* relayVersion, uint16_t* libraryVersion) {
  const int own = rlk_versionA(nullptr, 0, 0);
  if (own < 0) return linkErrorBit(own);
  int relayed = 0;
  if (relayVersion != nullptr) {
    const RelayAddress relay = libraryState().relay();
    relayed = rlk_versionA(relay.host.data(), relay.port, relay.timeoutMs);
    if (relayed < 0) return linkErrorBit(relayed);
    *relayVersion = static_cast<uint16_t>(relayed);
  }
  if (libraryVersion != nullptr) *libraryVersion = static_cast<uint16_t>(own);
  return NPIO_OK;
}

uint32_t npio_OpenDevice(int typeCode, int boardId) {
  const auto unit = unitFromArguments(typeCode, boardId);
  if (!unit) return NPIO_BAD_ARGUMENT;
  LibraryState& state = libraryState();
  std::lock_guard setup(state.setupMutex());
  if (state.prepareUnitLock(*unit) == nullptr) return NPIO_BUSY;
  const RelayAddress relay = state.relay();
  int status = RLK_SOCKET_FAILURE;
  const int64_t socket =
      rlk_openA(relay.host.data(), relay.port, unit->boardId, unit->typeCode, relay.timeoutMs, &status);
  if (socket == RLK_NO_SOCKET) return failureBit(status);
  // Opening an open unit again replaces its connection; the old one is closed
  // rather than left to the end of the process.
  const int64_t previous = state.exchangeSocket(*unit, socket);
  if (previous != kNoSocket) rlk_close(previous);
  return NPIO_OK;
}

uint32_t npio_CloseDevice(int typeCode, int boardId) {
  const auto unit = unitFromArguments(typeCode, boardId);
  if (!unit) return NPIO_BAD_ARGUMENT;
  LibraryState& state = libraryState();
  std::lock_guard setup(state.setupMutex());
  const int64_t socket = state.exchangeSocket(*unit, kNoSocket);
  const int closed = rlk_close(socket);
  return closed < 0 ? linkErrorBit(closed) : NPIO_OK;
}

}  // extern "C"
