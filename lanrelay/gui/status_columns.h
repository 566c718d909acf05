// Column widths of the status list: shares of the list's width once its
// border and a vertical scroll bar are taken off, so that the six columns
// fill the list exactly when the scroll bar shows.
#pragma once

#include <array>

#include "lanrelay/shell/status_list.h"

namespace gui {

// unit = (listWidth - 2 * edge - scrollBarWidth) / 100 in floating point; each
// column is unit times its share, cut toward zero to whole pixels.
std::array<int, shell::kStatusColumnCount> statusColumnWidths(int listWidth, int edge, int scrollBarWidth);

}  // namespace gui
