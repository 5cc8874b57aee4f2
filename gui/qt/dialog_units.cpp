#include "gui/qt/dialog_units.h"

#include <QFontMetrics>

namespace isp::ui {

namespace {
// MulDiv: a * b / c rounded to the nearest integer.
int mulDiv(int a, int b, int c) { return static_cast<int>((static_cast<long long>(a) * b * 2 + c) / (2LL * c)); }
}  // namespace

DialogBase dialogBase(const QFont& font) {
  const QFontMetrics m(font);
  const int width = m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(width / 26 + 1) / 2, m.height()};
}

QRect dluToPixels(const QRect& dlu, DialogBase base) {
  return {mulDiv(dlu.x(), base.x, 4), mulDiv(dlu.y(), base.y, 8), mulDiv(dlu.width(), base.x, 4),
          mulDiv(dlu.height(), base.y, 8)};
}

QSize dluToPixels(const QSize& dlu, DialogBase base) {
  return {mulDiv(dlu.width(), base.x, 4), mulDiv(dlu.height(), base.y, 8)};
}

QFont dialogFont() {
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPointSize(8);
  f.setStyleHint(QFont::SansSerif);
  return f;
}

}  // namespace isp::ui
