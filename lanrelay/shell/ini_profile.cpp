#include "lanrelay/shell/ini_profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "lanrelay/shell/text_utils.h"

namespace shell {
namespace {

// One line of the file, kept with its own line end so that a write gives back
// every untouched line byte for byte.
struct RawLine {
  std::string text;    // without the line end
  std::string ending;  // "\r\n", "\n" or "" for a last line without one
};

std::vector<RawLine> splitLines(const std::string& content) {
  std::vector<RawLine> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t newline = content.find('\n', start);
    if (newline == std::string::npos) {
      lines.push_back({content.substr(start), ""});
      break;
    }
    size_t textEnd = newline;
    if (textEnd > start && content[textEnd - 1] == '\r') --textEnd;
    lines.push_back({content.substr(start, textEnd - start), content.substr(textEnd, newline + 1 - textEnd)});
    start = newline + 1;
  }
  return lines;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Editors on other systems often start a UTF-8 file with a byte-order mark;
// it belongs to no name.
std::string_view withoutByteOrderMark(std::string_view line) {
  constexpr std::string_view mark = "\xEF\xBB\xBF";
  return line.substr(0, mark.size()) == mark ? line.substr(mark.size()) : line;
}

// "[name]" gives the name; anything else is not a section header.
std::optional<std::string_view> sectionName(std::string_view line) {
  line = trimBlanks(withoutByteOrderMark(line));
  if (line.empty() || line.front() != '[') return std::nullopt;
  size_t close = line.find(']');
  if (close == std::string_view::npos) close = line.size();
  return trimBlanks(line.substr(1, close - 1));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

// "key=value" with blanks around either side; comment lines start with ';'.
std::optional<KeyLine> keyLine(std::string_view line) {
  std::string_view trimmed = trimBlanks(withoutByteOrderMark(line));
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return std::nullopt;
  size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return KeyLine{trimBlanks(trimmed.substr(0, equals)), trimBlanks(trimmed.substr(equals + 1))};
}

std::string_view stripMatchingQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Where a key lives in the file: the section's header line, the key's line if
// present, and the line after the section's last key (where a new key goes).
struct KeyPosition {
  std::optional<size_t> sectionLine;
  std::optional<size_t> keyLineIndex;
  size_t insertAt = 0;
};

KeyPosition locate(const std::vector<RawLine>& lines, std::string_view section, std::string_view key) {
  KeyPosition position;
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = sectionName(lines[i].text);
    if (!name) continue;
    if (!position.sectionLine) {
      if (equalsIgnoringCase(*name, section)) {
        position.sectionLine = i;
        position.insertAt = i + 1;
      }
      continue;
    }
    break;  // the next section ends ours
  }
  if (!position.sectionLine) return position;
  for (size_t i = *position.sectionLine + 1; i < lines.size(); ++i) {
    if (sectionName(lines[i].text)) break;
    if (!trimBlanks(lines[i].text).empty()) position.insertAt = i + 1;
    auto entry = keyLine(lines[i].text);
    if (entry && !position.keyLineIndex && equalsIgnoringCase(entry->key, key)) position.keyLineIndex = i;
  }
  return position;
}

std::optional<std::string> findValue(const std::string& path, std::string_view section, std::string_view key) {
  auto content = readWholeFile(path);
  if (!content) return std::nullopt;
  auto lines = splitLines(*content);
  KeyPosition position = locate(lines, section, key);
  if (!position.keyLineIndex) return std::nullopt;
  return std::string(stripMatchingQuotes(keyLine(lines[*position.keyLineIndex].text)->value));
}

// Writes through a temporary file in the same folder and renames it over the
// target, so readers never see half a file and a full disk keeps the old one.
bool replaceFile(const std::string& path, const std::string& content) {
  std::string target = path;
  if (char* resolved = realpath(path.c_str(), nullptr)) {  // keep a symbolic link a link
    target = resolved;
    free(resolved);
  }
  std::string temporary = target + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  struct stat old {};
  fchmod(fd, stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
  size_t written = 0;
  bool ok = true;
  while (written < content.size()) {
    ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (close(fd) != 0) ok = false;
  if (ok && rename(temporary.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

}  // namespace

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback, size_t maxCharacters) {
  auto value = findValue(path, section, key);
  return cutToCharacters(value ? std::string_view(*value) : fallback, maxCharacters);
}

int profileTextToInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT_MIN) : INT_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}

int readProfileInt(const std::string& path, std::string_view section, std::string_view key, int fallback) {
  auto value = findValue(path, section, key);
  if (!value || value->empty()) return fallback;
  return profileTextToInt(*value);
}

bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::string content = readWholeFile(path).value_or("");
  auto lines = splitLines(content);
  // New lines follow the file's own line ends; a new file gets plain newlines.
  std::string ending = "\n";
  for (const RawLine& line : lines) {
    if (!line.ending.empty()) {
      ending = line.ending;
      break;
    }
  }
  std::string entry = std::string(key) + "=" + std::string(value);
  KeyPosition position = locate(lines, section, key);
  if (position.keyLineIndex) {
    lines[*position.keyLineIndex].text = entry;
  } else if (position.sectionLine) {
    if (position.insertAt > 0 && lines[position.insertAt - 1].ending.empty()) {
      lines[position.insertAt - 1].ending = ending;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(position.insertAt), RawLine{entry, ending});
  } else {
    if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = ending;
    lines.push_back({"[" + std::string(section) + "]", ending});
    lines.push_back({entry, ending});
  }
  std::string updated;
  for (const RawLine& line : lines) updated += line.text + line.ending;
  return replaceFile(path, updated);
}

}  // namespace shell
