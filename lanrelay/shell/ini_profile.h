// Reading and writing INI profile files ("[SECTION]" lines and "KEY=value"
// lines) the way the relay's settings and text files expect: section and key
// names match without regard to case, a missing file, section or key gives the
// caller's default, and a write changes or adds one line and keeps the rest of
// the file as it was. Every call opens and closes the file; nothing is cached,
// so a file edited by hand is seen by the next call.
// Texts are bytes (UTF-8 on this system); limits count characters, not bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace shell {

// Windows profile buffers hold 260 characters with the terminator, so at most
// 259 characters of a value are ever returned.
constexpr size_t kProfileTextLimit = 259;

// The value of `key` in `section`, trimmed of surrounding blanks and of one
// pair of matching surrounding quotes, cut to `maxCharacters` characters.
// Returns `fallback` when the file, the section or the key is missing.
std::string readProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback,
                              size_t maxCharacters = kProfileTextLimit);

// The value read as a decimal integer: blanks, an optional sign, then the
// leading digits; text without leading digits gives 0, values beyond 32 bits
// saturate. Returns `fallback` when the key is missing or its value is empty.
int readProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int fallback);

// The integer rule above, on a value already read.
int profileTextToInt(std::string_view text);

// Sets `key` in `section` to `value`: replaces the key's line if present,
// otherwise adds the line at the end of the section, adding the section at the
// end of the file if needed, and creates the file if absent. The file is
// replaced as a whole through a temporary file, so a failed write (disk full,
// no permission) leaves the old file intact. Returns false when the file could
// not be written; the caller may ignore it.
bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace shell
