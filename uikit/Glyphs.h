#pragma once
// The application's pictures, drawn as vector images and rendered at the pixel
// size each window designs them with.

#include <QPixmap>
#include <QString>

namespace Glyphs {
inline const QString kBrandedGlyph = QStringLiteral(":/cfw/glyph_branded.svg");   // 32 x 32
inline const QString kGenericGlyph = QStringLiteral(":/cfw/glyph_generic.svg");   // 22 x 32
inline const QString kBrandedPicture = QStringLiteral(":/cfw/pencil_cartoon.svg");  // 78 x 115
inline const QString kGenericPicture = QStringLiteral(":/cfw/pencil_sheet.svg");    // 80 x 118

// Renders at the picture's own size; a null pixmap when the resource is missing.
QPixmap Render(const QString& resource);
}  // namespace Glyphs
