#include "lanrelay/gui/status_columns.h"

namespace gui {

std::array<int, shell::kStatusColumnCount> statusColumnWidths(int listWidth, int edge, int scrollBarWidth) {
  const double unit = static_cast<double>(listWidth - 2 * edge - scrollBarWidth) / 100.0;
  std::array<int, shell::kStatusColumnCount> widths{};
  for (size_t i = 0; i < widths.size(); ++i) {
    widths[i] = static_cast<int>(unit * shell::statusWidthShares()[i]);
  }
  return widths;
}

}  // namespace gui
