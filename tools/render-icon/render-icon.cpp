// Renders an SVG picture as a square PNG of the given size, centred with its
// proportions kept: the desktop's icon theme wants bitmaps at fixed sizes as
// well as the scalable picture. Used by the build; not installed.
//
//   render-icon PICTURE.svg SIZE OUT.png

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: render-icon PICTURE.svg SIZE OUT.png\n");
    return 2;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  const int size = std::atoi(argv[2]);
  if (!renderer.isValid() || size <= 0 || size > 1024) {
    std::fprintf(stderr, "render-icon: cannot render %s at size %s\n", argv[1], argv[2]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  const QSizeF picture = renderer.viewBoxF().size();
  const qreal scale = size / qMax(picture.width(), picture.height());
  const QSizeF drawn = picture * scale;
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(QPointF((size - drawn.width()) / 2, (size - drawn.height()) / 2), drawn));
  painter.end();
  if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "render-icon: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
