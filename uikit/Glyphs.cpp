#include "uikit/Glyphs.h"

#include <QPainter>
#include <QSvgRenderer>

// The pictures live in a static library, whose resources must be registered by hand.
static void EnsureResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(resources);
    return true;
  }();
  (void)registered;
}

namespace Glyphs {

QPixmap Render(const QString& resource) {
  EnsureResources();
  QSvgRenderer renderer(resource);
  if (!renderer.isValid()) return {};
  QPixmap pixmap(renderer.defaultSize());
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  renderer.render(&painter);
  return pixmap;
}

}  // namespace Glyphs
