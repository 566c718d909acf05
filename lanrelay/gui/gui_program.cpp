#include "lanrelay/gui/gui_program.h"

#include <QApplication>

#include "lanrelay/gui/program_icon.h"
#include "lanrelay/gui/tray_front.h"
#include "lanrelay/shell/relay_program.h"

namespace gui {

bool wantsTrayFront(bool headlessAsked, const char* display, const char* waylandDisplay) {
  auto set = [](const char* value) { return value != nullptr && value[0] != '\0'; };
  return !headlessAsked && (set(display) || set(waylandDisplay));
}

int runTrayRelay(int& argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("lanrelay");
  QApplication::setWindowIcon(programIcon());
  // The relay lives in the tray: closing or hiding its last window must not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  return shell::runRelay([](platform::EventLoop& loop) { return std::make_unique<TrayFront>(loop); });
}

}  // namespace gui
