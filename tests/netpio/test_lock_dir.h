// Every netpio test program takes its unit locks in a directory of its own,
// so test programs running side by side never see each other's units.
// (The library reads LANRELAY_LOCK_DIR whenever it opens a unit's lock.)
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace netpio_test {

inline const std::string& privateLockDirectory() {
  static const std::string dir = [] {
    if (const char* given = std::getenv("LANRELAY_LOCK_DIR"); given != nullptr && given[0] != '\0') {
      return std::string(given);
    }
    char pattern[] = "/tmp/netpio-test-locks-XXXXXX";
    const char* made = mkdtemp(pattern);
    const std::string path = made != nullptr ? made : "/tmp";
    setenv("LANRELAY_LOCK_DIR", path.c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(std::getenv("LANRELAY_LOCK_DIR"), ignored);
    });
    return path;
  }();
  return dir;
}

}  // namespace netpio_test
