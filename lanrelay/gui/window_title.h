// The status window's title: the program file's last-write date, so the
// operator can tell which build runs.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace gui {

// "Regident Program Monitor ===Programu Last Update DD/MM/YYYY===" with the
// date taken in UTC (no conversion to local time), or "状態表示" when the
// time stamp could not be read.
std::string statusWindowTitle(std::optional<std::time_t> programLastWrite);

// The last-write time of the running program's file, if it can be read.
std::optional<std::time_t> programFileLastWrite();

}  // namespace gui
