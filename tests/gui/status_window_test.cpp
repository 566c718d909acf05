// The status window on the offscreen platform: its list, its columns, its
// tips for cut-off cells, and how it hides instead of closing.
#include "lanrelay/gui/status_window.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QHeaderView>
#include <QHelpEvent>
#include <QScreen>
#include <QStyle>
#include <QTest>

#include "gui_test_app.h"
#include "lanrelay/gui/status_columns.h"

namespace gui {
namespace {

shell::StatusRow row(const std::string& state, const std::string& id, const std::string& openers = "") {
  return {state, id, "LRB-32EX", "10.0.0.5", "00:80:4c:ab:0c:ff", openers};
}

class GuiStatusWindow : public ::testing::Test {
 protected:
  QApplication& application_ = gui_test::application();  // before any widget
  StatusWindow window_{"title"};
};

TEST_F(GuiStatusWindow, SixLeftAlignedColumnsWithTheirHeadingsAndShares) {
  StatusListView& list = window_.list();
  ASSERT_EQ(list.columnCount(), 6);
  const char* headings[] = {"Status", "Board ID", "Type", "IP Address", "MAC address", "Open Device PC"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(list.headerItem()->text(i), headings[i]);
  }
  EXPECT_TRUE(list.header()->defaultAlignment() & Qt::AlignLeft);
  const int scrollBar = list.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &list);
  const auto expected = statusColumnWidths(list.width(), list.frameWidth(), scrollBar);
  int total = 0;
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(list.columnWidth(i), expected[i]) << "column " << i;
    total += list.columnWidth(i);
  }
  // Together they fill the list once a scroll bar shows, and no more.
  EXPECT_LE(total, list.width() - 2 * list.frameWidth() - scrollBar);
  EXPECT_GT(total, list.width() - 2 * list.frameWidth() - scrollBar - 6);
  EXPECT_EQ(list.columnWidth(0), list.columnWidth(3));
  EXPECT_EQ(list.columnWidth(1), list.columnWidth(2));
}

TEST_F(GuiStatusWindow, FixedSizeFullRowSelectionNoSorting) {
  EXPECT_EQ(window_.minimumSize(), window_.maximumSize());
  EXPECT_EQ(window_.list().selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(window_.list().isSortingEnabled());
  EXPECT_FALSE(window_.list().rootIsDecorated());
}

TEST_F(GuiStatusWindow, EveryRefreshRebuildsTheRowsInOrder) {
  window_.setRows({row("Connected", "1", "10.0.0.20,10.0.0.21"), row("Connecting", "-")});
  StatusListView& list = window_.list();
  ASSERT_EQ(list.topLevelItemCount(), 2);
  EXPECT_EQ(list.topLevelItem(0)->text(0), "Connected");
  EXPECT_EQ(list.topLevelItem(0)->text(5), "10.0.0.20,10.0.0.21");
  EXPECT_EQ(list.topLevelItem(1)->text(1), "-");
  list.setCurrentItem(list.topLevelItem(1));

  window_.setRows({row("Disconnected", "2")});
  ASSERT_EQ(list.topLevelItemCount(), 1);
  EXPECT_EQ(list.topLevelItem(0)->text(0), "Disconnected");
  EXPECT_EQ(list.topLevelItem(0)->text(4), "00:80:4c:ab:0c:ff");

  window_.setRows({});
  EXPECT_EQ(list.topLevelItemCount(), 0);
}

TEST_F(GuiStatusWindow, TipShowsOnlyCutOffCells) {
  std::string many;
  for (int i = 0; i < 20; ++i) many += (i ? "," : "") + std::string("192.168.100.") + std::to_string(100 + i);
  window_.setRows({row("Connected", "1", many)});
  window_.showFromTray();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  EXPECT_TRUE(window_.list().cellIsCut(0, 5));
  EXPECT_FALSE(window_.list().cellIsCut(0, 1));
  EXPECT_FALSE(window_.list().cellIsCut(5, 1));  // no such row
}

TEST_F(GuiStatusWindow, StartsHiddenAndFirstShowGoesNearTheCursor) {
  EXPECT_FALSE(window_.isVisible());
  EXPECT_FALSE(window_.meantShown());
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  const QPoint cursor(20, 30);
  QCursor::setPos(screen, cursor);
  if (QCursor::pos(screen) != cursor) GTEST_SKIP() << "this platform cannot move the cursor";
  window_.showFromTray();
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(window_.meantShown());
  EXPECT_EQ(window_.pos(), cursor);

  // Hidden and shown again: it stays where it was, not at the new cursor.
  window_.move(100, 120);
  window_.hideToTray();
  QCursor::setPos(screen, QPoint(5, 5));
  window_.showFromTray();
  EXPECT_EQ(window_.pos(), QPoint(100, 120));
}

TEST_F(GuiStatusWindow, CloseBoxHidesAndTellsTheTray) {
  int hidden = 0;
  window_.setOnHidden([&] { ++hidden; });
  window_.showFromTray();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  EXPECT_FALSE(window_.close());  // refused: the window only hides
  EXPECT_FALSE(window_.isVisible());
  EXPECT_FALSE(window_.meantShown());
  EXPECT_EQ(hidden, 1);
}

TEST_F(GuiStatusWindow, MinimisingHides) {
  window_.showFromTray();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  window_.setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(gui_test::processUntil([&] { return !window_.isVisible(); }));
  EXPECT_FALSE(window_.meantShown());
  window_.showFromTray();
  EXPECT_TRUE(window_.isVisible());
  EXPECT_FALSE(window_.isMinimized());
}

TEST_F(GuiStatusWindow, EscapeAndEnterDoNothing) {
  window_.showFromTray();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    QTest::keyClick(&window_, key);
    QTest::keyClick(&window_.list(), key);
    EXPECT_TRUE(window_.isVisible()) << key;
    EXPECT_TRUE(window_.meantShown()) << key;
  }
}

}  // namespace
}  // namespace gui
