#include "lanrelay/gui/window_title.h"

#include <sys/stat.h>

#include <cstdio>

namespace gui {

std::string statusWindowTitle(std::optional<std::time_t> programLastWrite) {
  std::tm parts{};
  if (!programLastWrite || gmtime_r(&*programLastWrite, &parts) == nullptr) return "状態表示";
  char title[96];
  std::snprintf(title, sizeof title, "Regident Program Monitor ===Programu Last Update %02d/%02d/%d===", parts.tm_mday,
                parts.tm_mon + 1, parts.tm_year + 1900);
  return title;
}

std::optional<std::time_t> programFileLastWrite() {
  struct stat info {};
  // /proc/self/exe follows to the file the process was started from.
  if (stat("/proc/self/exe", &info) != 0) return std::nullopt;
  return info.st_mtim.tv_sec;
}

}  // namespace gui
