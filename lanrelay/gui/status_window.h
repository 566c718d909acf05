// The status window: the status list in a fixed-size window that starts
// hidden and is shown from the tray. Its close box and minimising only hide
// it behind the icon; Escape and Enter do nothing. Only its first show places
// it near the cursor; later shows keep wherever it then was.
// Thread: the GUI thread.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "lanrelay/gui/status_list_view.h"
#include "lanrelay/shell/status_list.h"

namespace gui {

class StatusWindow final : public QWidget {
 public:
  explicit StatusWindow(const QString& title, QWidget* parent = nullptr);

  // Called after the window was hidden behind the icon (the icon is re-added
  // then, in case the tray came back meanwhile).
  void setOnHidden(std::function<void()> onHidden) { onHidden_ = std::move(onHidden); }

  // "Condition Display(&I)": shows the window (the first time near the
  // cursor), restored and in front.
  void showFromTray();
  // Hides it behind the icon.
  void hideToTray();
  // Whether the window is meant to be visible.
  bool meantShown() const { return meantShown_; }

  void setRows(const std::vector<shell::StatusRow>& rows) { list_->setRows(rows); }
  StatusListView& list() { return *list_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  StatusListView* list_;
  std::function<void()> onHidden_;
  bool meantShown_ = false;
  bool firstShowPending_ = true;
};

}  // namespace gui
