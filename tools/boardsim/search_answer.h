// The board side of the board search on UDP port 30718: recognising the
// relay's 4-byte search and building the answer. Pure code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "tools/boardsim/board_model.h"

namespace boardsim {

constexpr uint16_t kBoardSearchPort = 30718;
constexpr uint16_t kDefaultBoardPort = 10001;

// The relay reads the MAC from bytes 24-29 and the board's address from the
// datagram's sender; the rest is this simulator's own layout: 00 00 00 F7,
// the IPv4 address, the type code and the Board ID, zero padding.
constexpr size_t kSearchAnswerSize = 30;
using SearchAnswer = std::array<uint8_t, kSearchAnswerSize>;

// True for the search datagram 00 00 00 F6 (longer datagrams that start so
// are taken as well; boards are lenient about trailing bytes).
bool isBoardSearch(std::span<const uint8_t> datagram);

SearchAnswer buildSearchAnswer(const BoardIdentity& identity);

}  // namespace boardsim
