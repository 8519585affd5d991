// Workbooks saved and opened through Calc, read back by independent readers;
// files Calc must not be given, refused before any row is written.
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"

#include <QFile>

namespace {

QString FailureOfOpen(const OleVariant& app, const QString& path) {
  try {
    app.Get("Workbooks").Call("Open", {path, false});
  } catch (const EOleError& e) {
    return e.Message();
  }
  return {};
}

// Sheet 1 with three rows of names, sheet 2 adding up sheet 1's scores.
const char* kGradebook =
    "s1 = doc.Sheets.getByIndex(0)\n"
    "s1.getCellByPosition(0, 0).setString('Name'); s1.getCellByPosition(1, 0).setString('Score')\n"
    "doc.Sheets.insertNewByName('Scores', 1)\n"
    "s2 = doc.Sheets.getByIndex(1)\n"
    "s2.getCellByPosition(0, 0).setFormula('=SUM($Sheet1.B2:B100)')\n"
    "s2.getCellByPosition(0, 1).setFormula('=COUNT($Sheet1.B2:B100)')\n";

}  // namespace

TEST_F(CalcTest, AnXlsxSavedThroughCalcReadsBackInOpenpyxlWithNumbersAsNumbers) {
  const OleVariant book = AddSaved("grades.xlsx");
  const OleVariant sheet = Sheet1();
  WriteRow(sheet, 1, {"Name", "Score", "Code"});
  WriteRow(sheet, 2, {"Anna", "17", "0042x"});
  book.Call("Save");
  EXPECT_EQ(OpenpyxlRows(dir.Path("grades.xlsx"), 2, 3), "'Name'|'Score'|'Code'\n'Anna'|17|'0042x'\n");
}

TEST_F(CalcTest, SaveKeepsEachFormatAndSaveAsPicksItByTheNewName) {
  const OleVariant book = AddSaved("book.ods");
  WriteRow(Sheet1(), 1, {"Ben", "12.5"});
  book.Call("Save");
  const QByteArray ods = dir.Read("book.ods");
  ASSERT_TRUE(ods.startsWith("PK"));
  EXPECT_TRUE(ods.contains("application/vnd.oasis.opendocument.spreadsheet"));
  EXPECT_EQ(ConvertedCsv(dir.Path("book.ods")), "Ben,12.5\n");

  book.Call("SaveAs", {dir.Path("book.xls")});
  WriteRow(Sheet1(), 2, {"Cem", "3"});
  app.Call("Save");  // the application's Save: the active workbook, in its format now
  EXPECT_TRUE(dir.Read("book.xls").startsWith(QByteArray("\xD0\xCF\x11\xE0", 4)));
  const QString xls = XlrdValues(dir.Path("book.xls"));
  EXPECT_TRUE(xls.contains("[0, 0, 1, \"Ben\"]")) << xls.toStdString();
  EXPECT_TRUE(xls.contains("[1, 1, 2, 3.0]")) << xls.toStdString();
  EXPECT_EQ(book.Get("Name").ToText(), "book.xls");
  EXPECT_FALSE(dir.Read("book.ods").isEmpty());  // the earlier file stays as it was
  EXPECT_THROW(book.Call("SaveAs", {dir.Path("book.csv")}), EOleError);
}

TEST_F(CalcTest, AGradebookMadeByLibreOfficeRecalculatesItsScoreSheetAsRowsArrive) {
  for (const QString name : {"gradebook.xlsx", "gradebook.ods"}) {
    SCOPED_TRACE(name.toStdString());
    MakeWithOffice(dir.Path(name), name.endsWith("xlsx") ? "Calc Office Open XML" : "calc8", kGradebook);
    const OleVariant book = app.Get("Workbooks").Call("Open", {dir.Path(name), false});
    const OleVariant scores = book.Get("Sheets").Get("Item", {2});
    EXPECT_EQ(scores.Get("Cells", {1, 1}).Get("Value").ToDouble(), 0.0);
    WriteRow(Sheet1(), 2, {"Anna", "15"});
    WriteRow(Sheet1(), 3, {"Ben", "12"});
    EXPECT_EQ(scores.Get("Cells", {1, 1}).Get("Value").ToDouble(), 27.0);
    EXPECT_EQ(scores.Get("Cells", {2, 1}).Get("Value").ToDouble(), 2.0);
    book.Call("Save");
    app.Call("Quit");
    app = OleVariant(CreateLibreOfficeApplication());
  }
  EXPECT_EQ(OpenpyxlRows(dir.Path("gradebook.xlsx"), 3, 2), "'Name'|'Score'\n'Anna'|15\n'Ben'|12\n");
  EXPECT_EQ(ConvertedCsv(dir.Path("gradebook.ods")), "Name,Score\nAnna,15\nBen,12\n");
  // The formula is still Calc's and still there.
  NeededPackages::Require({"openpyxl"});
  const ProgramRun formula = RunProgram(
      "/usr/bin/python3", {"-c", "import sys, openpyxl; print(openpyxl.load_workbook(sys.argv[1]).worksheets[1]['A1'].value)",
                           dir.Path("gradebook.xlsx")});
  EXPECT_EQ(formula.out.trimmed(), "=SUM(Sheet1!B2:B100)");
}

// The user's formulas in column A are never taken for empty rows, even when
// their result is an error or the empty text.
TEST_F(CalcTest, FormulasGivingErrorsOrEmptyTextAreNotEmptyCells) {
  MakeWithOffice(dir.Path("formulas.ods"), "calc8",
                 "s = doc.Sheets.getByIndex(0)\n"
                 "s.getCellByPosition(0, 0).setFormula('=1/0')\n"
                 "s.getCellByPosition(0, 1).setFormula('=\"\"')\n"
                 "s.getCellByPosition(0, 2).setString('text')\n");
  app.Get("Workbooks").Call("Open", {dir.Path("formulas.ods"), false});
  const OleVariant sheet = Sheet1();
  EXPECT_EQ(sheet.Get("Cells", {1, 1}).Get("Value").ToText(), "#DIV/0!");
  const OleVariant emptyText = sheet.Get("Cells", {2, 1}).Get("Value");
  EXPECT_EQ(emptyText.kind(), OleVariant::Kind::Text);
  EXPECT_EQ(emptyText.ToText(), "");
  EXPECT_EQ(sheet.Get("Cells", {3, 1}).Get("Value").ToText(), "text");
  EXPECT_TRUE(sheet.Get("Cells", {4, 1}).Get("Value").IsEmpty());
}

TEST_F(CalcTest, DamagedOrMisnamedFilesAreRefusedWithABoxThatNamesThem) {
  dir.Write("empty.ods", {});
  dir.Write("text.ods", "Name,Score\nAnna,15\n");
  dir.Write("notzip.xlsx", "<workbook/>");
  dir.Write("junk.xlsx", QByteArray("PK\x03\x04", 4) + QByteArray(300, 'j'));
  EXPECT_TRUE(FailureOfOpen(app, dir.Path("empty.ods")).contains("'empty.ods'"));
  EXPECT_TRUE(FailureOfOpen(app, dir.Path("text.ods")).contains("'text.ods'"));
  EXPECT_TRUE(FailureOfOpen(app, dir.Path("notzip.xlsx")).contains("'notzip.xlsx'"));
  const QString junk = FailureOfOpen(app, dir.Path("junk.xlsx"));
  EXPECT_TRUE(junk.contains("'junk.xlsx'")) << junk.toStdString();
  EXPECT_TRUE(FailureOfOpen(app, dir.Path("missing.xlsx")).contains("missing.xlsx"));
  EXPECT_TRUE(app.Get("ActiveWorkbook").IsEmpty());
  EXPECT_EQ(app.Get("Workbooks").Get("Count").ToInt(), 0);
}

TEST_F(CalcTest, AWorkbookThatWouldOpenReadOnlyIsRefusedBeforeAnyRow) {
  MakeWithOffice(dir.Path("locked.xlsx"), "Calc Office Open XML", "");
  // Another user's LibreOffice holds it: its lock file lies beside it.
  dir.Write(".~lock.locked.xlsx#", "Teacher Two,two,otherhost,09.12.2026 08:00,file:///home/two/.config/libreoffice/4;");
  const QString locked = FailureOfOpen(app, dir.Path("locked.xlsx"));
  EXPECT_TRUE(locked.contains("'locked.xlsx'")) << locked.toStdString();
  EXPECT_TRUE(locked.contains("read-only")) << locked.toStdString();
  EXPECT_EQ(app.Get("Workbooks").Get("Count").ToInt(), 0);
  QFile::remove(dir.Path(".~lock.locked.xlsx#"));
  if (geteuid() != 0) {  // root may write any file
    QFile::setPermissions(dir.Path("locked.xlsx"), QFile::ReadOwner);
    EXPECT_TRUE(FailureOfOpen(app, dir.Path("locked.xlsx")).contains("read-only"));
  }
}

TEST_F(CalcTest, AProtectedWorkbookAsksForItsPasswordAsTheBuiltInServerDoes) {
  // (The office stores an .xlsx with a password unencrypted when driven as
  // here, so .ods stands for both; the .xls case follows.)
  for (const QString name : {"secret.ods"}) {
    SCOPED_TRACE(name.toStdString());
    const QString path = dir.Path(name);
    MakeWithOffice(path, "calc8", "doc.Sheets.getByIndex(0).getCellByPosition(0, 0).setString('hidden')", "Klasse7a");
    // Right at once.
    responder.passwordRequests.clear();
    responder.passwords = {QString("Klasse7a")};
    OleVariant book = app.Get("Workbooks").Call("Open", {path, false});
    EXPECT_EQ(Sheet1().Get("Cells", {1, 1}).Get("Value").ToText(), "hidden");
    ASSERT_EQ(responder.passwordRequests.size(), 1u);
    EXPECT_EQ(responder.passwordRequests[0].text, QString("'%1' is protected.").arg(name));
    // Saved in place it keeps its password.
    WriteRow(Sheet1(), 2, {"row"});
    book.Call("Save");
    app.Call("Quit");

    // Wrong, then right: the user is told, then asked again.
    app = OleVariant(CreateLibreOfficeApplication());
    responder.passwordRequests.clear();
    responder.messages.clear();
    responder.passwords = {QString("wrong"), QString("Klasse7a")};
    book = app.Get("Workbooks").Call("Open", {path, false});
    EXPECT_EQ(Sheet1().Get("Cells", {2, 1}).Get("Value").ToText(), "row");
    EXPECT_EQ(responder.passwordRequests.size(), 2u);
    ASSERT_EQ(responder.messages.size(), 1u);
    EXPECT_TRUE(responder.messages[0].text.startsWith("The password you supplied is not correct."));
    app.Call("Quit");

    // Cancel: not opened, and said so.
    app = OleVariant(CreateLibreOfficeApplication());
    responder.passwords.clear();
    const QString cancelled = FailureOfOpen(app, path);
    EXPECT_TRUE(cancelled.contains(QString("'%1'").arg(name))) << cancelled.toStdString();
    EXPECT_TRUE(app.Get("ActiveWorkbook").IsEmpty());
  }
}

TEST_F(CalcTest, AnXlsWithAPasswordOpensWithIt) {
  responder.passwords = {QString("Klasse7a")};
  QFile::copy(CFW_FIXTURES_DIR "/xls/encrypted-calc-password.xls", dir.Path("class.xls"));
  QFile::setPermissions(dir.Path("class.xls"), QFile::ReadOwner | QFile::WriteOwner);
  app.Get("Workbooks").Call("Open", {dir.Path("class.xls"), false});
  EXPECT_EQ(responder.passwordRequests.size(), 1u);
  EXPECT_EQ(app.Get("Workbooks").Get("Count").ToInt(), 1);
}
