// What the relay shows its user, whatever the front: the headless front
// prints lines, a windowed front later draws an icon, balloons, a list and
// message boxes. The RelayShell calls these on the loop thread.
#pragma once

#include <string>
#include <vector>

#include "lanrelay/engine/event_index.h"
#include "lanrelay/shell/status_list.h"

namespace shell {

// The program name, used as the caption of the relay's message boxes.
constexpr const char* kProgramCaption = "lanrelay";

// Balloon limits of the notification area: longer texts are cut.
constexpr size_t kBalloonTitleLimit = 63;
constexpr size_t kBalloonTextLimit = 255;

class ShellFront {
 public:
  virtual ~ShellFront() = default;

  // The program's icon appears (start) or goes (shutdown).
  virtual void addIcon() = 0;
  virtual void removeIcon() = 0;

  // An event balloon at the icon, replacing any earlier one. Title and text
  // are already cut to the balloon limits and may hold CR LF; an empty text
  // shows nothing.
  virtual void showBalloon(engine::IconKind icon, const std::string& title, const std::string& text) = 0;

  // A message for the operator that the relay waits on (a message box); the
  // text may hold CR LF.
  virtual void showMessage(engine::IconKind icon, const std::string& caption, const std::string& text) = 0;

  // The status list was rebuilt; `rows` stays valid until the next call.
  virtual void statusListChanged(const std::vector<StatusRow>& rows) = 0;

  // The relay wants to end (Exit, a close request, another relay found): the
  // front stops the loop it runs; the program then shuts down in order.
  virtual void requestExit() = 0;
};

}  // namespace shell
