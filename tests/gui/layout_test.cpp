// The pure parts of the front: the window title, the column widths, where a
// window opened from the tray goes, the icon's tip and the choice of front.
#include <gtest/gtest.h>

#include "lanrelay/gui/gui_program.h"
#include "lanrelay/gui/place_near_cursor.h"
#include "lanrelay/gui/status_columns.h"
#include "lanrelay/gui/tray_front.h"
#include "lanrelay/gui/window_title.h"

namespace gui {
namespace {

std::time_t utc(int year, int month, int day, int hour, int minute) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  return timegm(&parts);
}

TEST(GuiWindowTitle, ShowsTheProgramsDateInUtcDayMonthYear) {
  EXPECT_EQ(statusWindowTitle(utc(2018, 3, 5, 12, 0)),
            "Regident Program Monitor ===Programu Last Update 05/03/2018===");
  // Just before midnight UTC: a local-time conversion east of UTC would show the 6th.
  EXPECT_EQ(statusWindowTitle(utc(2018, 3, 5, 23, 59)),
            "Regident Program Monitor ===Programu Last Update 05/03/2018===");
  EXPECT_EQ(statusWindowTitle(utc(2024, 12, 31, 0, 0)),
            "Regident Program Monitor ===Programu Last Update 31/12/2024===");
}

TEST(GuiWindowTitle, FallsBackWithoutATimeStamp) {
  EXPECT_EQ(statusWindowTitle(std::nullopt), "状態表示");
  EXPECT_TRUE(programFileLastWrite().has_value());
}

struct ColumnCase {
  int listWidth, edge, scrollBar;
  std::array<int, 6> widths;
};

void PrintTo(const ColumnCase& c, std::ostream* os) {
  *os << "width " << c.listWidth << " edge " << c.edge << " bar " << c.scrollBar;
}

class GuiStatusColumns : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(GuiStatusColumns, SharesOfTheWidthLessBorderAndScrollBar) {
  const ColumnCase& c = GetParam();
  EXPECT_EQ(statusColumnWidths(c.listWidth, c.edge, c.scrollBar), c.widths);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, GuiStatusColumns,
    ::testing::Values(
        // unit 10: exact
        ColumnCase{1021, 2, 17, {150, 100, 100, 150, 150, 350}},
        // unit 9.79: each column cut toward zero on its own
        ColumnCase{1000, 2, 17, {146, 97, 97, 146, 146, 342}},
        ColumnCase{700, 1, 16, {102, 68, 68, 102, 102, 238}}));

struct PlaceCase {
  QRect workArea;
  QSize window;
  QPoint cursor;
  QPoint placed;
};

void PrintTo(const PlaceCase& c, std::ostream* os) {
  *os << "cursor " << c.cursor.x() << "," << c.cursor.y() << " window " << c.window.width() << "x"
      << c.window.height();
}

class GuiPlaceNearCursor : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(GuiPlaceNearCursor, AtTheCursorUnlessTooCloseToRightOrBottom) {
  const PlaceCase& c = GetParam();
  EXPECT_EQ(nearCursorPosition(c.workArea, c.window, c.cursor), c.placed);
}

INSTANTIATE_TEST_SUITE_P(
    Places, GuiPlaceNearCursor,
    ::testing::Values(
        PlaceCase{{0, 0, 1024, 768}, {300, 200}, {100, 50}, {100, 50}},
        // Right and bottom: pulled in to end 16 pixels inside the work area.
        PlaceCase{{0, 0, 1024, 768}, {300, 200}, {1000, 740}, {1024 - 300 - 16, 768 - 200 - 16}},
        PlaceCase{{0, 0, 1024, 768}, {300, 200}, {708, 552}, {708, 552}},
        PlaceCase{{0, 0, 1024, 768}, {300, 200}, {709, 553}, {708, 552}},
        // A work area that does not start at 0 (a panel on top).
        PlaceCase{{0, 24, 1024, 744}, {300, 200}, {1000, 760}, {708, 552}},
        // No correction toward the left or the top.
        PlaceCase{{0, 0, 200, 100}, {300, 200}, {10, 10}, {-116, -116}}));

TEST(GuiTrayTip, NamesTheProgramWithinTheTrayLimit) {
  EXPECT_TRUE(trayTip().startsWith("lanrelay"));
  EXPECT_LE(trayTip().size(), 63);
}

TEST(GuiFrontChoice, TrayOnlyInAGraphicalSessionAndNotHeadless) {
  EXPECT_TRUE(wantsTrayFront(false, ":0", nullptr));
  EXPECT_TRUE(wantsTrayFront(false, nullptr, "wayland-0"));
  EXPECT_TRUE(wantsTrayFront(false, "", "wayland-0"));
  EXPECT_FALSE(wantsTrayFront(false, nullptr, nullptr));
  EXPECT_FALSE(wantsTrayFront(false, "", ""));
  EXPECT_FALSE(wantsTrayFront(true, ":0", "wayland-0"));
}

}  // namespace
}  // namespace gui
