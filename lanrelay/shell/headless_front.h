// The front of a relay without a window: each event balloon becomes one line
// on standard output ("LEVEL: title: text"), each message box one line on
// standard error ("caption: text"); the icon and the status list have no
// picture (`lanrelay --status` asks for the list over the control socket).
// CR LF inside texts becomes one space so every report is one line.
//
// A reader that stops reading must not stall the relay: when the output
// cannot take a line at once, the line is dropped.
// Thread: the loop thread.
#pragma once

#include <string>

#include "lanrelay/shell/shell_front.h"
#include "platform/event_loop.h"

namespace shell {

// "LEVEL: title: text" with the system log's level words.
std::string balloonLine(engine::IconKind icon, const std::string& title, const std::string& text);
// "caption: text".
std::string messageLine(const std::string& caption, const std::string& text);

class HeadlessFront final : public ShellFront {
 public:
  // Writes to the two descriptors and stops `loop` on requestExit().
  HeadlessFront(platform::EventLoop& loop, int outputFd, int errorFd);

  void addIcon() override {}
  void removeIcon() override {}
  void showBalloon(engine::IconKind icon, const std::string& title, const std::string& text) override;
  void showMessage(engine::IconKind icon, const std::string& caption, const std::string& text) override;
  void statusListChanged(const std::vector<StatusRow>&) override {}
  void requestExit() override;

 private:
  platform::EventLoop& loop_;
  int outputFd_;
  int errorFd_;
};

}  // namespace shell
