#pragma once
// The windows are laid out in pixels for an 11-pixel "MS Sans Serif"; where
// that face is missing the toolkit picks a close one at the same pixel size,
// so captions still fit their designed widths.

#include <QFont>

inline QFont DesignFont(int pixelSize = 11, bool bold = false) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}
