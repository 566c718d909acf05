#include "lanrelay/shell/program_options.h"

#include <string_view>

namespace shell {

ProgramOptions parseProgramOptions(int argc, const char* const* argv) {
  ProgramOptions options;
  bool modeGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    ProgramMode mode;
    if (argument == "--headless") {
      options.headless = true;
      continue;
    } else if (argument == "--status") {
      mode = ProgramMode::Status;
    } else if (argument == "--close") {
      mode = ProgramMode::Close;
    } else if (argument == "--help" || argument == "-h") {
      mode = ProgramMode::Help;
    } else if (argument == "--version") {
      mode = ProgramMode::Version;
    } else {
      return {ProgramMode::Invalid, options.headless, "unknown argument: " + std::string(argument)};
    }
    if (modeGiven && mode != options.mode) {
      return {ProgramMode::Invalid, options.headless, "choose one of --status, --close, --help, --version"};
    }
    options.mode = mode;
    modeGiven = true;
  }
  return options;
}

std::string programUsage() {
  return "usage: lanrelay [--headless]   run the relay (one per user); in a graphical\n"
         "                               session it sits in the tray unless --headless\n"
         "       lanrelay --status       show the running relay's boards\n"
         "       lanrelay --close        ask the running relay to end\n"
         "       lanrelay --help | --version\n"
         "\n"
         "Settings: $XDG_CONFIG_HOME/lanrelay/lanrelay.ini (default ~/.config/lanrelay).\n"
         "Event texts and debug switch: message.ini and debug.ini in the program's folder\n"
         "if it holds message.ini, else in the current folder.\n";
}

}  // namespace shell
