#pragma once
// The scoring sheets as cell contents: the "Key", "Scores" and "Items" sheets
// of a workbook whose sheet 1 holds one scanned sheet per row. Everything
// after the key is a formula in the spreadsheet application's English syntax,
// so both servers take the same texts and the teacher can read and change them.
//
// The statistics read sheet 1 and the scores down to a capacity row a little
// past the class, not to the end of the sheet: a statistic costs what its
// ranges hold, so they grow with the class and are written again when it
// outgrows them.

#include "automation/OleVariant.h"
#include "scoring/AnswerKey.h"

#include <QString>
#include <QStringList>

#include <vector>

inline const QString kKeySheet = QStringLiteral("Key");
inline const QString kScoresSheet = QStringLiteral("Scores");
inline const QString kItemsSheet = QStringLiteral("Items");

// One cell to put: a formula text, or a value (a label, a number, a key value).
struct SheetCell {
  int row = 0;
  int column = 0;
  OleVariant value;  // Empty clears the cell
  bool formula = false;
};

// Where the Key sheet keeps what reopening needs: labels in column A, values in B.
namespace KeyRows {
inline constexpr int kKey = 1;
inline constexpr int kPoints = 2;
inline constexpr int kQuestionNumber = 3;
inline constexpr int kIdFrom = 4;
inline constexpr int kIdTo = 5;
inline constexpr int kTotalPoints = 6;
inline constexpr int kMode = 7;
inline constexpr int kCapacity = 8;
inline constexpr int kQuestions = 9;
}  // namespace KeyRows

QStringList KeyLabels();      // column A of rows kIdFrom..kQuestions
QStringList ScoresHeaders(MarkMode mode);
QStringList ItemsHeaders(MarkMode mode);
QStringList SummaryLabels();  // in order; the first seven are the figures the teacher reads
QString ModeName(MarkMode mode);  // "Multiple", "Single"

// The capacity for a class of `rows` rows: at least 100 rows more, and half
// the class more once it is larger, so the statistics are written again about
// log1.5(class/100) times in all. Never past the worksheet's last row.
int CapacityFor(int rows);

class ScoringLayout {
 public:
  // dataSheet: the name of sheet 1, which the formulas read.
  ScoringLayout(AnswerKey key, QString dataSheet);

  const AnswerKey& Key() const { return key_; }
  const QString& DataSheet() const { return dataSheet_; }

  std::vector<SheetCell> KeySheet(int capacity) const;
  std::vector<SheetCell> ScoresHeaderRow() const;
  // The Scores row of sheet 1's row `dataRow` (it is row dataRow + 1).
  std::vector<SheetCell> ScoresRow(int dataRow) const;
  // Headers, one row per question and the summary, reading rows 1..capacity.
  std::vector<SheetCell> ItemsSheet(int capacity) const;

  // Where the summary stands on Items: labels in this column, values right of it.
  int SummaryLabelColumn() const;
  // The row of label index i (0-based, as SummaryLabels()): the figures
  // first, then a blank row, then the sums they are made of.
  static int SummaryRow(int index) { return index < kSummaryFigures ? index + 1 : index + 2; }
  static constexpr int kSummaryFigures = 7;
  // Items' "Blank" column, whose formula tells which form the statistics have.
  static constexpr int kBlankColumn = 9;

 private:
  QString Answers(int dataRow) const;
  QString ItemColumn(int column, int capacity) const;
  QString ScoresArea(int capacity) const;
  QString Summary(int index) const;  // "$S$1"
  void QuestionRow(std::vector<SheetCell>& cells, const Question& question, int capacity) const;
  void SummaryCells(std::vector<SheetCell>& cells, int capacity) const;

  AnswerKey key_;
  QString dataSheet_;
};
