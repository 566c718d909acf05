#include "usbpio/board_ids.h"

#include <cstdlib>

namespace usbpio {
namespace {

std::optional<uint16_t> parseHex16(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
    else return std::nullopt;
    value = value * 16 + digit;
  }
  return static_cast<uint16_t>(value);
}

std::optional<BoardIdPair> parsePair(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto vendor = parseHex16(text.substr(0, colon));
  auto product = parseHex16(text.substr(colon + 1));
  if (!vendor || !product) return std::nullopt;
  return BoardIdPair{*vendor, *product};
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

// Placeholders: the IDs belong to the boards, and real ones are set through
// USBPIO_BOARD_IDS.
BoardIds defaultBoardIds() { return BoardIds{{{0x1209, 0x5A12}, {0x1209, 0x5A10}}}; }

std::optional<BoardIds> parseBoardIds(std::string_view text) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  auto first = parsePair(trimmed(text.substr(0, comma)));
  auto second = parsePair(trimmed(text.substr(comma + 1)));
  if (!first || !second) return std::nullopt;
  return BoardIds{{*first, *second}};
}

BoardIds boardIdsFromEnvironment() {
  const char* text = std::getenv("USBPIO_BOARD_IDS");
  if (text == nullptr) return defaultBoardIds();
  return parseBoardIds(text).value_or(defaultBoardIds());
}

std::vector<std::string> splitPortList(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = trimmed(text.substr(0, comma));
    if (!item.empty()) out.emplace_back(item);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return out;
}

std::vector<std::string> serialPortsFromEnvironment() {
  const char* text = std::getenv("USBPIO_SERIAL_PORTS");
  return text == nullptr ? std::vector<std::string>{} : splitPortList(text);
}

}  // namespace usbpio
