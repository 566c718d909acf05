// Helpers shared by the npio commands.
#pragma once

#include <cstdint>
#include <string>

#include "arguments.h"
#include "netpio.h"

namespace npio_tool {

// Prints "npio: WHAT: NAME (0xBITS)" on stderr; returns exit status 1.
int reportFailure(const char* what, uint32_t result, bool fromSearch = false);
// A usage error for words left over.
void noMoreWords(const OptionReader& words);
// Sets the library's relay address from the options.
uint32_t pointAtRelay(const GlobalOptions& options);

// Opens the unit named by the options for the life of the object.
class OpenUnit {
 public:
  explicit OpenUnit(const GlobalOptions& options);
  ~OpenUnit();
  OpenUnit(const OpenUnit&) = delete;
  OpenUnit& operator=(const OpenUnit&) = delete;
  uint32_t result() const { return result_; }

 private:
  int type_;
  int board_;
  uint32_t result_;
};

}  // namespace npio_tool
