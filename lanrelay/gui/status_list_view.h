// The status list as a widget: six left-aligned columns with the shell's
// headings, laid out once by their width shares, full-row selection, rows
// replaced wholesale on every refresh, and a tip showing a cell's whole text
// when the column cuts it off.
// Thread: the GUI thread.
#pragma once

#include <QTreeWidget>
#include <vector>

#include "lanrelay/shell/status_list.h"

namespace gui {

class StatusListView final : public QTreeWidget {
 public:
  explicit StatusListView(QWidget* parent = nullptr);

  // Sets the column widths from the list's current width (call once it has
  // its final size).
  void layoutColumns();

  // Deletes all rows and appends one per entry, in order.
  void setRows(const std::vector<shell::StatusRow>& rows);

  // Whether the column is too narrow to show the cell's text whole (the tip then shows it).
  bool cellIsCut(int row, int column) const;

 protected:
  bool viewportEvent(QEvent* event) override;
};

}  // namespace gui
