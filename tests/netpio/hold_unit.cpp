// Helper process for the netpio tests: opens one unit at the relay on
// 127.0.0.1:PORT and reads its inputs once, so that a test can see what a
// second process finds while this one holds the unit. Exit status 0 when the
// read succeeded; the result code is printed on stdout.
#include <cstdio>
#include <cstdlib>

#include "netpio.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hold_unit PORT TYPE BOARD\n");
    return 2;
  }
  const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
  const int type = static_cast<int>(std::strtol(argv[2], nullptr, 0));
  const int board = std::atoi(argv[3]);
  if (npio_SetProgLink("127.0.0.1", port, 5000) != 0 || npio_OpenDevice(type, board) != 0) return 3;
  uint32_t inputs = 0;
  const uint32_t result = npio_rInDW(type, board, &inputs);
  std::printf("0x%x\n", result);
  npio_CloseDevice(type, board);
  return result == 0 ? 0 : 1;
}
