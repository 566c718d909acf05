// Command-line parsing for npio: global options, then a command and its words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace npio_tool {

struct GlobalOptions {
  std::string relayHost = "127.0.0.1";
  uint16_t relayPort = 10010;
  uint16_t timeoutMs = 3000;
  int typeCode = 0x12;
  int boardId = 0;
};

// Thrown for a command line that cannot be understood; the text says why.
struct UsageError {
  std::string text;
};

// Number in decimal, 0x hex or 0 octal, within [low, high].
uint32_t parseNumber(const std::string& text, uint32_t low, uint32_t high, const char* what);

// Takes "--name value" and "--name=value" options off the front of `words`
// (those the caller knows); returns the remaining words.
class OptionReader {
 public:
  explicit OptionReader(std::vector<std::string> words) : words_(std::move(words)) {}
  // The value of --name if given (removed from the words).
  std::optional<std::string> take(const std::string& name);
  bool takeFlag(const std::string& name);
  // Everything left; an unknown option is a usage error.
  std::vector<std::string> rest() const;

 private:
  std::vector<std::string> words_;
};

void parseRelay(const std::string& text, GlobalOptions& options);

}  // namespace npio_tool
