/* Loads libusbpio with no board attached: count 0 with result 1, and every
 * call that needs a unit says there is none. Exit status 0 when all holds. */
#include <stdio.h>

#include "usbpio.h"

static int failures = 0;

static void expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "load_check: %s\n", what);
    ++failures;
  }
}

int main(void) {
  int32_t count = -1;
  expect(upio_GetDeviceCount(&count) == UPIO_NO_UNIT, "GetDeviceCount result is not 1");
  expect(count == 0, "GetDeviceCount count is not 0");

  UpioDeviceInfo records[UPIO_MAX_UNITS];
  uint32_t room = UPIO_MAX_UNITS;
  expect(upio_GetDeviceInfo(&room, records) == UPIO_OK && room == 0, "GetDeviceInfo does not report 0 records");
  room = 0;
  expect(upio_GetDeviceInfo(&room, records) == UPIO_NO_UNIT, "GetDeviceInfo with count 0 is not 1");

  UpioDeviceInfo wanted = {0};
  uint32_t unit = 77;
  expect(upio_OpenDevice(&unit, &wanted) == UPIO_NO_UNIT && unit == 77, "OpenDevice does not give 1");
  expect(upio_CloseDevice(0) == UPIO_BAD_UNIT, "CloseDevice on a closed unit is not 8");
  uint16_t value = 0;
  expect(upio_rInB(0, 0, &value) == UPIO_NOT_OPEN, "rInB on a closed unit is not 16");
  expect(upio_rInB(16, 0, &value) == UPIO_BAD_UNIT, "rInB on unit 16 is not 8");
  expect(upio_GetBoardCode(0, NULL) == UPIO_BAD_ARGUMENT, "a null output pointer is not refused");
  return failures == 0 ? 0 : 1;
}
