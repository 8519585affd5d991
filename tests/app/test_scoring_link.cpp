// The main window's hold on the workbook's scoring: a failure in scoring is
// told once and never reaches the rows; a scored workbook is taken up again.

#include "MemoryWorkbook.h"
#include "app/ScoringLink.h"

#include <gtest/gtest.h>

namespace {

AnswerKey Key() { return AnswerKey({" ", "1", "2", "3"}, 1, 1, MarkMode::Multiple); }

void EnterRow(MemoryWorkbook& book, int row, const QStringList& values) {
  for (int column = 1; column <= values.size(); ++column) book.Enter(row, column, values[column - 1]);
}

TEST(ScoringLink, AFailingServerIsToldOnceAndTheLookGoesOn) {
  auto book = std::make_shared<MemoryWorkbook>();
  QStringList reports;
  ScoringLink link([&](const QString& message) { reports << message; });
  EXPECT_FALSE(link.RowWritten(1, {"4", "1", "2", "3"}));  // nothing laid out: not scoring
  link.Apply(book->Sheets(), Key());
  ASSERT_TRUE(link.Active());
  EnterRow(*book, 1, {"4", "1", "2", "3"});
  EXPECT_EQ(link.RowWritten(1, {"4", "1", "2", "3"}), QString());
  book->Sheet("Scores").refusePuts = true;
  EnterRow(*book, 2, {"4", "1", " ", "3"});
  EXPECT_EQ(link.RowWritten(2, {"4", "1", " ", "3"}), QString("Row 2: blank 2; same ID as row 1"));
  ASSERT_EQ(reports.size(), 1);
  EXPECT_TRUE(reports[0].startsWith("The scores of this workbook are no longer kept current: The server refused the put.  "));
  EXPECT_FALSE(link.Active());
  EXPECT_FALSE(link.RowWritten(3, {"5", "1", "2", "3"}));
  EXPECT_EQ(reports.size(), 1);
  // Sheet 1 holds exactly its rows, whatever became of the scores.
  EXPECT_EQ(book->sheets.front()->Text(2, 3), " ");
}

TEST(ScoringLink, AScoredWorkbookIsTakenUpAgainWithItsRowsAndIds) {
  auto book = std::make_shared<MemoryWorkbook>();
  ScoringLink first([](const QString&) {});
  first.Apply(book->Sheets(), Key());
  EnterRow(*book, 1, {"7", "1", "2", "3"});
  EnterRow(*book, 2, {"8", "1", "2", "3"});  // rows that came back after a crash: no Scores row yet
  QStringList reports;
  ScoringLink again([&](const QString& message) { reports << message; });
  again.Adopt(book->Sheets());
  ASSERT_TRUE(again.Active());
  EXPECT_EQ(book->Sheet("Scores").Text(3, 1), "2");
  EnterRow(*book, 3, {"8", "1", "2", "3"});
  EXPECT_EQ(again.RowWritten(3, {"8", "1", "2", "3"}), QString("Row 3: same ID as row 2"));
  EXPECT_TRUE(reports.isEmpty());
  // A workbook without scoring sheets is just not scored.
  auto plain = std::make_shared<MemoryWorkbook>();
  again.Adopt(plain->Sheets());
  EXPECT_FALSE(again.Active());
  EXPECT_TRUE(reports.isEmpty());
}

TEST(ScoringLink, AJournaledKeyIsFoundInTheWorkbookOnlyWhenItIsTheSame) {
  auto book = std::make_shared<MemoryWorkbook>();
  const JournalKey journaled = ToJournal(Key());
  EXPECT_FALSE(WorkbookHoldsKey(book->Sheets(), journaled));
  ScoringLink link([](const QString&) {});
  link.Apply(book->Sheets(), FromJournal(journaled));
  EXPECT_TRUE(WorkbookHoldsKey(book->Sheets(), journaled));
  JournalKey other = journaled;
  other.values[3] = "4";
  EXPECT_FALSE(WorkbookHoldsKey(book->Sheets(), other));
  other = journaled;
  other.idTo = 0;
  other.idFrom = 0;
  EXPECT_FALSE(WorkbookHoldsKey(book->Sheets(), other));
  EXPECT_EQ(FromJournal(journaled), Key());
}

}  // namespace
