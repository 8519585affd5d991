#include "app/ScoringLink.h"

#include <QDateTime>

void ScoringLink::Forget() {
  book_.reset();
  look_.reset();
}

void ScoringLink::Start(ScoringBook book, int rowsHeld) {
  look_.emplace(book.Key());
  look_->RememberIds(book.ReadStudentIds(rowsHeld));
  book_.emplace(std::move(book));
}

void ScoringLink::Adopt(const OleVariant& workSheets) {
  Forget();
  try {
    std::optional<ScoringBook> book = ScoringBook::Reopen(workSheets);
    if (!book) return;
    const int rows = RowsHeld(workSheets);
    book->CatchUp(rows);
    Start(std::move(*book), rows);
  } catch (const std::exception& error) {
    Fail(error);
  }
}

void ScoringLink::Apply(const OleVariant& workSheets, const AnswerKey& key) {
  Forget();
  const int rows = RowsHeld(workSheets);
  Start(ScoringBook::LayOut(workSheets, key, rows), rows);
}

std::optional<QString> ScoringLink::RowWritten(int row, const QStringList& values) {
  if (!book_) return std::nullopt;
  // The look needs nothing from the spreadsheet: it is given even when the Scores row fails.
  const QString line = look_->Look(row, values);
  try {
    book_->RowWritten(row);
  } catch (const std::exception& error) {
    Fail(error);
  }
  return line;
}

std::optional<AnswerKey> ScoringLink::Key() const {
  if (!book_) return std::nullopt;
  return book_->Key();
}

void ScoringLink::Fail(const std::exception& error) {
  Forget();
  QString reason = QString::fromUtf8(error.what());
  if (!reason.endsWith(QLatin1Char('.'))) reason += QLatin1Char('.');
  report_(QStringLiteral("The scores of this workbook are no longer kept current: %1  The rows are written as before; "
                         "lay out the answer key again (Scan > Answer Key...) to go on scoring.")
              .arg(reason));
}

JournalKey ToJournal(const AnswerKey& key) {
  return {QDateTime::currentDateTime(), key.IdFrom(), key.IdTo(), key.Mode() == MarkMode::Multiple, key.Values()};
}

AnswerKey FromJournal(const JournalKey& key) {
  return AnswerKey(key.values, key.idFrom, key.idTo, key.multiple ? MarkMode::Multiple : MarkMode::Single);
}

bool WorkbookHoldsKey(const OleVariant& workSheets, const JournalKey& key) {
  const std::optional<ScoringBook> book = ScoringBook::Reopen(workSheets);
  if (!book) return false;
  const AnswerKey wanted = FromJournal(key);
  const AnswerKey& held = book->Key();
  if (held.IdFrom() != wanted.IdFrom() || held.IdTo() != wanted.IdTo() || held.Mode() != wanted.Mode()) return false;
  // The workbook keeps the questions, not the whole key sheet.
  const auto& a = held.Questions();
  const auto& b = wanted.Questions();
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const Question& x, const Question& y) { return x.column == y.column && x.key == y.key; });
}
