#pragma once
// The look every window is designed with: the windows are laid out in pixels
// for an 11-pixel "MS Sans Serif"; where that face is missing the toolkit picks
// a close one at the same pixel size, so captions still fit their widths.
// Dialogs open centred on the screen.

#include <QFont>
#include <QScreen>
#include <QWidget>

inline QFont DesignFont(int pixelSize = 11, bool bold = false) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

inline void CentreOnScreen(QWidget& window) {
  if (const QScreen* screen = window.screen()) window.move(screen->availableGeometry().center() - window.rect().center());
}
