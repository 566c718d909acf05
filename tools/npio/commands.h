// The npio commands. Each returns the process exit status: 0 on success, 1
// when the library reported an error (printed with its name), 2 for a
// command line that cannot be understood.
#pragma once

#include <string>
#include <vector>

#include "arguments.h"

namespace npio_tool {

struct Command {
  const char* name;
  const char* summary;
  const char* help;  // full text of "npio NAME --help"
  int (*run)(const GlobalOptions& options, OptionReader& words);
};

const std::vector<Command>& commands();

}  // namespace npio_tool
