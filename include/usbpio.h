/*
 * usbpio — USB digital I/O boards (32 inputs, 32 outputs as four 8-bit ports),
 * reached either over the board's own USB pipes (pipe link) or over a USB-to-UART
 * bridge (serial link).
 *
 * The library finds every board once, while it is being loaded into the process,
 * and numbers them 0 to 15 in the order found: pipe-link boards first, then
 * serial-link boards. Boards plugged in later are seen only by a process that
 * loads the library afterwards.
 *
 * Every function returns one result code (UPIO_* below), never a combination.
 * Outputs go through caller-supplied pointers and are written only on success;
 * buffers always belong to the caller. A null pointer gives UPIO_BAD_ARGUMENT.
 *
 * Threads: no function takes a lock. Calls on one unit must not overlap (from
 * threads or from processes); calls on different units may.
 *
 * Export order (kept for programs written against the original ordinal table;
 * Linux has no ordinals, so this is documentation only):
 *   1 upio_GetDeviceCount   2 upio_GetDeviceInfo   3 upio_OpenDevice
 *   4 upio_CloseDevice      5 upio_rInB            6 upio_rOutB
 *   7 upio_wOutB            8 upio_rInW            9 upio_rOutW
 *  10 upio_wOutW           11 upio_rInDW          12 upio_rOutDW
 *  13 upio_wOutDW          14 upio_InOutDW        15 upio_SetFilter
 *  16 upio_ReadDevice      17 upio_WritDevice     (18, 19, 20 unused)
 *  21 upio_SetFilterEx     22 upio_GetBoardCode   23 upio_GetBoardType
 *  24 upio_rVersion        25 upio_UsbSend        26 upio_UsbRecv
 *
 * Environment (read once, at load):
 *   USBPIO_SERIAL_PORTS  extra serial ports to probe, separated by commas, for
 *                        example a pseudo-terminal or a /dev/serial/by-id link.
 *   USBPIO_BOARD_IDS     "VVVV:AAAA,VVVV:BBBB": vendor and product IDs (hex) of
 *                        the two pipe-link board variants.
 */
#ifndef USBPIO_H
#define USBPIO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define UPIO_OK 0u
#define UPIO_NO_UNIT 1u           /* no unit found at load, count argument 0, or no unit matches */
#define UPIO_ALREADY_OPEN 2u      /* upio_OpenDevice on an open unit */
#define UPIO_BAD_LENGTH 4u        /* raw transfer length 0 or above the link's limit */
#define UPIO_BAD_UNIT 8u          /* unit above 15; closed unit (where open-ness is tested first);
                                     not a serial-open unit (rVersion, SetFilterEx); a failed
                                     pipe transfer while the board is still attached */
#define UPIO_NOT_OPEN 16u         /* unit closed (I/O exports); pipe-link board unplugged */
#define UPIO_UNKNOWN_BOARD 32u    /* unknown serial board type; no pipe with the expected endpoint */
#define UPIO_TIMEOUT 128u         /* pipe transfer not done within 5000 ms; serial write or read failed */
#define UPIO_BAD_ARGUMENT 256u    /* port, filter mask, time or setting out of range; 0-byte transfer */
#define UPIO_PIPE_HALTED 0x80000000u /* the endpoint was halted; the pipe has been reset */

#define UPIO_MAX_UNITS 16
#define UPIO_SERIAL_TRANSFER_LIMIT 512

/*
 * One unit as the library describes it: 84 bytes, little-endian, no padding.
 * pipe_count 1 marks a serial-link board; then endpoint_address[0] is the port's
 * index in the library's port list, max_packet_size[0] its port number (tty
 * index + 1) and board_type_code[0] the type the board reported. The handles are
 * the library's own tokens and mean nothing outside it.
 */
typedef struct UpioDeviceInfo {
  uint16_t board_id;            /* 0..15; 99 when the board did not identify itself */
  uint16_t pipe_count;
  uint16_t endpoint_address[8];
  uint16_t max_packet_size[8];
  uint16_t board_type_code[8];
  uint32_t pipe_handle[8];
} UpioDeviceInfo;

/* Device management. */
uint32_t upio_GetDeviceCount(int32_t* count);                        /* 0, or 1 when count is 0 */
uint32_t upio_GetDeviceInfo(uint32_t* count, UpioDeviceInfo* records); /* count in: room; out: records written if fewer */
uint32_t upio_OpenDevice(uint32_t* unit, const UpioDeviceInfo* info); /* 0, 1, 2 */
uint32_t upio_CloseDevice(uint32_t unit);                            /* 0, 8 */
uint32_t upio_GetBoardCode(uint32_t unit, uint16_t* code);           /* 0, 8 */
uint32_t upio_GetBoardType(uint32_t unit, uint16_t* type);           /* 0, 8, 32 (unknown: type 0 written) */

/*
 * Inputs and outputs. Ports are 0..3; a word at port p is byte p (low) and
 * byte p+1 (high), at port 3 byte 3 alone. Checks come in this order: unit
 * above 15 gives 8; an argument out of range 256; a closed unit 16 (8 for the
 * serial-link-only calls). Then the transfer's own result: 16 board unplugged,
 * 8 pipe transfer failed while attached, 32 no pipe of the expected endpoint,
 * 128 no complete answer in time or serial port failure, 0x80000000 endpoint
 * halted (the pipe has been reset). The unit stays open after any of these.
 *
 * The library keeps the four output bytes it last sent or read (cleared when
 * the unit is opened); byte and word writes send all four, from that copy with
 * the addressed bytes replaced.
 */
uint32_t upio_rInB(uint32_t unit, uint16_t port, uint16_t* value);
uint32_t upio_rInW(uint32_t unit, uint16_t port, uint16_t* value);
uint32_t upio_rInDW(uint32_t unit, uint32_t* value);
uint32_t upio_rOutB(uint32_t unit, uint16_t port, uint16_t* value);
uint32_t upio_rOutW(uint32_t unit, uint16_t port, uint16_t* value);
uint32_t upio_rOutDW(uint32_t unit, uint32_t* value);
uint32_t upio_wOutB(uint32_t unit, uint16_t port, uint16_t value);  /* the value's low byte */
uint32_t upio_wOutW(uint32_t unit, uint16_t port, uint16_t value);
uint32_t upio_wOutDW(uint32_t unit, uint32_t value);
/* Sets all outputs to value and gives the inputs read in the same exchange. */
uint32_t upio_InOutDW(uint32_t unit, uint32_t* inputs, uint32_t value);
/* Input filter of the ports in port_mask (1..15); time 0..65535. */
uint32_t upio_SetFilter(uint32_t unit, uint16_t port_mask, uint32_t time);
/* Serial link only: filter setting 0..15 for the groups in group_mask (1..255);
 * group g covers inputs 4g to 4g+3. */
uint32_t upio_SetFilterEx(uint32_t unit, uint16_t group_mask, uint16_t setting);
/* Serial link only: the firmware's two version words. */
uint32_t upio_rVersion(uint32_t unit, uint16_t version[2]);

/*
 * Raw transfers of bytes the caller built. length is in and out: on success
 * it becomes the number of bytes moved. Results: 8 unit above 15 or closed;
 * 4 length 0 or above the limit (pipe link: pipe 0's packet size; serial link:
 * UPIO_SERIAL_TRANSFER_LIMIT); then the transfer's result as above. A serial
 * receive that ends by time-out with fewer bytes succeeds with that count.
 */
uint32_t upio_UsbSend(uint32_t unit, const uint8_t* buffer, uint16_t* length);
uint32_t upio_UsbRecv(uint32_t unit, uint8_t* buffer, uint16_t* length);
uint32_t upio_WritDevice(uint32_t unit, const uint8_t* buffer, uint16_t* length); /* = upio_UsbSend */
uint32_t upio_ReadDevice(uint32_t unit, uint8_t* buffer, uint16_t* length);       /* = upio_UsbRecv */

#ifdef __cplusplus
}
#endif

#endif /* USBPIO_H */
