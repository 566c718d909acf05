// The one sequence every unit operation runs against the unit's relay
// connection: take the unit's lock without waiting, drop stale input, send
// the request, read and check the reply, release the lock. Arguments must
// have been checked by the caller (bad arguments never reach here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "netpio/unit_address.h"
#include "protocol/board_commands.h"

namespace netpio {

// Request/reply exchange of the library's own commands. `reply` must hold
// `replyCapacity` bytes; it holds the accepted reply frame on success.
// Returns 0, NPIO_SOCKET_FAILURE (unit not open), NPIO_BUSY, a link error bit
// of the send or receive, or NPIO_REPLY_MISMATCH.
uint32_t exchangeWithBoard(const Unit& unit, std::span<const uint8_t> request, uint8_t* reply,
                           size_t replyCapacity, protocol::ReplyShape shape);

// Pass-through send of a caller's frame (stale input is dropped first).
uint32_t passFrameToBoard(const Unit& unit, const uint8_t* frame, uint16_t length);

// Pass-through receive into the caller's buffer; *size becomes the frame length.
uint32_t passReplyFromBoard(const Unit& unit, uint8_t* buffer, uint16_t* size);

}  // namespace netpio
