#include "converter/front/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace reel {
namespace {

constexpr int kUnitsPerBaseWidth = 4;
constexpr int kUnitsPerBaseHeight = 8;

// value * numerator / denominator, rounded to the nearest integer.
int ScaleRounded(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseWidth_ = (letters / 26 + 1) / 2;
  baseHeight_ = metrics.height();
}

int DialogUnits::X(int units) const { return ScaleRounded(units, baseWidth_, kUnitsPerBaseWidth); }
int DialogUnits::Y(int units) const { return ScaleRounded(units, baseHeight_, kUnitsPerBaseHeight); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return {X(x), Y(y), X(width), Y(height)};
}

QSize DialogUnits::Size(int width, int height) const { return {X(width), Y(height)}; }

}  // namespace reel
