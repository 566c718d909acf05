// npio_EtnSearch: the relays on the local networks that have at least one
// connected board.
#include <cstring>

#include "netpio.h"
#include "relaylink.h"

namespace {

constexpr int kSearchBuffer = 256;  // room for 32 relays
constexpr size_t kBoardCountOffset = 4;

}  // namespace

extern "C" uint32_t npio_EtnSearch(uint8_t* records, uint16_t* count, uint16_t timeoutMs) {
  if (count == nullptr || *count == 0 || records == nullptr) return NPIO_BAD_ARGUMENT;
  uint8_t found[kSearchBuffer];
  const int n = rlk_search(found, kSearchBuffer, timeoutMs);
  if (n <= 0) {
    *count = 0;
    return NPIO_UNKNOWN_BOARD;
  }
  uint16_t kept = 0;
  for (int i = 0; i < n; ++i) {
    const uint8_t* record = found + i * NPIO_SEARCH_RECORD_SIZE;
    if (record[kBoardCountOffset] == 0) continue;
    // Out of room: the records written so far stay, count is left as it came.
    if (kept == *count) return NPIO_UNEXPECTED;
    std::memcpy(records + kept * NPIO_SEARCH_RECORD_SIZE, record, NPIO_SEARCH_RECORD_SIZE);
    ++kept;
  }
  *count = kept;
  return kept == 0 ? NPIO_NO_CONNECTED_BOARD : NPIO_OK;
}
