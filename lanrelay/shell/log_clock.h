// The local wall-clock time the logs stamp their lines with. Handed to the
// logs as a function so tests can fix the date.
#pragma once

#include <functional>

namespace shell {

struct LocalTime {
  int year = 1970;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

using LogClock = std::function<LocalTime()>;

// The system's local time now (time zone from the environment).
LocalTime localTimeNow();

}  // namespace shell
