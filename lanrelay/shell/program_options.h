// The command line of the `lanrelay` program.
#pragma once

#include <string>

namespace shell {

enum class ProgramMode {
  Run,      // run the relay (the default; --headless says so explicitly)
  Status,   // --status: print the running relay's status list
  Close,    // --close: ask the running relay to end
  Help,     // --help
  Version,  // --version
  Invalid,  // anything else; `problem` says what
};

struct ProgramOptions {
  ProgramMode mode = ProgramMode::Run;
  bool headless = false;  // --headless: no tray front even in a graphical session
  std::string problem;
};

ProgramOptions parseProgramOptions(int argc, const char* const* argv);

// The --help text.
std::string programUsage();

}  // namespace shell
