#include "ui/dialog_units.h"

#include <gtest/gtest.h>

namespace q9m::ui {
namespace {

TEST(DialogUnitsTest, ScalesByQuarterCharWidthAndEighthHeightRoundingToNearest) {
  const DialogUnits du(7, 14);
  EXPECT_EQ(du.X(4), 7);
  EXPECT_EQ(du.Y(8), 14);
  EXPECT_EQ(du.X(239), 418);  // 418.25
  EXPECT_EQ(du.Y(161), 282);  // 281.75
  EXPECT_EQ(du.X(2), 4);      // 3.5 rounds up
  EXPECT_EQ(du.Y(3), 5);      // 5.25
  EXPECT_EQ(du.Size(239, 161), QSize(418, 282));
}

TEST(DialogUnitsTest, RectanglesMapBothCornersSoNeighboursStayAdjacent) {
  const DialogUnits du(7, 14);
  const QRect left = du.Rect(1, 1, 1, 1);
  const QRect right = du.Rect(2, 2, 1, 1);
  // 1.75 -> 2, 3.5 -> 4, 5.25 -> 5: widths follow the mapped corners, not the mapped width.
  EXPECT_EQ(left, QRect(2, 2, 2, 2));
  EXPECT_EQ(right.left(), left.right() + 1);
  EXPECT_EQ(right, QRect(4, 4, 1, 1));
  EXPECT_EQ(du.Rect(119, 138, 50, 16), QRect(208, 242, 88, 28));
}

}  // namespace
}  // namespace q9m::ui
