// lanrelay: the resident relay between client programs and the network boards.
#include <cstdlib>
#include <iostream>

#include "lanrelay/shell/program_options.h"
#include "lanrelay/shell/relay_program.h"
#ifdef LANRELAY_WITH_TRAY
#include "lanrelay/gui/gui_program.h"
#endif

int main(int argc, char** argv) {
  shell::ProgramOptions options = shell::parseProgramOptions(argc, argv);
  switch (options.mode) {
    case shell::ProgramMode::Help:
      std::cout << shell::programUsage();
      return 0;
    case shell::ProgramMode::Version:
      std::cout << "lanrelay " << LANRELAY_VERSION << "\n";
      return 0;
    case shell::ProgramMode::Invalid:
      std::cerr << "lanrelay: " << options.problem << "\n" << shell::programUsage();
      return 2;
    case shell::ProgramMode::Status:
      return shell::runStatusCommand();
    case shell::ProgramMode::Close:
      return shell::runCloseCommand();
    case shell::ProgramMode::Run:
      break;
  }
#ifdef LANRELAY_WITH_TRAY
  if (gui::wantsTrayFront(options.headless, std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
    return gui::runTrayRelay(argc, argv);
  }
#endif
  return shell::runRelay();
}
