#include "lanrelay/shell/text_utils.h"

namespace shell {

std::string_view trimBlanks(std::string_view text) {
  constexpr std::string_view blanks = " \t\r";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string cutToCharacters(std::string_view text, size_t maxCharacters) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    // Continuation bytes (10xxxxxx) belong to the character before them.
    bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (startsCharacter && characters++ == maxCharacters) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string result;
  size_t start = 0;
  for (size_t hit = text.find(from); hit != std::string_view::npos; hit = text.find(from, start)) {
    result.append(text.substr(start, hit - start));
    result.append(to);
    start = hit + from.size();
  }
  result.append(text.substr(start));
  return result;
}

}  // namespace shell
