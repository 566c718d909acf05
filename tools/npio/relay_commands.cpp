// npio search and npio list: the relays on the local networks and the boards
// of one relay.
#include <cstdio>
#include <vector>

#include "command_support.h"

namespace npio_tool {

int runSearch(const GlobalOptions&, OptionReader& words) {
  const uint16_t time = static_cast<uint16_t>(
      parseNumber(words.take("--time").value_or("1000"), 0, 65535, "search time"));
  noMoreWords(words);
  std::vector<uint8_t> records(32 * NPIO_SEARCH_RECORD_SIZE);
  uint16_t count = 32;
  const uint32_t result = npio_EtnSearch(records.data(), &count, time);
  if (result != 0) return reportFailure("search", result, true);
  std::printf("%-15s %6s %5s\n", "relay", "boards", "port");
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* r = records.data() + i * NPIO_SEARCH_RECORD_SIZE;
    char address[16];
    std::snprintf(address, sizeof address, "%d.%d.%d.%d", r[0], r[1], r[2], r[3]);
    std::printf("%-15s %6d %5d\n", address, r[4], r[6] | (r[7] << 8));
  }
  return 0;
}

int runList(const GlobalOptions& options, OptionReader& words) {
  noMoreWords(words);
  if (const uint32_t r = pointAtRelay(options); r != 0) return reportFailure("list", r);
  uint32_t count = 32;
  std::vector<uint8_t> records(count * NPIO_DEVICE_INFO_SIZE);
  const uint32_t result = npio_GetDeviceInfo(&count, records.data());
  if (result != 0) return reportFailure("list", result);
  std::printf("%-4s %-5s %-15s %-17s %s\n", "type", "board", "address", "mac", "opens");
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = records.data() + i * NPIO_DEVICE_INFO_SIZE;
    const int type = r[0] | (r[1] << 8);
    const int board = r[2] | (r[3] << 8);
    uint16_t opens = 0;
    npio_GetOpenDevCount(type, board, &opens);
    char address[16];
    std::snprintf(address, sizeof address, "%d.%d.%d.%d", r[4], r[5], r[6], r[7]);
    std::printf("0x%02x %-5d %-15s %02x:%02x:%02x:%02x:%02x:%02x %d\n", type, board, address, r[8], r[9], r[10],
                r[11], r[12], r[13], opens);
  }
  return 0;
}

}  // namespace npio_tool
