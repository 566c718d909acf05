#include "lanrelay/gui/status_list_view.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>

#include "lanrelay/gui/status_columns.h"

namespace gui {
namespace {

QStringList headings() {
  QStringList list;
  for (const std::string& heading : shell::statusHeadings()) list << QString::fromStdString(heading);
  return list;
}

}  // namespace

StatusListView::StatusListView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(static_cast<int>(shell::kStatusColumnCount));
  setHeaderLabels(headings());
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  // A plain list: no tree decoration, no sorting, no editing.
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setTextElideMode(Qt::ElideRight);
}

void StatusListView::layoutColumns() {
  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const auto widths = statusColumnWidths(width(), frameWidth(), scrollBar);
  for (size_t i = 0; i < widths.size(); ++i) setColumnWidth(static_cast<int>(i), widths[i]);
}

void StatusListView::setRows(const std::vector<shell::StatusRow>& rows) {
  clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows.size()));
  for (const shell::StatusRow& row : rows) {
    auto* item = new QTreeWidgetItem;
    for (size_t column = 0; column < row.size(); ++column) {
      item->setText(static_cast<int>(column), QString::fromStdString(row[column]));
      item->setTextAlignment(static_cast<int>(column), Qt::AlignLeft | Qt::AlignVCenter);
    }
    items.append(item);
  }
  addTopLevelItems(items);
}

bool StatusListView::cellIsCut(int row, int column) const {
  QTreeWidgetItem* item = topLevelItem(row);
  if (item == nullptr) return false;
  const QModelIndex index = indexFromItem(item, column);
  const QRect cell = visualRect(index);
  // The text needs its advance plus the style's margins on both sides.
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  return fontMetrics().horizontalAdvance(item->text(column)) + 2 * margin > cell.width();
}

bool StatusListView::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QTreeWidget::viewportEvent(event);
  auto* help = static_cast<QHelpEvent*>(event);
  const QModelIndex index = indexAt(help->pos());
  if (index.isValid() && cellIsCut(index.row(), index.column())) {
    QToolTip::showText(help->globalPos(), index.data().toString(), viewport(), visualRect(index));
  } else {
    QToolTip::hideText();
    event->ignore();
  }
  return true;
}

}  // namespace gui
