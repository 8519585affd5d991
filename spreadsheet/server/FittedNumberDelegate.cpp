#include "spreadsheet/server/FittedNumberDelegate.h"

#include "automation/OleVariant.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

#include <algorithm>

QString FitNumber(double value, const QFontMetrics& metrics, int width) {
  const QString full = OleVariant(value).ToText();
  if (metrics.horizontalAdvance(full) <= width) return full;
  // Fewer significant digits, rounded; large and tiny numbers take an exponent.
  for (int digits = 14; digits >= 1; --digits) {
    const QString text = QString::number(value, 'g', digits).toUpper();
    if (metrics.horizontalAdvance(text) <= width) return text;
  }
  const int hash = std::max(1, metrics.horizontalAdvance(QLatin1Char('#')));
  return QString(std::max(1, width / hash), QLatin1Char('#'));
}

void FittedNumberDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const QVariant number = index.data(kNumberRole);
  if (!number.isValid()) return;
  const QWidget* widget = option->widget;
  const QStyle* style = widget ? widget->style() : QApplication::style();
  // The margin the item view's style leaves on each side of a cell's text.
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
  option->text = FitNumber(number.toDouble(), option->fontMetrics, option->rect.width() - 2 * margin);
}
