#include "lanrelay/gui/gui_program.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "lanrelay/gui/program_icon.h"
#include "lanrelay/gui/tray_front.h"
#include "lanrelay/shell/relay_program.h"

namespace gui {

bool wantsTrayFront(bool headlessAsked, const char* display, const char* waylandDisplay) {
  auto set = [](const char* value) { return value != nullptr && value[0] != '\0'; };
  return !headlessAsked && (set(display) || set(waylandDisplay));
}

namespace {

// The desktop's platforms in the order to try them, then the offscreen one,
// which always starts: a session whose display cannot be reached (a stale
// DISPLAY after ssh, say) then ends up there instead of aborting the program.
// X11 comes first where both are offered: only there may a window place
// itself near the cursor.
QByteArray platformsToTry(const char* display, const char* waylandDisplay) {
  auto set = [](const char* value) { return value != nullptr && value[0] != '\0'; };
  QByteArray platforms;
  if (set(display)) platforms += "xcb;";
  if (set(waylandDisplay)) platforms += "wayland;";
  return platforms + "offscreen";
}

}  // namespace

int runTrayRelay(int& argc, char** argv) {
  // A platform the user chose is left alone.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", platformsToTry(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY")));
  }
  QApplication application(argc, argv);
  if (QGuiApplication::platformName() == "offscreen") {
    std::fprintf(stderr, "%s: cannot reach the display; running headless\n", shell::kProgramCaption);
    return shell::runRelay();
  }
  QApplication::setApplicationName("lanrelay");
  QApplication::setWindowIcon(programIcon());
  // The relay lives in the tray: closing or hiding its last window must not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  return shell::runRelay([](platform::EventLoop& loop) { return std::make_unique<TrayFront>(loop); });
}

}  // namespace gui
