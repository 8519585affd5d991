// Formulas and sheets through the late-bound calls, as the scoring lays
// them into a teacher's workbook: Formula put and get, Worksheets.Add and
// Name, cells on every sheet, and what a save keeps of them.

#include "SpreadsheetTestSupport.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

using SheetTest::ScratchDir;

class FormulaSheets : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSpreadsheetServer();
    excel_ = CreateOleObject("Excel.Application");
    excel_.Get("Workbooks").Get("Add").Call("SaveAs", {dir_.Path(QStringLiteral("book.xls"))});
  }
  void TearDown() override {
    if (!excel_.IsEmpty()) {
      excel_.Get("ActiveWorkBook").Call("Close", {false});
      excel_.Call("Quit");
    }
  }
  OleVariant Book() const { return excel_.Get("ActiveWorkBook"); }
  OleVariant Sheet(const OleVariant& which) const { return Book().Get("Worksheets", {which}); }
  OleVariant Cell(const OleVariant& sheet, int row, int col) const { return Sheet(sheet).Get("Cells", {row, col}); }
  QString Refusal(const OleVariant& cell, const QString& formula) const {
    try {
      cell.Put("Formula", formula);
    } catch (const EOleError& e) {
      return e.Message();
    }
    return QStringLiteral("accepted");
  }
  OleVariant AddAfterLast(const QString& name) const {
    const OleVariant sheets = Book().Get("Worksheets");
    const OleVariant last = sheets.Get("Item", {sheets.Get("Count").ToInt()});
    const OleVariant sheet = sheets.Call("Add", {OleVariant(), last});
    sheet.Put("Name", name);
    return sheet;
  }

  ScratchDir dir_;
  OleVariant excel_;
};

TEST_F(FormulaSheets, AFormulaPutIsEvaluatedAndItsTextComesBack) {
  for (int row = 1; row <= 3; ++row) Cell(1, row, 1).Put("Value", QString::number(row * 10));
  const OleVariant total = Cell(1, 1, 2);
  total.Put("Formula", "=sum(a1:a3)/COUNT($A$1:A3)");
  EXPECT_EQ(total.Get("Value").ToDouble(), 20.0);
  EXPECT_EQ(total.Get("Formula").ToText(), QStringLiteral("=SUM(A1:A3)/COUNT($A$1:A3)"));
  EXPECT_EQ(total.Get("Text").ToText(), QStringLiteral("20"));
  Cell(1, 2, 1).Put("Value", "50");
  EXPECT_EQ(total.Get("Value").ToDouble(), 30.0);
  // A cell without a formula gives its value as text.
  EXPECT_EQ(Cell(1, 2, 1).Get("Formula").ToText(), QStringLiteral("50"));
  EXPECT_EQ(Cell(1, 9, 9).Get("Formula").ToText(), QString());
  // A Formula put without "=" is a Value put; a Value put with "=" stays text.
  Cell(1, 4, 1).Put("Formula", "007");
  EXPECT_EQ(Cell(1, 4, 1).Get("Value").kind(), OleVariant::Kind::Double);
  EXPECT_EQ(total.Get("Value").ToDouble(), (10 + 50 + 30) / 3.0);
  Cell(1, 5, 1).Put("Value", "=A1*2");
  EXPECT_EQ(Cell(1, 5, 1).Get("Value").ToText(), QStringLiteral("=A1*2"));
  // A Value put over a formula replaces it, and what read the formula follows.
  Cell(1, 1, 3).Put("Formula", "=B1*2");
  EXPECT_EQ(Cell(1, 1, 3).Get("Value").ToDouble(), 60.0);
  total.Put("Value", "1");
  EXPECT_EQ(total.Get("Formula").ToText(), QStringLiteral("1"));
  EXPECT_EQ(Cell(1, 1, 3).Get("Value").ToDouble(), 2.0);
  // And a formula over a formula.
  total.Put("Formula", "=A1+1");
  total.Put("Formula", "=A1+2");
  EXPECT_EQ(Cell(1, 1, 3).Get("Value").ToDouble(), 24.0);
  EXPECT_FALSE(Book().Get("Saved").ToBool());
}

// A cell refuses a formula it cannot take, says why and where, and keeps
// what it held.
TEST_F(FormulaSheets, BadFormulasAreRefusedWithTheirPlaceAndTheCellKeepsItsValue) {
  AddAfterLast(QStringLiteral("Items"));
  const OleVariant cell = Cell("Items", 2, 5);
  cell.Put("Value", "kept");
  EXPECT_EQ(Refusal(cell, QStringLiteral("=SUM(A1:A3")),
            QStringLiteral("Cell Items!E2: =SUM(A1:A3 cannot be read at character 11: a closing parenthesis is missing"));
  EXPECT_EQ(Refusal(cell, QStringLiteral("=SUMM(A1:A3)")),
            QStringLiteral("Cell Items!E2: =SUMM(A1:A3) cannot be read at character 2: there is no function SUMM"));
  EXPECT_EQ(Refusal(cell, QStringLiteral("=TODAY()-1")),
            QStringLiteral("Cell Items!E2: =TODAY()-1 cannot be read at character 2: TODAY is not a function the "
                           "built-in spreadsheet server evaluates"));
  EXPECT_EQ(Refusal(cell, QStringLiteral("=Scores!B2*2")),
            QStringLiteral("Cell Items!E2: =Scores!B2*2 cannot be read at character 2: there is no sheet \"Scores\""));
  EXPECT_EQ(Refusal(cell, QStringLiteral("=1+*2")),
            QStringLiteral("Cell Items!E2: =1+*2 cannot be read at character 4: an operand is missing before *"));
  EXPECT_EQ(cell.Get("Value").ToText(), QStringLiteral("kept"));
  // Nothing was added to the workbook's sheet table by a refused reference.
  cell.Put("Formula", "=Sheet1!A1");
  EXPECT_EQ(cell.Get("Formula").ToText(), QStringLiteral("=Sheet1!A1"));
}

TEST_F(FormulaSheets, SheetsAreAddedNamedFoundAndKeepTheirIdentity) {
  const OleVariant sheets = Book().Get("Worksheets");
  const OleVariant first = sheets.Get("Item", {1});
  first.Get("Cells", {1, 1}).Put("Value", "rows go here");
  const OleVariant key = sheets.Call("Add", {OleVariant(), first});
  EXPECT_EQ(key.Get("Name").ToText(), QStringLiteral("Sheet2"));
  EXPECT_EQ(key.Get("Index").ToInt(), 2);
  key.Put("Name", "Key");
  // Without Before or After the new sheet goes before the active one, the first.
  const OleVariant front = sheets.Call("Add");
  EXPECT_EQ(front.Get("Name").ToText(), QStringLiteral("Sheet3"));
  EXPECT_EQ(front.Get("Index").ToInt(), 1);
  EXPECT_EQ(first.Get("Index").ToInt(), 2);  // the same sheet, one place on
  EXPECT_EQ(first.Get("Cells", {1, 1}).Get("Value").ToText(), QStringLiteral("rows go here"));
  const OleVariant before = sheets.Call("Add", {key});
  EXPECT_EQ(before.Get("Index").ToInt(), 3);
  EXPECT_EQ(sheets.Get("Count").ToInt(), 4);
  EXPECT_EQ(sheets.Get("Item", {"KEY"}).Get("Index").ToInt(), 4);
  EXPECT_EQ(excel_.Get("Sheets", {"key"}).Get("Name").ToText(), QStringLiteral("Key"));
  EXPECT_THROW(sheets.Get("Item", {"Nope"}), EOleError);
  EXPECT_THROW(sheets.Call("Add", {key, key}), EOleError);
  EXPECT_THROW(sheets.Call("Add", {"Key"}), EOleError);
  EXPECT_THROW(sheets.Call("Add", {OleVariant(), OleVariant(), 2}), EOleError);

  const auto renameRefused = [&](const QString& name) {
    try {
      key.Put("Name", name);
    } catch (const EOleError& e) {
      return e.Message();
    }
    return QStringLiteral("renamed");
  };
  EXPECT_EQ(renameRefused(QString()), QStringLiteral("Name: A sheet name cannot be empty"));
  EXPECT_EQ(renameRefused(QString(32, QLatin1Char('x'))),
            QStringLiteral("Name: The sheet name \"%1\" is too long: a sheet name has at most 31 characters").arg(QString(32, QLatin1Char('x'))));
  for (const char* bad : {"a[b", "a]b", "a*b", "a?b", "a/b", "a\\b", "a:b"}) {
    EXPECT_TRUE(renameRefused(QString::fromLatin1(bad)).contains(QStringLiteral("cannot hold"))) << bad;
  }
  EXPECT_EQ(renameRefused(QStringLiteral("SHEET1")), QStringLiteral("Name: There is already a sheet named \"Sheet1\""));
  EXPECT_EQ(renameRefused(QStringLiteral("'quoted'")),
            QStringLiteral("Name: The sheet name \"'quoted'\" cannot begin or end with an apostrophe"));
  EXPECT_EQ(renameRefused(QString(31, QLatin1Char('y'))), QStringLiteral("renamed"));
  EXPECT_EQ(renameRefused(QStringLiteral("KEY")), QStringLiteral("renamed"));  // its own name in another case
  EXPECT_EQ(key.Get("Name").ToText(), QStringLiteral("KEY"));
}

// Cells on every sheet take values and formulas, formulas read across
// sheets, and a renamed sheet changes how they print, not what they read.
TEST_F(FormulaSheets, FormulasReadAcrossSheetsAndFollowRenames) {
  const OleVariant key = AddAfterLast(QStringLiteral("Key"));
  const int answers[] = {2, 3, 1, 4};
  const int points[] = {1, 1, 2, 3};
  for (int q = 0; q < 4; ++q) {
    key.Get("Cells", {1, q + 2}).Put("Value", QString::number(answers[q]));
    key.Get("Cells", {2, q + 2}).Put("Value", QString::number(points[q]));
  }
  const int marks[] = {2, 1, 1, 4};
  for (int q = 0; q < 4; ++q) Cell(1, 2, q + 2).Put("Value", QString::number(marks[q]));
  const OleVariant scores = AddAfterLast(QStringLiteral("My Scores"));
  const OleVariant score = scores.Get("Cells", {2, 2});
  score.Put("Formula", "=SUMPRODUCT((Sheet1!B2:E2=Key!B1:E1)*Key!B2:E2)");
  EXPECT_EQ(score.Get("Value").ToDouble(), 1.0 + 2 + 3);
  Cell(1, 2, 3).Put("Value", "3");
  EXPECT_EQ(score.Get("Value").ToDouble(), 1.0 + 1 + 2 + 3);
  Cell(1, 3, 1).Put("Formula", "='My Scores'!B2*10");
  EXPECT_EQ(Cell(1, 3, 1).Get("Value").ToDouble(), 70.0);
  key.Put("Name", "Answer Key");
  EXPECT_EQ(score.Get("Formula").ToText(), QStringLiteral("=SUMPRODUCT((Sheet1!B2:E2='Answer Key'!B1:E1)*'Answer Key'!B2:E2)"));
  key.Get("Cells", {2, 5}).Put("Value", "10");
  EXPECT_EQ(Cell(1, 3, 1).Get("Value").ToDouble(), 140.0);
  // A sheet put between them moves nothing they read.
  Book().Get("Worksheets").Call("Add", {key});
  EXPECT_EQ(score.Get("Value").ToDouble(), 14.0);
  EXPECT_EQ(Cell(1, 3, 1).Get("Formula").ToText(), QStringLiteral("='My Scores'!B2*10"));
}

TEST_F(FormulaSheets, ASavedWorkbookKeepsSheetsFormulasAndResultsForEveryReader) {
  const OleVariant key = AddAfterLast(QStringLiteral("Key"));
  key.Get("Cells", {1, 1}).Put("Value", "4");
  const OleVariant items = AddAfterLast(QStringLiteral("Item List"));
  Cell(1, 1, 1).Put("Value", "2");
  Cell(1, 1, 2).Put("Formula", "=A1*Key!A1&\" points\"");
  items.Get("Cells", {1, 1}).Put("Formula", "=IF(Sheet1!A1>1,TRUE,FALSE)");
  items.Get("Cells", {2, 1}).Put("Formula", "=Key!A1/0");
  items.Get("Cells", {3, 1}).Put("Formula", "=SUM(Sheet1:Key!A1)");
  Book().Call("Save");
  const QString path = dir_.Path(QStringLiteral("book.xls"));

  // xlrd, strict about the file, finds the sheets in order and the results.
  const QJsonArray sheets = SheetTest::ProbeJson({QStringLiteral("values"), path}).array();
  ASSERT_EQ(sheets.size(), 3);
  EXPECT_EQ(sheets[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("Sheet1"));
  EXPECT_EQ(sheets[1].toObject()[QStringLiteral("name")].toString(), QStringLiteral("Key"));
  EXPECT_EQ(sheets[2].toObject()[QStringLiteral("name")].toString(), QStringLiteral("Item List"));
  const QJsonObject formulas = SheetTest::ProbeJson({QStringLiteral("formulas"), path}).object();
  EXPECT_EQ(formulas[QStringLiteral("Sheet1!B1")].toObject()[QStringLiteral("result")].toObject()[QStringLiteral("v")].toString(),
            QStringLiteral("8 points"));
  EXPECT_EQ(formulas[QStringLiteral("Item List!A1")].toObject()[QStringLiteral("result")].toObject()[QStringLiteral("v")].toBool(), true);
  EXPECT_EQ(formulas[QStringLiteral("Item List!A2")].toObject()[QStringLiteral("result")].toObject()[QStringLiteral("v")].toString(),
            QStringLiteral("#DIV/0!"));
  EXPECT_EQ(formulas[QStringLiteral("Item List!A3")].toObject()[QStringLiteral("result")].toObject()[QStringLiteral("v")].toDouble(), 6.0);
  EXPECT_EQ(SheetTest::Probe({QStringLiteral("offsets"), path}).exitCode, 0);

  // The server reads back the same, and goes on calculating.
  excel_.Get("ActiveWorkBook").Call("Close", {false});
  excel_.Get("Workbooks").Call("Open", {path, false});
  EXPECT_EQ(Book().Get("Worksheets").Get("Count").ToInt(), 3);
  EXPECT_EQ(Cell(1, 1, 2).Get("Formula").ToText(), QStringLiteral("=A1*Key!A1&\" points\""));
  EXPECT_EQ(Cell("Item List", 3, 1).Get("Formula").ToText(), QStringLiteral("=SUM(Sheet1:Key!A1)"));
  Cell("Key", 1, 1).Put("Value", "5");
  EXPECT_EQ(Cell(1, 1, 2).Get("Value").ToText(), QStringLiteral("10 points"));
  EXPECT_EQ(Cell("Item List", 3, 1).Get("Value").ToDouble(), 7.0);
}

// A sheet put first moves every sheet number the file keeps: the names of
// single sheets belong to the same sheets after the save, and names and
// formulas still read what they read.
TEST_F(FormulaSheets, ASheetPutFirstKeepsEveryNameOnItsSheet) {
  const QString path = dir_.CopyFixture(QStringLiteral("namesdemo.xls"));
  const QJsonArray before = SheetTest::ProbeJson({QStringLiteral("names"), path}).array();
  excel_.Get("Workbooks").Call("Open", {path, false});
  const OleVariant sheets = Book().Get("Worksheets");
  sheets.Call("Add");
  Cell("Sheet2", 20, 1).Put("Formula", "=SUM(localRange,Expenses)");  // Sheet2's own name
  Cell("Sheet3", 20, 1).Put("Formula", "=ROWS(Localrange)+COUNTA(Moscow)");
  const double sheet2 = Cell("Sheet2", 20, 1).Get("Value").ToDouble();
  const double sheet3 = Cell("Sheet3", 20, 1).Get("Value").ToDouble();
  Book().Call("Save");
  const QJsonArray after = SheetTest::ProbeJson({QStringLiteral("names"), path}).array();
  ASSERT_EQ(after.size(), before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const QJsonArray was = before[i].toArray();
    const QJsonArray is = after[i].toArray();
    EXPECT_EQ(is[0], was[0]);
    EXPECT_EQ(is[1].toInt(), was[1].toInt() < 0 ? -1 : was[1].toInt() + 1) << was[0].toString().toStdString();
    EXPECT_EQ(is[2], was[2]) << was[0].toString().toStdString();
  }
  excel_.Get("ActiveWorkBook").Call("Close", {false});
  excel_.Get("Workbooks").Call("Open", {path, false});
  EXPECT_EQ(Cell("Sheet2", 20, 1).Get("Formula").ToText(), QStringLiteral("=SUM(localRange,Expenses)"));
  EXPECT_EQ(Cell("Sheet2", 20, 1).Get("Value").ToDouble(), sheet2);
  EXPECT_EQ(Cell("Sheet3", 20, 1).Get("Value").ToDouble(), sheet3);
  EXPECT_EQ(Book().Get("Worksheets").Get("Item", {1}).Get("Name").ToText(), QStringLiteral("Sheet5"));
}

// An encrypted workbook takes new sheets and formulas, and opens again
// with them.
TEST_F(FormulaSheets, AnEncryptedWorkbookKeepsItsNewSheetsAndFormulas) {
  const QString path = dir_.CopyFixture(QStringLiteral("encrypted-calc-structure.xls"));
  excel_.Get("Workbooks").Call("Open", {path, false});
  const QString first = Sheet(1).Get("Name").ToText();
  const OleVariant added = AddAfterLast(QStringLiteral("Totals"));
  const QString formula = QStringLiteral("=COUNTA('%1'!A:A)&\" rows\"").arg(first);
  added.Get("Cells", {1, 1}).Put("Formula", formula);
  const QString shown = added.Get("Cells", {1, 1}).Get("Value").ToText();
  EXPECT_NE(shown, QStringLiteral("0 rows"));
  Book().Call("Save");
  excel_.Get("ActiveWorkBook").Call("Close", {false});
  excel_.Get("Workbooks").Call("Open", {path, false});
  EXPECT_EQ(Cell("Totals", 1, 1).Get("Value").ToText(), shown);
  EXPECT_EQ(Cell("Totals", 1, 1).Get("Formula").ToText().remove(QLatin1Char('\'')), QString(formula).remove(QLatin1Char('\'')));
}

}  // namespace

