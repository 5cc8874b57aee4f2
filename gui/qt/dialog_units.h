#pragma once
#include <QFont>
#include <QRect>
#include <QSize>

namespace isp::ui {

// Dialog templates place controls in dialog units: a quarter of the dialog
// font's average character width, an eighth of its height.
struct DialogBase {
  int x;  // average width of A-Z and a-z, rounded as Windows does
  int y;  // font height
};

DialogBase dialogBase(const QFont& font);
QRect dluToPixels(const QRect& dlu, DialogBase base);
QSize dluToPixels(const QSize& dlu, DialogBase base);

// "MS Sans Serif" 8 pt, or the platform's closest font.
QFont dialogFont();

}  // namespace isp::ui
