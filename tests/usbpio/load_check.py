"""Loads libusbpio through ctypes with no board attached: count 0, result 1."""
import ctypes
import sys

library = ctypes.CDLL(sys.argv[1])
count = ctypes.c_int32(-1)
result = library.upio_GetDeviceCount(ctypes.byref(count))
if result != 1 or count.value != 0:
    sys.exit(f"upio_GetDeviceCount gave result {result}, count {count.value}")
