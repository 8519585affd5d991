#pragma once
// The scoring sheets of one workbook, laid out and kept current through the
// late-bound automation calls alone, so every server behind them gets the
// same layout: the sheets are added after sheet 1 (rows keep going there),
// named, and filled with the key, headers and formulas; each row written to
// sheet 1 gets its Scores row; the statistics are written again when the
// class outgrows the rows they read.

#include "automation/OleVariant.h"
#include "scoring/AnswerKey.h"
#include "scoring/ScoringLayout.h"

#include <QString>

#include <map>
#include <optional>
#include <stdexcept>

// Scoring cannot be laid out in this workbook; the message says why.
class EScoring : public std::runtime_error {
 public:
  explicit EScoring(const QString& message) : std::runtime_error(message.toStdString()) {}
};

class ScoringBook {
 public:
  // Lays out the key, a Scores row for each of sheet 1's rows 1..rowsHeld,
  // and the statistics. A scoring layout already there is replaced; a sheet
  // of one of the three names that is not a scoring sheet is left alone and
  // the layout refused (EScoring).
  static ScoringBook LayOut(const OleVariant& workSheets, const AnswerKey& key, int rowsHeld);
  // The scoring of a workbook laid out earlier, found by its sheets' names
  // and labels; nullopt for a workbook that is not scored.
  static std::optional<ScoringBook> Reopen(const OleVariant& workSheets);

  // Sheet 1's row `row` has been written: its Scores row, and the statistics
  // again when the row lies past what they read.
  void RowWritten(int row);
  // Scores rows for those of rows 1..rowsHeld that have none (sheets scanned
  // before scoring was laid out, sheets put back after a crash); the
  // statistics again if they are in an earlier version's form.
  void CatchUp(int rowsHeld);
  // The student IDs of sheet 1's rows 1..rowsHeld, by row; rows without one left out.
  std::map<int, QString> ReadStudentIds(int rowsHeld) const;

  const AnswerKey& Key() const { return layout_.Key(); }
  int Capacity() const { return capacity_; }

 private:
  ScoringBook(OleVariant workSheets, ScoringLayout layout, int capacity);
  void LayOutAll(int rowsHeld, const std::optional<ScoringBook>& previous);
  void FollowDataSheetName();
  void WriteStatistics();
  bool StatisticsInTheirLatestForm() const;

  OleVariant workSheets_;
  ScoringLayout layout_;
  int capacity_;
};

// Sheet 1's rows from row 1 down to the last before the first whose column A is empty.
int RowsHeld(const OleVariant& workSheets);
