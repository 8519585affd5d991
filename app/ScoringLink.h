#pragma once
// The scoring of the current workbook as the main window sees it: laid out
// with a key at OK, taken up again when a scored workbook is opened, and
// told about every row written, for which it lays the Scores row and gives
// the look at the sheet. A failure in scoring never touches the rows: it is
// reported once, and scoring rests until it is laid out or opened again.

#include "app/CrashJournal.h"
#include "automation/OleVariant.h"
#include "scoring/ScoringBook.h"
#include "scoring/SheetLook.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ScoringLink {
 public:
  using Report = std::function<void(const QString& message)>;
  explicit ScoringLink(Report report) : report_(std::move(report)) {}

  // Another workbook: nothing is scored until Adopt or Apply.
  void Forget();
  // A workbook just opened: a scored one goes on scoring, and rows held that
  // have no Scores row get one.
  void Adopt(const OleVariant& workSheets);
  // Lays out the scoring sheets with `key` for every row held. Throws.
  void Apply(const OleVariant& workSheets, const AnswerKey& key);
  // Sheet 1's row `row` was written with `values`: its Scores row. Returns
  // the look at the sheet ("" when it needs none); nullopt when not scoring.
  std::optional<QString> RowWritten(int row, const QStringList& values);

  bool Active() const { return book_.has_value(); }
  std::optional<AnswerKey> Key() const;

 private:
  void Start(ScoringBook book, int rowsHeld);
  void Fail(const std::exception& error);

  Report report_;
  std::optional<ScoringBook> book_;
  std::optional<SheetLook> look_;
};

// The key as the journal keeps it, and back.
JournalKey ToJournal(const AnswerKey& key);
AnswerKey FromJournal(const JournalKey& key);
// Whether the workbook's scoring sheets hold this key.
bool WorkbookHoldsKey(const OleVariant& workSheets, const JournalKey& key);
