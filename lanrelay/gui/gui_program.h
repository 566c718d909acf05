// The relay with its tray front: which front a run gets, and the run itself.
#pragma once

namespace gui {

// True when the tray front should run: not asked for headless, and a
// graphical session is there (DISPLAY or WAYLAND_DISPLAY set and not empty).
bool wantsTrayFront(bool headlessAsked, const char* display, const char* waylandDisplay);

// Runs the relay (single instance, start order, loop, orderly shutdown) with
// the tray front on Qt's loop; headless, after a line on standard error, when
// the display cannot be reached. The process exit status.
int runTrayRelay(int& argc, char** argv);

}  // namespace gui
