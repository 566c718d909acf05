#include "lanrelay/gui/status_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "lanrelay/gui/place_near_cursor.h"
#include "lanrelay/gui/program_icon.h"

namespace gui {
namespace {

// The window's size in dialog units (a quarter of the average character
// width across, an eighth of the line height down): 481 x 274, the list
// inside it 7 units from every edge.
constexpr int kWidthUnits = 481;
constexpr int kHeightUnits = 274;
constexpr int kMarginUnits = 7;

}  // namespace

StatusWindow::StatusWindow(const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(title);
  setWindowIcon(programIcon());
  const QFontMetrics metrics(font());
  const double unitX = metrics.averageCharWidth() / 4.0;
  const double unitY = metrics.height() / 8.0;
  auto* layout = new QVBoxLayout(this);
  const int marginX = static_cast<int>(kMarginUnits * unitX);
  const int marginY = static_cast<int>(kMarginUnits * unitY);
  layout->setContentsMargins(marginX, marginY, marginX, marginY);
  list_ = new StatusListView(this);
  layout->addWidget(list_);
  // Not resizable: the columns are laid out once, for this size.
  setFixedSize(static_cast<int>(kWidthUnits * unitX), static_cast<int>(kHeightUnits * unitY));
  layout->activate();
  list_->layoutColumns();
}

void StatusWindow::showFromTray() {
  if (!meantShown_) {
    if (firstShowPending_) {
      firstShowPending_ = false;
      placeNearCursor(*this);
    }
    meantShown_ = true;
  }
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void StatusWindow::hideToTray() {
  meantShown_ = false;
  hide();
  if (onHidden_) onHidden_();
}

void StatusWindow::closeEvent(QCloseEvent* event) {
  // The close box (and Alt+F4) only hide the window; Exit is in the tray menu.
  event->ignore();
  hideToTray();
}

void StatusWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    // Hiding from inside the state change confuses some window managers.
    QTimer::singleShot(0, this, [this] {
      setWindowState(windowState() & ~Qt::WindowMinimized);
      hideToTray();
    });
  }
}

void StatusWindow::keyPressEvent(QKeyEvent* event) {
  // Neither key may end or close the window.
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace gui
