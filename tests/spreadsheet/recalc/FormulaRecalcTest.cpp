// Formula results kept current in whole workbooks: what a write recalculates
// (and what it leaves alone), circular references, formulas written over,
// the results a save stores, and when the file asks for recalculation.

#include "SpreadsheetTestSupport.h"
#include "automation/ComObj.h"
#include "spreadsheet/recalc/Calculation.h"
#include "spreadsheet/server/SpreadsheetServer.h"
#include "spreadsheet/server/Workbook.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <QJsonObject>

#include <cmath>

namespace {

using SheetTest::ScratchDir;

// A workbook made by xlwt from {"Sheet": {"A1": value or "=formula"}}.
QString MakeBook(const ScratchDir& dir, const QString& name, const QJsonObject& sheets) {
  const QString path = dir.Path(name);
  const SheetTest::ProbeResult made =
      SheetTest::Probe({QStringLiteral("book"), path, QString::fromUtf8(QJsonDocument(sheets).toJson(QJsonDocument::Compact))});
  EXPECT_EQ(made.exitCode, 0) << made.err.toStdString();
  return path;
}

double Number(const Workbook& book, int sheet, uint32_t row, uint32_t col) {
  const CellValue value = book.Sheet(sheet).Cell(row, col);
  EXPECT_EQ(value.type, CellValue::Type::Number) << "sheet " << sheet << " row " << row << " col " << col << ": "
                                                 << value.text.toStdString();
  return value.number;
}

// The cells of "xlrd_probe.py values" for one sheet, by "row,col".
std::map<QString, QJsonArray> Stored(const QString& path, int sheet) {
  std::map<QString, QJsonArray> cells;
  const QJsonArray sheets = SheetTest::ProbeJson({QStringLiteral("values"), path}).array();
  for (const QJsonValue& cell : sheets[sheet].toObject()[QStringLiteral("cells")].toArray()) {
    const QJsonArray c = cell.toArray();
    cells[QStringLiteral("%1,%2").arg(c[0].toInt()).arg(c[1].toInt())] = c;
  }
  return cells;
}

uint32_t RecalcIdBuild(const QString& path) {
  Biff::Bytes stream;
  CompoundFile::Read(path, stream);
  Biff::RecordCursor cursor(stream, 0);
  Biff::Record record;
  while (cursor.Next(record)) {
    if (record.type == Biff::kRecalcId) return Biff::U32(record.data.data() + 4);
    if (record.type == Biff::kEof) break;
  }
  return UINT32_MAX;
}

TEST(FormulaRecalc, AWriteEvaluatesOnlyWhatReadsItAndStopsWhereNothingChanged) {
  ScratchDir dir;
  // C1 reads A1; D1 reads C1; E1 reads B1; F1 sums column C.
  const QString path = MakeBook(dir, QStringLiteral("chain.xls"),
                                {{QStringLiteral("S"), QJsonObject{{QStringLiteral("A1"), 1},
                                                                   {QStringLiteral("B1"), 2},
                                                                   {QStringLiteral("C1"), QStringLiteral("=A1*10")},
                                                                   {QStringLiteral("D1"), QStringLiteral("=C1+1")},
                                                                   {QStringLiteral("E1"), QStringLiteral("=B1-1")},
                                                                   {QStringLiteral("F1"), QStringLiteral("=SUM(C1:C65536)")},
                                                                   {QStringLiteral("G1"), QStringLiteral("=MOD(A1,2)")},
                                                                   {QStringLiteral("H1"), QStringLiteral("=G1*100")}}}});
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  Calculation& calc = book->Formulas();
  EXPECT_EQ(calc.EvaluationCount(), 0u);  // opening takes the stored results
  EXPECT_EQ(calc.FormulaCount(), 6u);
  calc.RecalculateEverything();  // the writer stored none
  EXPECT_EQ(calc.EvaluationCount(), 6u);
  EXPECT_EQ(book->TakeChangedResults().size(), 6u);
  EXPECT_EQ(Number(*book, 0, 0, 3), 11);
  EXPECT_EQ(Number(*book, 0, 0, 5), 10);

  size_t before = calc.EvaluationCount();
  book->Sheet(0).SetNumber(0, 0, 3);  // A1: C1, D1, F1, G1 (H1: G1 stays 1)
  EXPECT_EQ(calc.EvaluationCount(), before);  // worked out when asked for, not before
  calc.Settle();
  EXPECT_EQ(calc.EvaluationCount() - before, 4u);
  EXPECT_EQ(Number(*book, 0, 0, 3), 31);
  EXPECT_EQ(Number(*book, 0, 0, 5), 30);
  EXPECT_EQ(Number(*book, 0, 0, 7), 100);
  before = calc.EvaluationCount();
  book->Sheet(0).SetNumber(0, 1, 7);  // B1: E1 only
  calc.Settle();
  EXPECT_EQ(calc.EvaluationCount() - before, 1u);
  EXPECT_EQ(Number(*book, 0, 0, 4), 6);
  before = calc.EvaluationCount();
  book->Sheet(0).SetText(40, 9, QStringLiteral("read by nothing"));
  calc.Settle();
  EXPECT_EQ(calc.EvaluationCount(), before);
  // The writes are announced: the cells whose results changed.
  const std::vector<CellPosition> changed = book->TakeChangedResults();
  EXPECT_EQ(changed.size(), 3u + 1u);
  EXPECT_TRUE(book->TakeChangedResults().empty());
}

// Formulas filled down a column: a change reaches exactly the rows that
// read it (a running total, a window around the row, an absolute cell).
TEST(FormulaRecalc, FilledDownFormulasRecalculateJustTheRowsThatReadTheChange) {
  ScratchDir dir;
  QJsonObject cells;
  for (int r = 1; r <= 100; ++r) {
    cells[QStringLiteral("A%1").arg(r)] = r;
    cells[QStringLiteral("B%1").arg(r)] = QStringLiteral("=SUM(A$1:A%1)").arg(r);
    cells[QStringLiteral("E%1").arg(r)] = QStringLiteral("=$A$1*%1").arg(r);
    if (r > 1 && r < 100) cells[QStringLiteral("C%1").arg(r)] = QStringLiteral("=A%1+A%2").arg(r - 1).arg(r + 1);
  }
  cells[QStringLiteral("D1")] = QStringLiteral("=SUM(A1:A100)");
  const QString path = MakeBook(dir, QStringLiteral("runs.xls"), {{QStringLiteral("S"), cells}});
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  Calculation& calc = book->Formulas();
  calc.RecalculateEverything();
  EXPECT_EQ(Number(*book, 0, 99, 1), 5050);

  size_t before = calc.EvaluationCount();
  book->Sheet(0).SetNumber(49, 0, 1000);  // A50
  calc.Settle();
  EXPECT_EQ(calc.EvaluationCount() - before, 51u + 2u + 1u);
  EXPECT_EQ(Number(*book, 0, 48, 1), 1225);  // B49 does not reach A50
  EXPECT_EQ(Number(*book, 0, 49, 1), 1225 + 1000);
  EXPECT_EQ(Number(*book, 0, 99, 1), 5050 - 50 + 1000);
  EXPECT_EQ(Number(*book, 0, 48, 2), 48 + 1000);  // C49 = A48+A50
  EXPECT_EQ(Number(*book, 0, 50, 2), 1000 + 52);  // C51 = A50+A52
  EXPECT_EQ(Number(*book, 0, 0, 3), 5050 - 50 + 1000);

  before = calc.EvaluationCount();
  book->Sheet(0).SetNumber(0, 0, 7);  // A1: every running total, C2, D1 and every E
  calc.Settle();
  EXPECT_EQ(calc.EvaluationCount() - before, 100u + 1u + 1u + 100u);
  EXPECT_EQ(Number(*book, 0, 99, 4), 700);
  EXPECT_EQ(Number(*book, 0, 1, 2), 7 + 3);
}

// Aggregates over long columns (read from dense copies with kept block
// summaries) stay right through changes of numbers, texts and errors.
TEST(FormulaRecalc, LongColumnAggregatesFollowNumbersTextsAndErrors) {
  ScratchDir dir;
  constexpr int kRows = 3000;
  QJsonObject cells;
  for (int r = 1; r <= kRows; ++r) cells[QStringLiteral("A%1").arg(r)] = r;
  cells[QStringLiteral("A20")] = QStringLiteral("=1/0");
  const char* const aggregates[] = {"SUM", "MIN", "MAX", "COUNT", "COUNTA", "AVERAGE"};
  for (int i = 0; i < 6; ++i) cells[QStringLiteral("C%1").arg(i + 1)] = QStringLiteral("=%1(A1:A3000)").arg(QLatin1String(aggregates[i]));
  cells[QStringLiteral("C7")] = QStringLiteral("=COUNTIF(A1:A3000,\">=1500\")");
  const QString path = MakeBook(dir, QStringLiteral("long.xls"), {{QStringLiteral("S"), cells}});
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  book->Formulas().RecalculateEverything();
  std::vector<double> column(kRows);
  for (int r = 0; r < kRows; ++r) column[static_cast<size_t>(r)] = r + 1;
  // What the aggregates must give for column, with A20 an error or not.
  const auto check = [&](bool error, const char* when) {
    SCOPED_TRACE(when);
    double sum = 0, min = 1e300, max = -1e300, count = 0, atLeast = 0;
    for (size_t r = 0; r < column.size(); ++r) {
      if (std::isnan(column[r]) || (error && r == 19)) continue;
      sum += column[r];
      min = std::min(min, column[r]);
      max = std::max(max, column[r]);
      ++count;
      if (column[r] >= 1500) ++atLeast;
    }
    for (uint32_t i : {0u, 1u, 2u, 5u}) {
      const CellValue v = book->Sheet(0).Cell(i, 2);
      if (error) {
        EXPECT_EQ(v.text, QStringLiteral("#DIV/0!")) << aggregates[i];
      } else {
        EXPECT_EQ(v.number, i == 0 ? sum : i == 1 ? min : i == 2 ? max : sum / count) << aggregates[i];
      }
    }
    EXPECT_EQ(Number(*book, 0, 3, 2), count);
    EXPECT_EQ(Number(*book, 0, 4, 2), kRows);  // COUNTA: errors and texts are something too
    EXPECT_EQ(Number(*book, 0, 6, 2), atLeast);
  };
  check(true, "as calculated");
  book->Sheet(0).SetNumber(19, 0, 20);  // the error is written over
  column[19] = 20;
  check(false, "error gone");
  book->Sheet(0).SetNumber(kRows - 1, 0, 0);  // the largest number goes
  column[kRows - 1] = 0;
  check(false, "largest gone");
  book->Sheet(0).SetText(1499, 0, QStringLiteral("1500 as text"));  // a text: counted by COUNTA only
  column[1499] = NAN;
  check(false, "a text");
  book->Sheet(0).SetNumber(2500, 0, -5);
  column[2500] = -5;
  check(false, "a new smallest");
}

TEST(FormulaRecalc, CircularReferencesKeepTheirLastResultsAndNeverHang) {
  ScratchDir dir;
  const QString path = MakeBook(dir, QStringLiteral("circle.xls"),
                                {{QStringLiteral("S"), QJsonObject{{QStringLiteral("A1"), QStringLiteral("=B1+1")},
                                                                   {QStringLiteral("B1"), QStringLiteral("=A1+1")},
                                                                   {QStringLiteral("C1"), QStringLiteral("=A1&\"!\"")},
                                                                   {QStringLiteral("D1"), QStringLiteral("=D1+1")},
                                                                   {QStringLiteral("E1"), QStringLiteral("=F1*3")},
                                                                   {QStringLiteral("F1"), 2}}}});
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  Calculation& calc = book->Formulas();
  calc.RecalculateEverything();
  EXPECT_EQ(calc.CircularCount(), 3u);
  EXPECT_TRUE(calc.HasKeptResults());
  // The writer stored "" as every result: circular cells keep it, and the
  // formula reading them works with it.
  EXPECT_EQ(book->Sheet(0).Cell(0, 0).text, QString());
  EXPECT_EQ(book->Sheet(0).Cell(0, 2).text, QStringLiteral("!"));
  EXPECT_EQ(Number(*book, 0, 0, 4), 6);
  book->Sheet(0).SetNumber(0, 5, 5);
  EXPECT_EQ(Number(*book, 0, 0, 4), 15);
  // A value written over B1 ends the circle: A1 and what reads it follow.
  book->Sheet(0).SetNumber(0, 1, 41);
  EXPECT_EQ(Number(*book, 0, 0, 0), 42);
  EXPECT_EQ(book->Sheet(0).Cell(0, 2).text, QStringLiteral("42!"));
  EXPECT_EQ(calc.CircularCount(), 1u);  // D1 still reads itself
}

TEST(FormulaRecalc, AFormulaWrittenOverIsGoneAndWhatReadItFollowsTheNewValue) {
  ScratchDir dir;
  const QString path = MakeBook(dir, QStringLiteral("over.xls"),
                                {{QStringLiteral("S"), QJsonObject{{QStringLiteral("A1"), 4},
                                                                   {QStringLiteral("B1"), QStringLiteral("=A1&\"x\"")},
                                                                   {QStringLiteral("C1"), QStringLiteral("=LEN(B1)")}}}});
  const QString saved = dir.Path(QStringLiteral("saved.xls"));
  {
    const std::unique_ptr<Workbook> book = Workbook::Open(path);
    book->Sheet(0).SetText(0, 1, QStringLiteral("plain text now"));
    book->Sheet(0).SetNumber(0, 0, 12345);  // read by nobody any more
    EXPECT_EQ(Number(*book, 0, 0, 2), 14);
    book->SaveAs(saved);
  }
  const std::unique_ptr<Workbook> again = Workbook::Open(saved);
  EXPECT_EQ(again->Formulas().FormulaCount(), 1u);
  EXPECT_EQ(again->Sheet(0).Cell(0, 1).text, QStringLiteral("plain text now"));
  auto cells = Stored(saved, 0);
  EXPECT_EQ(cells[QStringLiteral("0,1")][3].toString(), QStringLiteral("plain text now"));
  EXPECT_EQ(cells[QStringLiteral("0,2")][3].toDouble(), 14.0);
}

TEST(FormulaRecalc, ASaveStoresEveryKindOfResultAndLongTextsWhole) {
  ScratchDir dir;
  const QString path = MakeBook(dir, QStringLiteral("kinds.xls"),
                                {{QStringLiteral("S"), QJsonObject{{QStringLiteral("A1"), QStringLiteral("x")},
                                                                   {QStringLiteral("B1"), QStringLiteral("=REPT(A1,3000)")},
                                                                   {QStringLiteral("C1"), QStringLiteral("=A1=\"x\"")},
                                                                   {QStringLiteral("D1"), QStringLiteral("=1/LEN(A1)")},
                                                                   {QStringLiteral("E1"), QStringLiteral("=IF(A1=\"x\",\"yes\",7)")},
                                                                   {QStringLiteral("F1"), QStringLiteral("=A1&\"\"")}}}});
  RegisterSpreadsheetServer();
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Call("Open", {path, false});
  const OleVariant cell = excel.Get("Sheets", {1}).Get("Cells", {1, 1});
  cell.Put("Value", QStringLiteral("Ωx"));  // a wide character: 6000 characters need more than one record
  excel.Call("Save");
  auto cells = Stored(path, 0);
  EXPECT_EQ(cells[QStringLiteral("0,1")][3].toString(), QStringLiteral("Ωx").repeated(3000));
  EXPECT_EQ(cells[QStringLiteral("0,2")][2].toInt(), 4);  // boolean FALSE
  EXPECT_EQ(cells[QStringLiteral("0,2")][3].toInt(), 0);
  EXPECT_EQ(cells[QStringLiteral("0,3")][3].toDouble(), 0.5);
  EXPECT_EQ(cells[QStringLiteral("0,4")][3].toDouble(), 7.0);
  EXPECT_EQ(cells[QStringLiteral("0,5")][3].toString(), QStringLiteral("Ωx"));
  // An empty text empties the cell: LEN is 0, 1/0 is #DIV/0!, the text
  // result "" is stored as such.
  cell.Put("Value", QString());
  excel.Call("Save");
  cells = Stored(path, 0);
  EXPECT_EQ(cells[QStringLiteral("0,3")][2].toInt(), 5);
  EXPECT_EQ(cells[QStringLiteral("0,3")][3].toString(), QStringLiteral("#DIV/0!"));
  EXPECT_EQ(cells.count(QStringLiteral("0,5")) ? cells[QStringLiteral("0,5")][3].toString() : QString(), QString());
  excel.Call("Quit");
}

TEST(FormulaRecalc, TheFileAsksForRecalculationOnlyWhenItKeepsResultsItCannotVouchFor) {
  ScratchDir dir;
  // namesdemo holds TODAY(), which the server does not evaluate.
  const QString kept = dir.CopyFixture(QStringLiteral("namesdemo.xls"));
  const uint32_t build = RecalcIdBuild(kept);
  ASSERT_NE(build, UINT32_MAX);
  const QString untouched = dir.Path(QStringLiteral("untouched.xls"));
  Workbook::Open(kept)->SaveAs(untouched);
  EXPECT_EQ(RecalcIdBuild(untouched), build);
  {
    const std::unique_ptr<Workbook> book = Workbook::Open(kept);
    EXPECT_TRUE(book->Formulas().HasKeptResults());
    EXPECT_FALSE(book->Formulas().OutsideReasons().isEmpty());
    book->Sheet(0).SetNumber(30, 0, 1);
    book->Save();
  }
  EXPECT_EQ(RecalcIdBuild(kept), 0u);

  // Everything evaluated: the file keeps its engine number after a write.
  const QString scoring = dir.Path(QStringLiteral("scoring.xls"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(CFW_FIXTURES_DIR "/formulas/scoring.xls"), scoring));
  QFile(scoring).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  const uint32_t scoringBuild = RecalcIdBuild(scoring);
  {
    const std::unique_ptr<Workbook> book = Workbook::Open(scoring);
    EXPECT_FALSE(book->Formulas().HasKeptResults());
    book->Sheet(0).SetNumber(30, 0, 1);
    book->Save();
  }
  EXPECT_EQ(RecalcIdBuild(scoring), scoringBuild);
}

// The 66 puts of a row reach the formulas that read it once, when a
// formula is read next, however many of the puts each formula reads; a
// formula put is one more change, not a rebuild.
TEST(FormulaRecalc, FormulasAreWorkedOutOncePerRowNotOncePerPut) {
  const std::unique_ptr<Workbook> book = Workbook::CreateBlank();
  book->AddSheet(1);
  book->PutFormula(1, 0, 0, QStringLiteral("=COUNTIF(Sheet1!B2:BN500,\"1\")"));
  book->PutFormula(1, 0, 1, QStringLiteral("=SUMPRODUCT((Sheet1!B2:BN500=1)*1)+A1"));
  book->PutFormula(1, 0, 2, QStringLiteral("=B1*2"));
  Calculation& calc = book->Formulas();
  EXPECT_EQ(Number(*book, 1, 0, 2), 0);
  const size_t before = calc.EvaluationCount();
  for (uint32_t col = 0; col < 66; ++col) {
    if (col % 2) book->Sheet(0).SetText(1, col, QStringLiteral(" "));
    else book->Sheet(0).SetNumber(1, col, 1);
  }
  EXPECT_EQ(calc.EvaluationCount(), before);
  EXPECT_EQ(Number(*book, 1, 0, 2), (32 + 32) * 2);  // B..BN: 65 columns, the even ones from C on hold 1
  EXPECT_EQ(calc.EvaluationCount() - before, 3u);
  // A formula put over one of them: what reads it follows, once.
  book->PutFormula(1, 0, 0, QStringLiteral("=100"));
  EXPECT_EQ(Number(*book, 1, 0, 2), (100 + 32) * 2);
  EXPECT_EQ(calc.EvaluationCount() - before, 3u + 3u);
}

// Statistics rewritten with longer ranges as rows arrive (as a scoring
// sheet may): every rewrite forgets the formula it replaces, in the index
// and in what reads it, and the results stay those of the newest texts.
TEST(FormulaRecalc, FormulasRewrittenAsRowsArriveStayRight) {
  const std::unique_ptr<Workbook> book = Workbook::CreateBlank();
  book->AddSheet(1);
  book->PutFormula(1, 0, 2, QStringLiteral("=A1+B1"));  // reads both statistics
  double sum = 0;
  double large = 0;
  for (uint32_t row = 0; row < 400; ++row) {
    const double value = (row * 7) % 13;
    book->Sheet(0).SetNumber(row, 0, value);
    sum += value;
    if (value > 5) ++large;
    const QString last = QString::number(row + 1);
    book->PutFormula(1, 0, 0, QStringLiteral("=SUM(Sheet1!A1:A%1)").arg(last));
    book->PutFormula(1, 0, 1, QStringLiteral("=COUNTIF(Sheet1!$A$1:A%1,\">5\")").arg(last));
    if (row % 50 == 49) {
      ASSERT_EQ(Number(*book, 1, 0, 2), sum + large) << "after row " << row;
    }
  }
  // A row beyond the ranges changes nothing; one inside them does.
  book->Sheet(0).SetNumber(500, 0, 1000);
  EXPECT_EQ(Number(*book, 1, 0, 2), sum + large);
  book->Sheet(0).SetNumber(0, 0, 100);
  EXPECT_EQ(Number(*book, 1, 0, 0), sum + 100);
  EXPECT_EQ(Number(*book, 1, 0, 2), sum + 100 + large + 1);
  EXPECT_EQ(book->Formulas().FormulaCount(), 3u);
}

}  // namespace

