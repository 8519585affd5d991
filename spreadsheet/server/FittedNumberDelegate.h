#pragma once
// Shows a number the way a spreadsheet's general format does in a narrow
// column: with as many digits as the column holds (rounded, switching to an
// exponent for large numbers), and "###" when not even that fits, instead of
// an elided "0...." that tells the reader nothing. The cell keeps its value.

#include <QStyledItemDelegate>

class QFontMetrics;

// The text of value that fits width pixels in metrics' font.
QString FitNumber(double value, const QFontMetrics& metrics, int width);

class FittedNumberDelegate : public QStyledItemDelegate {
 public:
  // The role under which the model gives a number cell's value as a double.
  static constexpr int kNumberRole = Qt::UserRole + 1;

  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
