#include "lanrelay/shell/system_log.h"

#include <cstdio>

#include "lanrelay/shell/log_file.h"
#include "lanrelay/shell/text_utils.h"

namespace shell {

const char* systemLogLevelWord(int iconKind) {
  switch (iconKind) {
    case 1: return "INFORMATION";
    case 2: return "WARNING";
    case 3: return "ERROR";
    default: return "NONE";
  }
}

std::string systemLogFileName(const LocalTime& time) {
  char name[40];
  std::snprintf(name, sizeof name, "tvk%04d%02d%02d.log", time.year, time.month, time.day);
  return name;
}

std::string systemLogLine(const LocalTime& time, int iconKind, std::string_view title,
                          std::string_view message) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d,", time.hour, time.minute, time.second);
  std::string line = stamp;
  line += systemLogLevelWord(iconKind);
  line += ',';
  line += replaceAll(title, "\r\n", " ");
  line += ',';
  line += replaceAll(message, "\r\n", " ");
  line += "\r\n";
  return line;
}

SystemLog::SystemLog(LogClock clock) : clock_(std::move(clock)) {}

void SystemLog::write(bool enabled, const std::string& folder, int iconKind, std::string_view title,
                      std::string_view message) const {
  if (!enabled) return;
  LocalTime now = clock_();
  appendLogLine(joinLogPath(folder, systemLogFileName(now)), systemLogLine(now, iconKind, title, message));
}

}  // namespace shell
