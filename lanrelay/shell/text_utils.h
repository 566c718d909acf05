// Small text helpers shared by the shell's file readers and formatters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace shell {

// Without leading and trailing spaces, tabs and carriage returns.
std::string_view trimBlanks(std::string_view text);

// ASCII letters compared without regard to case; other bytes exactly.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The first `maxCharacters` UTF-8 characters of `text`; never splits a
// character's bytes.
std::string cutToCharacters(std::string_view text, size_t maxCharacters);

// Every occurrence of `from`, left to right, without rescanning what was put in.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace shell
