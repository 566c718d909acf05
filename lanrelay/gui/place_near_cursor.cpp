#include "lanrelay/gui/place_near_cursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace gui {

namespace {
constexpr int kEdgeGap = 16;
}

QPoint nearCursorPosition(const QRect& workArea, const QSize& windowSize, const QPoint& cursor) {
  const int right = workArea.x() + workArea.width();
  const int bottom = workArea.y() + workArea.height();
  return {std::min(cursor.x(), right - windowSize.width() - kEdgeGap),
          std::min(cursor.y(), bottom - windowSize.height() - kEdgeGap)};
}

void placeNearCursor(QWidget& window) {
  const QPoint cursor = QCursor::pos();
  QScreen* screen = QGuiApplication::screenAt(cursor);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // Before the first show the frame is not known yet; the window's own size
  // is the best guess then.
  const QSize size = window.isVisible() ? window.frameGeometry().size() : window.size();
  window.move(nearCursorPosition(screen->availableGeometry(), size, cursor));
}

}  // namespace gui
