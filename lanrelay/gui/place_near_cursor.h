// Where a window opened from the tray appears: at the mouse cursor, pulled
// left or up just enough to end 16 pixels inside the work area (the tray
// usually sits in a corner, so the cursor is near an edge).
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace gui {

// x = min(cursor x, work-area right - width - 16), y likewise with the
// bottom; no correction toward the left or top edge. `workArea` right and
// bottom are exclusive (x + width, y + height).
QPoint nearCursorPosition(const QRect& workArea, const QSize& windowSize, const QPoint& cursor);

// Moves `window` (its frame, keeping its size) there, on the screen under the cursor.
void placeNearCursor(QWidget& window);

}  // namespace gui
