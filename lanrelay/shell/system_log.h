// The operator's log: one line per reported event, in a new file per local
// calendar day ("tvkYYYYMMDD.log") in the folder the settings name. Lines end
// in CR LF. The settings are passed at every line, so switching the log on,
// off or to another folder acts from the next line.
//
// Thread: the relay's loop thread only.
#pragma once

#include <string>
#include <string_view>

#include "lanrelay/shell/log_clock.h"

namespace shell {

// "INFORMATION", "WARNING", "ERROR" for icon kinds 1, 2, 3; "NONE" otherwise.
const char* systemLogLevelWord(int iconKind);

// "tvk%04d%02d%02d.log" of the line's local date.
std::string systemLogFileName(const LocalTime& time);

// "%02d:%02d:%02d,LEVEL,title,message" and CR LF; every CR LF inside title and
// message becomes one space so an event stays on one line.
std::string systemLogLine(const LocalTime& time, int iconKind, std::string_view title,
                          std::string_view message);

class SystemLog {
 public:
  explicit SystemLog(LogClock clock);

  // Appends the event's line when `enabled`; a line that cannot be written
  // (missing folder, no permission, full disk) is lost without a report.
  void write(bool enabled, const std::string& folder, int iconKind, std::string_view title,
             std::string_view message) const;

 private:
  LogClock clock_;
};

}  // namespace shell
