#include "arguments.h"

#include <cerrno>
#include <cstdlib>

namespace npio_tool {

uint32_t parseNumber(const std::string& text, uint32_t low, uint32_t high, const char* what) {
  if (text.empty() || text[0] == '-' || text[0] == '+') throw UsageError{std::string("bad ") + what + ": " + text};
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value < low || value > high) {
    throw UsageError{std::string("bad ") + what + ": " + text + " (" + std::to_string(low) + " to " +
                     std::to_string(high) + ")"};
  }
  return static_cast<uint32_t>(value);
}

std::optional<std::string> OptionReader::take(const std::string& name) {
  for (size_t i = 0; i < words_.size(); ++i) {
    if (words_[i] == name) {
      if (i + 1 >= words_.size()) throw UsageError{name + " needs a value"};
      std::string value = words_[i + 1];
      words_.erase(words_.begin() + static_cast<long>(i), words_.begin() + static_cast<long>(i) + 2);
      return value;
    }
    if (words_[i].rfind(name + "=", 0) == 0) {
      std::string value = words_[i].substr(name.size() + 1);
      words_.erase(words_.begin() + static_cast<long>(i));
      return value;
    }
  }
  return std::nullopt;
}

bool OptionReader::takeFlag(const std::string& name) {
  for (size_t i = 0; i < words_.size(); ++i) {
    if (words_[i] == name) {
      words_.erase(words_.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

std::vector<std::string> OptionReader::rest() const {
  for (const std::string& w : words_) {
    if (w.size() > 2 && w.rfind("--", 0) == 0) throw UsageError{"unknown option " + w};
  }
  return words_;
}

void parseRelay(const std::string& text, GlobalOptions& options) {
  const size_t colon = text.find(':');
  options.relayHost = text.substr(0, colon);
  if (colon != std::string::npos) {
    options.relayPort = static_cast<uint16_t>(parseNumber(text.substr(colon + 1), 1, 65535, "relay port"));
  }
  if (options.relayHost.empty()) throw UsageError{"bad relay address: " + text};
}

}  // namespace npio_tool
