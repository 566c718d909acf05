#!/usr/bin/env python3
"""Loads librelaylink.so and libnetpio.so with ctypes, as Python callers do,
and drives one unit through a relay played by this script on 127.0.0.1.

usage: ctypes_test.py LIBDIR
"""
import ctypes
import os
import shutil
import socket
import sys
import tempfile
import threading

RELAYLINK_NAMES = ["rlk_initialize", "rlk_finalize", "rlk_openA", "rlk_openW", "rlk_close", "rlk_send",
                   "rlk_receive", "rlk_deviceA", "rlk_deviceW", "rlk_versionA", "rlk_versionW", "rlk_search"]
NETPIO_NAMES = ["npio_SetProgLink", "npio_GetDeviceCount", "npio_GetDeviceInfo", "npio_GetOpenDevCount",
                "npio_GetBoardCode", "npio_GetProgVersion", "npio_OpenDevice", "npio_CloseDevice",
                "npio_rInB", "npio_rInW", "npio_rInDW", "npio_rOutB", "npio_rOutW", "npio_rOutDW",
                "npio_wOutB", "npio_wOutW", "npio_wOutDW", "npio_InOutDW", "npio_SetFilter", "npio_rVersion",
                "npio_EtnSend", "npio_EtnRecv", "npio_EtnSearch"]


def serve_one_unit(listener, received):
    """Answers one open and one input read, then waits for the close."""
    conn, _ = listener.accept()
    with conn:
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        received.append(recv_exactly(conn, 4))
        conn.sendall(bytes([0x7F, 0x71, 0x00]))
        received.append(recv_exactly(conn, 10))
        conn.sendall(bytes([0x7F, 0x73, 0x00]))
        conn.sendall(bytes([0x03, 0x93, 0x04, 0x00, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44]))
        conn.recv(16)  # end of stream when the unit is closed


def recv_exactly(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            break
        data += chunk
    return data


def check(condition, what):
    if not condition:
        print("FAILED:", what)
        sys.exit(1)


def main():
    libdir = sys.argv[1]
    lockdir = tempfile.mkdtemp(prefix="netpio-ctypes-locks-")
    os.environ["LANRELAY_LOCK_DIR"] = lockdir  # before the library loads

    rlk = ctypes.CDLL(os.path.join(libdir, "librelaylink.so"))
    npio = ctypes.CDLL(os.path.join(libdir, "libnetpio.so"))
    for name in RELAYLINK_NAMES:
        check(hasattr(rlk, name), "relaylink exports " + name)
    for name in NETPIO_NAMES:
        check(hasattr(npio, name), "netpio exports " + name)

    rlk.rlk_versionA.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_uint32]
    rlk.rlk_versionA.restype = ctypes.c_int
    check(rlk.rlk_versionA(None, 0, 0) == 0x1100, "own version 0x1100")
    rlk.rlk_versionW.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint32]
    check(rlk.rlk_versionW(None, 0, 0) == 0x1100, "own version through the wide form")
    rlk.rlk_openA.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_uint32,
                              ctypes.POINTER(ctypes.c_int)]
    rlk.rlk_openA.restype = ctypes.c_int64
    status = ctypes.c_int(1234)
    check(rlk.rlk_openA(None, 10010, 3, 0x12, 100, ctypes.byref(status)) == -5, "null host gives -5")
    check(status.value == 1234, "status untouched")

    u16 = ctypes.c_uint16
    npio.npio_GetBoardCode.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.POINTER(u16)]
    npio.npio_GetBoardCode.restype = ctypes.c_uint32
    code = u16(0)
    check(npio.npio_GetBoardCode(0x12, 3, ctypes.byref(code)) == 0 and code.value == 0x5C20, "board code")

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    received = []
    relay = threading.Thread(target=serve_one_unit, args=(listener, received), daemon=True)
    relay.start()

    npio.npio_SetProgLink.argtypes = [ctypes.c_char_p, u16, u16]
    npio.npio_SetProgLink.restype = ctypes.c_uint32
    check(npio.npio_SetProgLink(b"127.0.0.1", port, 2000) == 0, "relay address set")
    npio.npio_OpenDevice.argtypes = [ctypes.c_int, ctypes.c_int]
    npio.npio_OpenDevice.restype = ctypes.c_uint32
    check(npio.npio_OpenDevice(0x12, 3) == 0, "unit opened")
    npio.npio_rInB.argtypes = [ctypes.c_int, ctypes.c_int, u16, ctypes.POINTER(u16)]
    npio.npio_rInB.restype = ctypes.c_uint32
    value = u16(0)
    check(npio.npio_rInB(0x12, 3, 1, ctypes.byref(value)) == 0, "input read")
    check(value.value == 0x22, "input port 1 is 0x22, got %#x" % value.value)
    npio.npio_CloseDevice.argtypes = [ctypes.c_int, ctypes.c_int]
    npio.npio_CloseDevice.restype = ctypes.c_uint32
    check(npio.npio_CloseDevice(0x12, 3) == 0, "unit closed")
    relay.join(5)
    check(received == [bytes([0x7F, 0x71, 0x03, 0x12]),
                       bytes([0x03, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0x93, 0x01])], "bytes on the wire")
    shutil.rmtree(lockdir, ignore_errors=True)
    print("ctypes: both libraries load and work")


if __name__ == "__main__":
    main()
