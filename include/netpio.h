/*
 * netpio — network digital I/O boards (32 inputs, 32 outputs as four 8-bit
 * ports), reached through the resident relay program by way of relaylink.
 *
 * A unit is a (board type code, Board ID) pair: type code 0x12 (wired board) or
 * 0x13 (wireless board), Board ID 0 to 15. Both are passed as int; the low 16
 * bits are used, as signed values. Open a unit with npio_OpenDevice before its
 * I/O operations; npio_SetProgLink points the library at its relay (default
 * 0.0.0.0:10010, time-out 3000 ms).
 *
 * Every function returns 0 or exactly one NPIO_* error bit below. Outputs go
 * through caller-supplied pointers and are written only on success; buffers
 * always belong to the caller. Records are byte arrays: a device info record
 * is 16 bytes (type code u16, Board ID u16, IPv4 address first octet first,
 * MAC address, 2 bytes 0), a search record 8 bytes (relay IPv4 address, number
 * of connected boards, 0, client port u16). Multi-byte values are
 * little-endian.
 *
 * Threads and processes: each unit's I/O operations take a lock shared by all
 * processes of the user, without waiting: a second caller on a busy unit gets
 * NPIO_BUSY at once. Set-up calls (SetProgLink, the device list, open, close)
 * are serialised inside the process.
 *
 * On load the library prepares its locks; if that fails it prints one line on
 * standard error and units cannot be opened (NPIO_BUSY).
 */
#ifndef NETPIO_H
#define NETPIO_H

#include <stdint.h>

#if defined(NETPIO_BUILDING)
#define NPIO_API __attribute__((visibility("default")))
#else
#define NPIO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define NPIO_OK 0u
#define NPIO_SOCKET_FAILURE 0x10000u     /* socket failure, relay closed the connection, or unit not open */
#define NPIO_UNKNOWN_BOARD 0x20000u      /* relay: no such board / not bound / board not connected;
                                            npio_EtnSearch: no relay answered */
#define NPIO_TIMEOUT 0x40000u            /* no answer in time, or the board did not answer the relay */
#define NPIO_UNEXPECTED 0x80000u         /* unexpected acknowledgement, reply too large for its buffer;
                                            npio_EtnSearch: more relays than room */
#define NPIO_BAD_ARGUMENT 0x100000u      /* argument out of range or null pointer */
#define NPIO_REFUSED 0x200000u           /* frame refused by the relay, or frame length wrong */
#define NPIO_REPLY_MISMATCH 0x400000u    /* reply length, unit byte or payload length wrong */
#define NPIO_DUPLICATE_BOARD 0x800000u   /* the relay's device list names one board twice */
#define NPIO_BUSY 0x1000000u             /* unit lock held elsewhere; OpenDevice: locks not available */
#define NPIO_NO_CONNECTED_BOARD 0x2000000u /* npio_EtnSearch: relays answered, none has a connected board */

#define NPIO_TYPE_WIRED 0x12
#define NPIO_TYPE_WIRELESS 0x13
#define NPIO_DEVICE_INFO_SIZE 16
#define NPIO_SEARCH_RECORD_SIZE 8

/* Device management. */
NPIO_API uint32_t npio_SetProgLink(const char* host, uint16_t port, uint16_t timeoutMs);
NPIO_API uint32_t npio_GetDeviceCount(uint32_t* count);
/* *count: in the capacity in records, out the records written. */
NPIO_API uint32_t npio_GetDeviceInfo(uint32_t* count, uint8_t* records);
NPIO_API uint32_t npio_GetOpenDevCount(int typeCode, int boardId, uint16_t* count);
NPIO_API uint32_t npio_GetBoardCode(int typeCode, int boardId, uint16_t* code);
/* Either pointer may be null; a null relayVersion makes no connection. */
NPIO_API uint32_t npio_GetProgVersion(uint16_t* relayVersion, uint16_t* libraryVersion);
NPIO_API uint32_t npio_OpenDevice(int typeCode, int boardId);
NPIO_API uint32_t npio_CloseDevice(int typeCode, int boardId);

/* I/O on an open unit; port and position 0 to 3 (a word at 3 is port 3 alone). */
NPIO_API uint32_t npio_rInB(int typeCode, int boardId, uint16_t port, uint16_t* value);
NPIO_API uint32_t npio_rInW(int typeCode, int boardId, uint16_t position, uint16_t* value);
NPIO_API uint32_t npio_rInDW(int typeCode, int boardId, uint32_t* value);
NPIO_API uint32_t npio_rOutB(int typeCode, int boardId, uint16_t port, uint16_t* value);
NPIO_API uint32_t npio_rOutW(int typeCode, int boardId, uint16_t position, uint16_t* value);
NPIO_API uint32_t npio_rOutDW(int typeCode, int boardId, uint32_t* value);
NPIO_API uint32_t npio_wOutB(int typeCode, int boardId, uint16_t port, uint8_t value);
NPIO_API uint32_t npio_wOutW(int typeCode, int boardId, uint16_t position, uint16_t value);
NPIO_API uint32_t npio_wOutDW(int typeCode, int boardId, uint32_t value);
NPIO_API uint32_t npio_InOutDW(int typeCode, int boardId, uint32_t* inputs, uint32_t outputs);
/* groupMask 0 to 255 (one bit per group of 4 inputs), setting 0 to 15. */
NPIO_API uint32_t npio_SetFilter(int typeCode, int boardId, uint16_t groupMask, uint16_t setting);
/* versions: two u16, in the board's order. */
NPIO_API uint32_t npio_rVersion(int typeCode, int boardId, uint16_t* versions);
/* Pass-through: a caller-built frame of *length bytes; then its reply into
 * buffer (*size: in the buffer size, out the frame length). */
NPIO_API uint32_t npio_EtnSend(int typeCode, int boardId, const uint8_t* frame, uint16_t* length);
NPIO_API uint32_t npio_EtnRecv(int typeCode, int boardId, uint8_t* buffer, uint16_t* size);
/* Relays with at least one connected board; *count: in capacity, out records
 * written. Lasts the whole time-out. */
NPIO_API uint32_t npio_EtnSearch(uint8_t* records, uint16_t* count, uint16_t timeoutMs);

#ifdef __cplusplus
}
#endif

#endif /* NETPIO_H */
