#pragma once
// A look at each scored sheet as it lands, from its decoded values alone (no
// call to the spreadsheet): the key's questions it left blank or marked more
// than once, and a student ID that an earlier row already has. The result is
// one line for the operator, e.g. "Row 15: blank 7, 31; double 22; same ID as row 3",
// or nothing when the sheet needs no second look.

#include "scoring/AnswerKey.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <map>

class SheetLook {
 public:
  explicit SheetLook(AnswerKey key) : key_(std::move(key)) {}

  // IDs of rows written before (read from the workbook once).
  void RememberIds(const std::map<int, QString>& idsByRow);
  // The line for sheet 1's row `row`, just written with `values`; its ID is
  // remembered for the rows after it.
  QString Look(int row, const QStringList& values);

 private:
  AnswerKey key_;
  QHash<QString, int> firstRowOfId_;
};
