/*
 * relaylink — client side of the relay protocol: talks to the resident relay
 * program over TCP (one connection per unit, or one short query connection)
 * and finds relays on the local networks by UDP broadcast.
 *
 * The library keeps no state: every call gets either a socket that an earlier
 * rlk_open* returned or the relay's address, and every wait is bounded by the
 * caller's time-out in milliseconds. Buffers always belong to the caller.
 *
 * Threads: calls on different sockets may run at the same time on different
 * threads; calls on one socket must not overlap (the caller serialises them).
 *
 * Time-outs: a time-out of 0, or one that is negative read as a signed 32-bit
 * value, makes exactly one readiness test and at most one read, and the call
 * then returns RLK_TIMEOUT whatever it read (used to discard stale input).
 *
 * Results: 0 and above are results; the negative values are RLK_* below.
 */
#ifndef RELAYLINK_H
#define RELAYLINK_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h> /* char16_t */
#endif

#if defined(RELAYLINK_BUILDING)
#define RLK_API __attribute__((visibility("default")))
#else
#define RLK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define RLK_SOCKET_FAILURE (-1)  /* socket, connect, poll, send or recv failed, or the relay closed the connection */
#define RLK_UNKNOWN_BOARD (-2)   /* relay status 0xFE: no such board, connection not bound, board not connected */
#define RLK_TIMEOUT (-3)         /* the caller's deadline passed, or the relay reported that the board did not answer */
#define RLK_UNEXPECTED (-4)      /* no acknowledgement within its 3 bytes, or a unit larger than the caller's buffer */
#define RLK_NULL_HOST (-5)       /* the host string is a null pointer */
#define RLK_BAD_FRAME (-6)       /* frame length wrong (tested before sending), or relay status 0xFA */

#define RLK_NO_SOCKET ((int64_t)-1)
#define RLK_DEFAULT_PORT 10010
#define RLK_DEVICE_RECORD_SIZE 16
#define RLK_SEARCH_RECORD_SIZE 8

/* 0 always (kept for callers that pair it with rlk_finalize). */
RLK_API int rlk_initialize(void);
/* 0 always. */
RLK_API int rlk_finalize(void);

/*
 * Connects to the relay at host:port (dotted IPv4, no name lookup) and binds
 * the connection to the board (Board ID, type code: low 8 bits each).
 * Returns the socket, or -1 with *status (when not null) = -1 (socket failure),
 * the relay's status sign-extended (-2: unknown board) or -3 (time-out).
 * A null host returns -5 and leaves *status untouched.
 */
RLK_API int64_t rlk_openA(const char* host, int port, int boardId, int typeCode, uint32_t timeoutMs, int* status);
/* As rlk_openA; the host is UTF-16: the low byte of each code unit, at most 20. */
RLK_API int64_t rlk_openW(const char16_t* host, int port, int boardId, int typeCode, uint32_t timeoutMs,
                          int* status);
/* Closes a socket from rlk_open*: 0, or -1 for a socket that is not open. */
RLK_API int rlk_close(int64_t s);
/*
 * Sends one frame (8-byte header + payload; length at least 10 and equal to 8
 * plus the payload length at offset 2) and waits for the relay's
 * acknowledgement, reading no byte beyond it. Returns 0 (queued for the
 * board), -2 (not bound / board not connected), -6 (refused, or length
 * wrong: nothing sent), -1, -3 or -4. Never closes the socket.
 */
RLK_API int rlk_send(int64_t s, const uint8_t* frame, int length, uint32_t timeoutMs);
/*
 * Waits for the next unit: a frame is stored in buf and its length returned;
 * the relay's "no reply" message stores its 0x7F and returns its status
 * sign-extended (-3). Otherwise -1, -3, or -4 (unit larger than size; nothing
 * is written beyond buf + size). Never closes the socket.
 */
RLK_API int rlk_receive(int64_t s, uint8_t* buf, int size, uint32_t timeoutMs);
/*
 * Asks the relay for its list of connected boards over a short query
 * connection; stores the 16-byte records in buf. Returns the number of
 * records, or -1, -3, -4 (list larger than size), -5 (null host).
 */
RLK_API int rlk_deviceA(const char* host, int port, uint8_t* buf, int size, uint32_t timeoutMs);
RLK_API int rlk_deviceW(const char16_t* host, int port, uint8_t* buf, int size, uint32_t timeoutMs);
/*
 * The relay's packed version (((major*16+minor)*16+build)*16+revision), or
 * -1, -3. A null or empty host gives this library's own version (0x1100 for
 * 1.1.0.0) without any traffic.
 */
RLK_API int rlk_versionA(const char* host, int port, uint32_t timeoutMs);
RLK_API int rlk_versionW(const char16_t* host, int port, uint32_t timeoutMs);
/*
 * Broadcasts the relay query from every local IPv4 address but 127.0.0.1 and
 * collects answers for the whole time-out. Stores one 8-byte record per
 * answering host (address first octet first, number of connected boards, 0,
 * client port little-endian or 0) while a whole record fits in size bytes.
 * Returns the number of records; never negative.
 */
RLK_API int rlk_search(uint8_t* buf, int size, uint32_t timeoutMs);

#ifdef __cplusplus
}
#endif

#endif /* RELAYLINK_H */
