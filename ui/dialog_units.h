// Dialog templates are laid out in dialog units, which scale with the dialog's font: a
// horizontal unit is a quarter of the font's average character width and a vertical unit an
// eighth of its height. This converts them to pixels the way the layouts were measured.
#pragma once

#include <QFont>
#include <QRect>

namespace q9m::ui {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // Base units straight from the font metrics, for callers that lay out by hand.
  DialogUnits(int averageCharWidth, int fontHeight);

  int AverageCharWidth() const { return baseX_; }
  int FontHeight() const { return baseY_; }

  // Pixels for a horizontal or vertical distance from the dialog's origin, rounded to nearest.
  int X(int units) const;
  int Y(int units) const;
  // A control's rectangle: both corners are mapped, so adjacent controls stay adjacent.
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  int baseX_;
  int baseY_;
};

// The dialogs' font: "MS UI Gothic" 9 pt where it is installed, else the platform's user
// interface font at 9 pt.
QFont DialogFont();

}  // namespace q9m::ui
