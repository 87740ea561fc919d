// Dialog units: the layout measure of a dialog template, scaled by the dialog's font.
//
// A horizontal unit is a quarter of the font's average character width and a vertical unit an
// eighth of its height, so a template keeps its proportions whatever font and screen it meets.
// The average width is taken as the desktop dialog managers take it: the width of the 52 ASCII
// letters, divided by 26, halved and rounded up.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace reel {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

  int BaseWidth() const { return baseWidth_; }
  int BaseHeight() const { return baseHeight_; }

 private:
  int baseWidth_;
  int baseHeight_;
};

}  // namespace reel
