#include "netpio/relay_address.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace netpio {

bool acceptableRelayHost(const char* host) {
  if (host == nullptr) return false;
  const size_t length = std::strlen(host);
  if (length < 7 || length > 15) return false;
  const std::string text(host, length);
  size_t start = 0;
  while (start < text.size()) {
    const size_t dot = text.find('.', start);
    const size_t end = dot == std::string::npos ? text.size() : dot;
    if (end > start) {
      const std::string field = text.substr(start, end - start);
      if (std::strtol(field.c_str(), nullptr, 10) > 255) return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace netpio
