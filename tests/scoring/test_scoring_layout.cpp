// The scoring layout through the late-bound calls, against a workbook in
// memory: where the sheets go, what reopening reads back, how the statistics
// follow a growing class and what a new key leaves behind.

#include "MemoryWorkbook.h"
#include "scoring/CellNames.h"
#include "scoring/ScoringBook.h"

#include <gtest/gtest.h>

namespace {

using namespace CellNames;

// 4 questions in columns 3..6 (column 4 blank on the key), the ID in columns 1..2.
AnswerKey SmallKey(MarkMode mode = MarkMode::Multiple) {
  return AnswerKey({"1", "2", "3", " ", "4", "25", "6"}, 1, 2, mode);
}

void EnterRows(MemoryWorkbook& book, int rows) {
  for (int row = 1; row <= rows; ++row) {
    book.Enter(row, 1, QString::number(row % 6 + 1));
    for (int column = 2; column <= 66; ++column) book.Enter(row, column, column == 3 ? "3" : " ");
  }
}

QStringList SheetNames(const MemoryWorkbook& book) {
  QStringList names;
  for (const auto& sheet : book.sheets) names << sheet->name;
  return names;
}

TEST(AnswerKey, QuestionsAreTheMarkedColumnsOutsideTheId) {
  const AnswerKey key = SmallKey();
  ASSERT_EQ(key.Questions().size(), 4u);
  EXPECT_EQ(key.Questions()[0].column, 3);
  EXPECT_EQ(key.Questions()[1].column, 5);
  EXPECT_EQ(key.Questions()[3].key, "6");
  EXPECT_EQ(key.Questions()[3].number, 4);
  EXPECT_EQ(DescribeKey(key), "Answer key: 4 questions.");
  EXPECT_EQ(DescribeKey(AnswerKey({" ", "3"}, 0, 0, MarkMode::Multiple)), "Answer key: 1 question.");
  EXPECT_EQ(key.StudentId({"4", " ", "1"}), "4");
  EXPECT_EQ(key.StudentId({"4", "12", "1"}), "412");
  // A range the wrong way round means no ID columns: every marked column is a question.
  EXPECT_FALSE(AnswerKey({"1", "2"}, 2, 1, MarkMode::Multiple).HasIdColumns());
  EXPECT_EQ(AnswerKey({"1", "2"}, 2, 1, MarkMode::Multiple).Questions().size(), 2u);
}

TEST(CellNames, ColumnsAndQuotedSheets) {
  EXPECT_EQ(ColumnLetters(1), "A");
  EXPECT_EQ(ColumnLetters(26), "Z");
  EXPECT_EQ(ColumnLetters(27), "AA");
  EXPECT_EQ(ColumnLetters(52), "AZ");
  EXPECT_EQ(ColumnLetters(256), "IV");
  EXPECT_EQ(AreaName(1, 2, 250, 2), "$B$1:$B$250");
  EXPECT_EQ(SheetPrefix("Class 7a's"), "'Class 7a''s'!");
}

TEST(ScoringBook, SheetsGoAfterSheetOneWhichIsNotTouched) {
  auto book = std::make_shared<MemoryWorkbook>(QStringList{"Class 7a", "Notes"});
  EnterRows(*book, 3);
  const auto before = book->sheets.front()->cells.size();
  const ScoringBook scoring = ScoringBook::LayOut(book->Sheets(), SmallKey(), 3);
  EXPECT_EQ(SheetNames(*book), (QStringList{"Class 7a", "Key", "Scores", "Items", "Notes"}));
  EXPECT_EQ(book->sheets.front()->puts, 0);
  EXPECT_EQ(book->sheets.front()->cells.size(), before);
  const MemorySheet& key = book->Sheet("Key");
  EXPECT_EQ(key.Text(1, 3), "3");
  EXPECT_EQ(key.Text(1, 6), "25");
  EXPECT_EQ(key.Text(1, 1), "");  // the ID column marked on the key is not a question
  EXPECT_EQ(key.Text(1, 4), "");
  EXPECT_EQ(key.Text(2, 5), "1");
  EXPECT_EQ(key.Text(4, 1), "Student ID from column");
  EXPECT_EQ(key.Text(4, 2), "1");
  EXPECT_EQ(key.Text(6, 2), "=SUM($C$2:$G$2)");
  const MemorySheet& scores = book->Sheet("Scores");
  EXPECT_EQ(scores.Text(1, 7), "Double");
  EXPECT_EQ(scores.Text(4, 1), "3");  // a row for each row held
  EXPECT_EQ(scores.Text(5, 1), "");
  EXPECT_EQ(scores.Text(4, 2), "=SUBSTITUTE('Class 7a'!$A$3&'Class 7a'!$B$3,\" \",\"\")");
  EXPECT_EQ(scores.Text(4, 3), "=SUMPRODUCT(('Class 7a'!$C$3:$G$3='Key'!$C$1:$G$1)*'Key'!$C$2:$G$2)");
  const MemorySheet& items = book->Sheet("Items");
  EXPECT_EQ(items.Text(1, 16), "6");
  EXPECT_EQ(items.Text(5, 2), "7");  // question 4 is column G
  EXPECT_EQ(items.Text(6, 1), "");
  EXPECT_EQ(items.Text(1, 18), "Students");
  EXPECT_EQ(items.Text(7, 18), "Standard error of measurement");
  // The statistics read a capacity past the class, not the whole sheet.
  EXPECT_EQ(items.Text(1, 19), QStringLiteral("=COUNT('Scores'!$C$2:$C$%1)").arg(CapacityFor(3) + 1));
  EXPECT_EQ(scoring.Capacity(), CapacityFor(3));
}

TEST(ScoringBook, ReopenReadsBackTheKeyAndGoesOnScoring) {
  auto book = std::make_shared<MemoryWorkbook>();
  EXPECT_FALSE(ScoringBook::Reopen(book->Sheets()));
  EnterRows(*book, 2);
  ScoringBook::LayOut(book->Sheets(), SmallKey(MarkMode::Single), 2);
  std::optional<ScoringBook> again = ScoringBook::Reopen(book->Sheets());
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Key().Questions().size(), 4u);
  EXPECT_EQ(again->Key().Mode(), MarkMode::Single);
  EXPECT_EQ(again->Key().IdFrom(), 1);
  EXPECT_EQ(again->Key().IdTo(), 2);
  EXPECT_EQ(again->Key().Questions()[3].key, "6");
  EXPECT_EQ(again->Capacity(), CapacityFor(2));
  EnterRows(*book, 3);
  again->RowWritten(3);
  EXPECT_EQ(book->Sheet("Scores").Text(4, 1), "3");
  EXPECT_EQ(book->Sheet("Scores").Text(4, 7), "");  // no Double in single-bubble mode
  // Rows held with no Scores row get one; those that have one are left alone.
  EnterRows(*book, 6);
  const int puts = book->Sheet("Scores").puts;
  again->CatchUp(6);
  EXPECT_EQ(book->Sheet("Scores").Text(7, 1), "6");
  EXPECT_EQ(book->Sheet("Scores").puts - puts, 3 * 6);
  EXPECT_EQ(again->ReadStudentIds(3).at(2), "3");  // column A holds row % 6 + 1, column B a blank
}

TEST(ScoringBook, StatisticsInAnEarlierFormAreWrittenAgainAtReopening) {
  auto book = std::make_shared<MemoryWorkbook>();
  EnterRows(*book, 3);
  ScoringBook::LayOut(book->Sheets(), SmallKey(), 3);
  MemorySheet& items = book->Sheet("Items");
  const QString blanks = items.Text(2, 9);
  const QString bubble = items.Text(3, 12);
  EXPECT_TRUE(blanks.startsWith("=COUNTIF("));
  // As an earlier version laid them out: the same figures, counted at a higher cost.
  items.cells[{2, 9}].formula = "=SUMPRODUCT(('Sheet1'!$C$1:$C$103=\" \")*1)";
  items.cells[{3, 12}].formula = "=SUMPRODUCT(LEN('Sheet1'!$E$1:$E$103)-LEN(SUBSTITUTE('Sheet1'!$E$1:$E$103,\"2\",\"\")))";
  std::optional<ScoringBook> again = ScoringBook::Reopen(book->Sheets());
  ASSERT_TRUE(again);
  again->CatchUp(3);
  EXPECT_EQ(items.Text(2, 9), blanks);
  EXPECT_EQ(items.Text(3, 12), bubble);
  // In the latest form they are left as they are.
  const int puts = items.puts;
  ScoringBook::Reopen(book->Sheets())->CatchUp(3);
  EXPECT_EQ(items.puts, puts);
}

TEST(ScoringBook, StatisticsAreWrittenAgainOnlyWhenTheClassOutgrowsThem) {
  auto book = std::make_shared<MemoryWorkbook>();
  ScoringBook scoring = ScoringBook::LayOut(book->Sheets(), SmallKey(), 0);
  const int capacity = scoring.Capacity();
  ASSERT_EQ(capacity, 100);
  const int itemPuts = book->Sheet("Items").puts;
  for (int row = 1; row <= capacity; ++row) scoring.RowWritten(row);
  EXPECT_EQ(book->Sheet("Items").puts, itemPuts);
  scoring.RowWritten(capacity + 1);
  EXPECT_GT(book->Sheet("Items").puts, itemPuts);
  EXPECT_EQ(scoring.Capacity(), CapacityFor(capacity + 1));
  EXPECT_TRUE(book->Sheet("Items").Text(2, 5).contains(QStringLiteral("$C$%1").arg(scoring.Capacity() + 1)));
  EXPECT_EQ(book->Sheet("Key").Text(8, 2), QString::number(scoring.Capacity()));
  // Reopening takes up the capacity the statistics have now.
  EXPECT_EQ(ScoringBook::Reopen(book->Sheets())->Capacity(), scoring.Capacity());
}

TEST(ScoringBook, CapacityGrowsByHalfTheClassSoRewritesAreRare) {
  int rewrites = 0;
  for (int capacity = CapacityFor(0), row = 1; row <= 5000; ++row) {
    if (row > capacity) capacity = CapacityFor(row), ++rewrites;
    EXPECT_LE(capacity, std::max(row + 100, row * 3 / 2 + 1));
  }
  EXPECT_LE(rewrites, 12);
  // The ranges never reach past the sheet, whose last row holds sheet 1's row 65535's scores.
  EXPECT_EQ(CapacityFor(60000), 65535);
  EXPECT_EQ(CapacityFor(65535), 65535);
}

TEST(ScoringBook, ASheetOfTheSameNameThatIsNotOursIsLeftAlone) {
  auto book = std::make_shared<MemoryWorkbook>(QStringList{"Sheet1", "Scores"});
  book->sheets[1]->cells[{1, 1}] = {OleVariant("Name"), {}};
  EXPECT_THROW(ScoringBook::LayOut(book->Sheets(), SmallKey(), 0), EScoring);
  EXPECT_EQ(book->adds, 0);
  EXPECT_EQ(book->sheets[1]->puts, 0);
}

TEST(ScoringBook, ANewKeyLeavesNothingOfTheOldLayoutBehind) {
  auto book = std::make_shared<MemoryWorkbook>();
  EnterRows(*book, 2);
  ScoringBook::LayOut(book->Sheets(), SmallKey(), 2);
  const ScoringBook smaller = ScoringBook::LayOut(book->Sheets(), AnswerKey({"2", " ", "3"}, 0, 0, MarkMode::Single), 2);
  EXPECT_EQ(book->adds, 3);  // the sheets are found again, not added twice
  const MemorySheet& key = book->Sheet("Key");
  EXPECT_EQ(key.Text(1, 1), "2");
  EXPECT_EQ(key.Text(1, 5), "");
  EXPECT_EQ(key.Text(3, 7), "");
  const MemorySheet& items = book->Sheet("Items");
  EXPECT_EQ(items.Text(3, 2), "3");
  EXPECT_EQ(items.Text(4, 1), "");
  EXPECT_EQ(items.Text(2, 10), "");  // no Double or bubble columns in single-bubble mode
  EXPECT_EQ(items.Text(1, 18), "");  // the old summary's place
  EXPECT_EQ(items.Text(1, 11), "Students");
  EXPECT_EQ(book->Sheet("Scores").Text(1, 7), "");
  EXPECT_EQ(book->Sheet("Scores").Text(3, 7), "");
  EXPECT_EQ(book->Sheet("Scores").Text(3, 2), "");
  EXPECT_EQ(ScoringBook::Reopen(book->Sheets())->Key(), smaller.Key());
}

TEST(ScoringBook, FormulasForNewRowsFollowARenamedSheetOne) {
  auto book = std::make_shared<MemoryWorkbook>();
  ScoringBook scoring = ScoringBook::LayOut(book->Sheets(), SmallKey(), 0);
  book->sheets.front()->name = "Period 2";
  scoring.RowWritten(1);
  EXPECT_TRUE(book->Sheet("Scores").Text(2, 3).startsWith("=SUMPRODUCT(('Period 2'!$C$1:$G$1="));
}

}  // namespace
