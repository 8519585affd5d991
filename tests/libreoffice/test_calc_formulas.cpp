// Formulas through the calls against a real Calc: a scored workbook built
// with added sheets and formulas between them, saved in each format and read
// back by openpyxl and by LibreOffice's own recalculation; bad formulas
// refused; values never taken for formulas; what a put costs.
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"

#include <QJsonArray>

namespace {

QString FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EOleError& e) {
    return e.Message();
  }
  return {};
}

struct Placed {
  const char* cell;     // on "Item analysis", column A or B
  const char* formula;  // as put
  const char* inXls;    // as an .xls workbook keeps it, when that differs
};

// Scores and statistics over Sheet1's rows against the key, as the scoring lays them.
const Placed kFormulas[] = {
    {"A1", "=SUMPRODUCT((Sheet1!B2:E2=Key!B1:E1)*Key!B2:E2)", nullptr},
    {"A2", "=SUMPRODUCT((Sheet1!B3:E3=Key!$B$1:$E$1)*Key!$B$2:$E$2)", nullptr},
    {"A3", "=SUMPRODUCT((Sheet1!B4:E4=Key!$B$1:$E$1)*Key!$B$2:$E$2)", nullptr},
    {"A4", "=COUNTA(Sheet1!A:A)-1", nullptr},
    {"A5", "=IF(A1>=3,TRUE,FALSE)", nullptr},
    {"A6", "=ROUND(AVERAGE(A1:A3),2)", nullptr},
    {"A7", "=SUM(Sheet1!2:2)", "=SUM(Sheet1!$A2:$IV2)"},
    {"A8", "=COUNTIF(Sheet1!B2:B4,Key!B1)/COUNT(Sheet1!B2:B4)", nullptr},
    {"A9", "=IF(ISNA(MATCH(9,Key!B1:E1,0)),#N/A,1)", "=IF(ISNA(MATCH(9,Key!B1:E1,0)),NA(),1)"},
    {"B1", "='Item analysis'!A1+Key!B2", nullptr},
    {"B3", "=SUM(Sheet1!B2:E4 Sheet1!C2:C9)", nullptr},
    {"B4", "=\"class \"&Sheet1!A2&\": \"&A1", nullptr},
};

QString Kept(const Placed& p, const QString& format) {
  return QString::fromUtf8(format == u"xls" && p.inXls ? p.inXls : p.formula);
}

int Row(const char* cell) { return QString::fromLatin1(cell + 1).toInt(); }
int Col(const char* cell) { return cell[0] - 'A' + 1; }

// Builds the workbook in the application as the program will: saved under
// its name, rows on Sheet1, then the key and the scores on sheets added after it.
OleVariant BuildScoredBook(const OleVariant& app, const QString& path,
                           const std::function<void(const OleVariant&, int, const QStringList&)>& row) {
  const OleVariant book = app.Get("Workbooks").Get("Add");
  book.Call("SaveAs", {path});
  const OleVariant sheets = book.Get("Sheets");
  const OleVariant first = sheets.Get("Item", {1});
  row(first, 1, {"ID", "Q1", "Q2", "Q3", "Q4"});
  row(first, 2, {"1001", "1", "2", "3", "4"});
  row(first, 3, {"1002", "1", "3", "3", " "});
  row(first, 4, {"1003", "2", "2", "1", "4"});
  const OleVariant key = sheets.Call("Add", {OleVariant(), first});
  key.Put("Name", "Key");
  row(key, 1, {"Key", "1", "2", "3", "4"});
  row(key, 2, {"Points", "1", "2", "1", "1"});
  const OleVariant items = sheets.Call("Add", {OleVariant(), key});
  items.Put("Name", "Item analysis");
  for (const Placed& p : kFormulas) items.Get("Cells", {Row(p.cell), Col(p.cell)}).Put("Formula", p.formula);
  return book;
}

}  // namespace

TEST_F(CalcTest, AScoredWorkbookKeepsItsSheetsFormulasAndResultsInEveryFormat) {
  const auto row = [this](const OleVariant& sheet, int r, const QStringList& values) { WriteRow(sheet, r, values); };
  for (const QString format : {"xlsx", "ods", "xls"}) {
    SCOPED_TRACE(format.toStdString());
    const QString path = dir.Path("scored." + format);
    const OleVariant book = BuildScoredBook(app, path, row);
    const OleVariant items = book.Get("Sheets").Get("Item", {"Item analysis"});
    QMap<QString, OleVariant> shown;
    for (const Placed& p : kFormulas) {
      const OleVariant cell = items.Get("Cells", {Row(p.cell), Col(p.cell)});
      EXPECT_EQ(cell.Get("Formula").ToText(), Kept(p, format));
      shown.insert(QStringLiteral("Item analysis!") + p.cell, cell.Get("Value"));
    }
    EXPECT_EQ(shown["Item analysis!A1"].ToDouble(), 5.0);  // all four right: 1+2+1+1
    EXPECT_EQ(shown["Item analysis!A2"].ToDouble(), 2.0);
    EXPECT_EQ(shown["Item analysis!A4"].ToDouble(), 3.0);
    EXPECT_EQ(shown["Item analysis!B3"].ToDouble(), 7.0);  // C2:C4, where the two meet
    EXPECT_EQ(shown["Item analysis!B4"].ToText(), "class 1001: 5");
    EXPECT_EQ(shown["Item analysis!A7"].ToDouble(), 1011.0);
    EXPECT_EQ(shown["Item analysis!A9"].ToText(), "#N/A");
    book.Call("Save");

    // LibreOffice recalculates the saved file: every result as the server showed it.
    const QJsonObject cells = RecalculatedCells(path);
    for (auto s = shown.begin(); s != shown.end(); ++s) {
      const QJsonObject cell = cells[s.key()].toObject();
      EXPECT_EQ(cell["type"].toString(), "FORMULA") << s.key().toStdString();
      if (s.value().kind() == OleVariant::Kind::Text) {
        EXPECT_EQ(cell["text"].toString(), s.value().ToText()) << s.key().toStdString();
      } else {
        EXPECT_DOUBLE_EQ(cell["value"].toDouble(), s.value().ToDouble()) << s.key().toStdString();
      }
    }
    // The formulas as another reader finds them: from the .xlsx, and from the
    // .xls once LibreOffice has converted it.
    if (format != u"ods") {
      const QJsonObject read = OpenpyxlFormulas(format == u"xls" ? ConvertedBy(path, "xlsx") : path);
      EXPECT_EQ(read["sheets"].toArray(), QJsonArray({"Sheet1", "Key", "Item analysis"}));
      for (const Placed& p : kFormulas) {
        // Calc writes TRUE as the function TRUE(), which means the same everywhere.
        const QString formula = read["cells"].toObject()[QStringLiteral("Item analysis!") + p.cell].toString();
        EXPECT_EQ(QString(formula).replace("TRUE()", "TRUE").replace("FALSE()", "FALSE"), Kept(p, format));
      }
    }
    app.Call("Quit");
    app = OleVariant(CreateLibreOfficeApplication());
  }
}

TEST_F(CalcTest, WhatAFormatCannotKeepIsRefusedAndWhatItCanIsKept) {
  const OleVariant xls = AddSaved("kept.xls");
  const OleVariant cell = Sheet1().Get("Cells", {1, 1});
  const QString error = FailureOf([&] { cell.Put("Formula", "=IF(B1,#DIV/0!,1)"); });
  EXPECT_EQ(error, "The formula \"=IF(B1,#DIV/0!,1)\" for Sheet1!A1 cannot be taken: at character 8, LibreOffice Calc "
                   "cannot save the error value #DIV/0! inside a formula in an .xls workbook");
  cell.Put("Formula", "=SUM((B1:B2,C1),#N/A)");  // an .xls keeps a union
  EXPECT_EQ(cell.Get("Formula").ToText(), "=SUM((B1:B2,C1),NA())");
  const OleVariant xlsx = AddSaved("kept.xlsx");
  const OleVariant other = xlsx.Get("Sheets").Get("Item", {1}).Get("Cells", {1, 1});
  EXPECT_TRUE(FailureOf([&] { other.Put("Formula", "=SUM((B1:B2,C1))"); })
                  .endsWith("at character 12, LibreOffice Calc cannot save a union (areas joined by \",\" in parentheses) "
                            "in an .xlsx workbook so that other programs read it; give the areas as arguments of their own"));
  other.Put("Formula", "=SUM(B1:B2,C1)+SUM(2:2)+ISNA(#N/A)");
  EXPECT_EQ(other.Get("Formula").ToText(), "=SUM(B1:B2,C1)+SUM(2:2)+ISNA(#N/A)");
  const OleVariant ods = AddSaved("kept.ods");
  const OleVariant third = ods.Get("Sheets").Get("Item", {1});
  third.Get("Cells", {1, 2}).Put("Value", "2");
  third.Get("Cells", {1, 1}).Put("Formula", "=SUM((B1,B1:C1))+IF(B1>5,#VALUE!,1)");
  EXPECT_EQ(third.Get("Cells", {1, 1}).Get("Value").ToDouble(), 5.0);
  ods.Call("Save");
  EXPECT_EQ(RecalculatedCells(dir.Path("kept.ods"))["Sheet1!A1"].toObject()["value"].toDouble(), 5.0);
}

TEST_F(CalcTest, ABadFormulaIsRefusedNamingTheCellAndThePlaceAndTheCellKeepsWhatItHeld) {
  app.Get("Workbooks").Get("Add");
  const OleVariant sheets = app.Get("ActiveWorkbook").Get("Sheets");
  const OleVariant mine = sheets.Call("Add", {OleVariant(), sheets.Get("Item", {1})});
  mine.Put("Name", "My Sheet");
  const OleVariant cell = mine.Get("Cells", {3, 3});
  cell.Put("Value", "5");
  const struct {
    const char* formula;
    const char* expected;
  } bad[] = {
      {"=SUM(A1,B1", "at character 11, the \"(\" at character 5 is not closed"},
      {"=1+foo(2)", "at character 4, there is no function FOO"},
      {"=Nope!A1*2", "at character 2, there is no sheet \"Nope\" in the workbook"},
      {"=Missing+1", "at character 2, there is no name \"Missing\" in the workbook"},
  };
  for (const auto& b : bad) {
    const QString message = FailureOf([&] { cell.Put("Formula", b.formula); });
    EXPECT_EQ(message, QStringLiteral("The formula \"%1\" for 'My Sheet'!C3 cannot be taken: %2").arg(b.formula, b.expected));
    EXPECT_EQ(cell.Get("Value").ToDouble(), 5.0);
    EXPECT_EQ(cell.Get("Formula").ToText(), "5");
  }
}

TEST_F(CalcTest, AValuePutIsDataEvenWhenItBeginsWithAnEqualsSignAndAFormulaPutOfAValueIsAValuePut) {
  app.Get("Workbooks").Get("Add");
  const OleVariant sheet = Sheet1();
  sheet.Get("Cells", {1, 1}).Put("Value", "=1+1");
  sheet.Get("Cells", {1, 2}).Put("Formula", "=ISTEXT(A1)");
  EXPECT_EQ(sheet.Get("Cells", {1, 1}).Get("Value").ToText(), "=1+1");
  EXPECT_EQ(sheet.Get("Cells", {1, 2}).Get("Value").ToDouble(), 1.0);
  sheet.Get("Cells", {2, 1}).Put("Formula", "007");
  sheet.Get("Cells", {2, 2}).Put("Formula", 2.5);
  sheet.Get("Cells", {2, 3}).Put("Formula", "Anna");
  sheet.Get("Cells", {2, 4}).Put("Formula", " =A1");  // not a formula: it does not begin with "="
  EXPECT_EQ(sheet.Get("Cells", {2, 1}).Get("Value").ToDouble(), 7.0);
  EXPECT_EQ(sheet.Get("Cells", {2, 1}).Get("Formula").ToText(), "7");
  EXPECT_EQ(sheet.Get("Cells", {2, 2}).Get("Formula").ToText(), "2.5");
  EXPECT_EQ(sheet.Get("Cells", {2, 3}).Get("Formula").ToText(), "Anna");
  EXPECT_EQ(sheet.Get("Cells", {2, 4}).Get("Value").ToText(), " =A1");
  EXPECT_EQ(sheet.Get("Cells", {9, 9}).Get("Formula").ToText(), "");
  // A formula over a value and back again.
  sheet.Get("Cells", {2, 1}).Put("Formula", "=B2*2");
  EXPECT_EQ(sheet.Get("Cells", {2, 1}).Get("Value").ToDouble(), 5.0);
  sheet.Get("Cells", {2, 1}).Put("Formula", "");
  EXPECT_TRUE(sheet.Get("Cells", {2, 1}).Get("Value").IsEmpty());
  // Sheet 1 protected by a save still takes formulas, as it takes rows.
  sheet.Call("Protect");
  sheet.Get("Cells", {3, 1}).Put("Formula", "=B2+1");
  EXPECT_EQ(sheet.Get("Cells", {3, 1}).Get("Value").ToDouble(), 3.5);
  EXPECT_TRUE(sheet.Get("ProtectionMode").ToBool());
}

TEST_F(CalcTest, AFormulaPutIsOneCallToTheOfficeAfterTheRowBeforeIt) {
  app.Get("Workbooks").Get("Add");
  const OleVariant sheets = app.Get("ActiveWorkbook").Get("Sheets");
  const OleVariant key = sheets.Call("Add", {OleVariant(), sheets.Get("Item", {1})});
  key.Put("Name", "Key");
  const OleVariant scores = sheets.Call("Add", {OleVariant(), key});
  scores.Get("Cells", {1, 1}).Put("Formula", "=SUM(Key!A1:A9)");  // the office's function names are known from here on
  WriteRow(Sheet1(), 1, {"1001", "4", "4"});
  const uint64_t data = LibreOfficeDataCalls();
  const uint64_t remote = LibreOfficeRemoteCalls();
  for (int r = 1; r <= 20; ++r) {
    scores.Get("Cells", {r, 2}).Put("Formula", QStringLiteral("=SUMPRODUCT((Sheet1!B%1:C%1=Key!$B$1:$C$1)*1)").arg(r));
  }
  EXPECT_EQ(LibreOfficeDataCalls() - data, 21u) << "the gathered row, then one call per formula";
  EXPECT_LE(LibreOfficeRemoteCalls() - remote, 3u + 40u + 8u) << "two calls a formula, and the sheets' names once";
  EXPECT_EQ(scores.Get("Cells", {1, 2}).Get("Value").ToDouble(), 0.0);
  key.Get("Cells", {1, 2}).Put("Value", "4");
  EXPECT_EQ(scores.Get("Cells", {1, 2}).Get("Value").ToDouble(), 1.0);
}
