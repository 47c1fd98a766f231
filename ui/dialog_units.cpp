#include "ui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <cmath>

namespace q9m::ui {

namespace {

// Rounds value * numerator / denominator to the nearest integer, halves away from zero.
int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : -((-product + half) / denominator));
}

int MeasureAverageCharWidth(const QFont& font) {
  static const QString kAlphabet =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const double width = QFontMetricsF(font).horizontalAdvance(kAlphabet);
  return static_cast<int>(std::lround(width / 52.0));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font)
    : DialogUnits(MeasureAverageCharWidth(font), QFontMetrics(font).height()) {}

DialogUnits::DialogUnits(int averageCharWidth, int fontHeight)
    : baseX_(averageCharWidth), baseY_(fontHeight) {}

int DialogUnits::X(int units) const {
  return MulDiv(units, baseX_, 4);
}

int DialogUnits::Y(int units) const {
  return MulDiv(units, baseY_, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  const int left = X(x);
  const int top = Y(y);
  return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::Size(int width, int height) const {
  return QSize(X(width), Y(height));
}

QFont DialogFont() {
  static const QString kTemplateFamily = QStringLiteral("MS UI Gothic");
  QFont font = QFontDatabase::families().contains(kTemplateFamily)
                   ? QFont(kTemplateFamily)
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(9);
  return font;
}

}  // namespace q9m::ui
