/* Both public headers compile as C and the libraries link from C. Run by
 * CTest as NetpioCHeader: no relay traffic, exit status 0 on success. */
#include <stdio.h>

#include "netpio.h"
#include "relaylink.h"

int main(void) {
  uint16_t code = 0;
  const char16_t wide[] = {0};
  if (rlk_versionA(NULL, 0, 0) != 0x1100 || rlk_versionW(wide, 0, 0) != 0x1100) {
    puts("relaylink own version is not 0x1100");
    return 1;
  }
  if (npio_GetBoardCode(NPIO_TYPE_WIRED, 0, &code) != NPIO_OK || code != 0x5C20) {
    puts("netpio board code is not 0x5C20");
    return 1;
  }
  return 0;
}
