// What LibreOffice Calc and Gnumeric read from workbooks the server saved
// with formulas put as text and sheets added and renamed: a workbook laid
// out as the scoring lays it, and the corpus's workbooks made by Calc and by
// Gnumeric, changed and saved again. Each program converts the saved file
// to .xlsx (Calc after calculating everything anew); office_probe.py reads
// the sheets, names, formula texts and results with openpyxl.

#include "SpreadsheetTestSupport.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <map>

namespace {

using SheetTest::ScratchDir;

struct ServerCell {
  QString formula;
  OleVariant value;
};

struct SavedBook {
  QString path;
  QString original;  // the fixture it was made from, or empty
  std::vector<QString> sheets;
  std::map<QString, ServerCell> cells;  // by "Sheet!A1", every formula cell
};

// The formulas the scoring puts: statistics per question on an "Item
// Stats" sheet reading the class's columns, a score per student on
// "Scores", the key on "Key"; all sheets after Sheet1.
QString MakeScoringBook(const ScratchDir& dir) {
  const QString path = dir.Path(QStringLiteral("scored.xls"));
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Get("Add").Call("SaveAs", {path});
  const OleVariant book = excel.Get("ActiveWorkBook");
  const OleVariant sheets = book.Get("Worksheets");
  const auto add = [&](const char* name) {
    const OleVariant sheet = sheets.Call("Add", {OleVariant(), sheets.Get("Item", {sheets.Get("Count").ToInt()})});
    sheet.Put("Name", name);
    return sheet;
  };
  const OleVariant rows = sheets.Get("Item", {1});
  const char* const marks[][6] = {{"1001", "2", "3", "1", "4", " "}, {"1002", "2", "1", "1", "4", "x"},
                                  {"1003", "3", "13", " ", "4", " "}, {"1004", "2", "3", "1", "2", " "},
                                  {"1005", " ", "3", "4", "4", "y"},  {"1006", "1", "1", "1", "1", " "}};
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 6; ++c) rows.Get("Cells", {r + 1, c + 1}).Put("Value", marks[r][c]);
  }
  const OleVariant key = add("Key");
  for (int q = 0; q < 4; ++q) {
    key.Get("Cells", {1, q + 2}).Put("Value", QString::number((q * 3) % 4 + 1));
    key.Get("Cells", {2, q + 2}).Put("Value", QString::number(q + 1));
  }
  const OleVariant scores = add("Scores");
  for (int r = 1; r <= 6; ++r) {
    scores.Get("Cells", {r, 1}).Put("Formula", QStringLiteral("=Sheet1!A%1").arg(r));
    scores.Get("Cells", {r, 2}).Put("Formula", QStringLiteral("=SUMPRODUCT((Sheet1!B%1:E%1=Key!$B$1:$E$1)*Key!$B$2:$E$2)").arg(r));
    scores.Get("Cells", {r, 3}).Put("Formula", QStringLiteral("=SUMPRODUCT((LEN(Sheet1!B%1:E%1)>1)*1)").arg(r));
    scores.Get("Cells", {r, 4}).Put("Formula", QStringLiteral("=IF(COUNTIF(Sheet1!B%1:E%1,\" \")>0,\"blank\",\"\")").arg(r));
  }
  const OleVariant items = add("Item Stats");
  const char* const stats[] = {
      "=COUNTIF(Sheet1!%1$1:%1$6,Key!%1$1)/COUNT(Sheet1!$A$1:$A$6)",
      "=SUMPRODUCT((Sheet1!%1$1:%1$6=Key!%1$1)*(Scores!$B$1:$B$6>=LARGE(Scores!$B$1:$B$6,2)))",
      "=SUMPRODUCT(--ISNUMBER(FIND(\"3\",Sheet1!%1$1:%1$6)))",
      "=CORREL(--(Sheet1!%1$1:%1$6=Key!%1$1),Scores!$B$1:$B$6)",
      "=ROUND(STDEV(Scores!B:B),4)&\" / \"&ROUND(VARP(Scores!$B$1:$B$6),4)",
      "=IF(AND(ISNUMBER(Key!%1$1),Key!%1$2>0),CEILING(AVERAGE(Scores!$B$1:$B$6),0.5),FALSE)",
      "=SUMPRODUCT(--(SUBSTITUTE(Sheet1!%1$1:%1$6,\" \",\"\")=\"\"))+SUMSQ(Key!$B$2:$E$2)",
      "=INDEX(Sheet1!$A$1:$A$6,MATCH(MAX(Scores!$B$1:$B$6),Scores!$B$1:$B$6,0))",
      "=SUM(Sheet1:Key!B1)",
  };
  for (int q = 0; q < 4; ++q) {
    const QString column = QString(QChar('B' + q));
    for (int s = 0; s < 9; ++s) {
      items.Get("Cells", {s + 1, q + 2}).Put("Formula", QString::fromLatin1(stats[s]).replace(QStringLiteral("%1"), column));
    }
  }
  items.Get("Cells", {12, 1}).Put("Formula", "={1,2;3,4}");
  items.Get("Cells", {13, 1}).Put("Formula", "=SUM(Key!2:2)-SUM(Key!B:B)");
  items.Get("Cells", {14, 1}).Put("Formula", "=#N/A");
  items.Get("Cells", {15, 1}).Put("Formula", "='Item Stats'!B1*2");
  book.Call("Save");
  excel.Call("Quit");
  return path;
}

// A corpus workbook another program made, with a sheet put before the
// first and one after the last, a sheet renamed, and formulas put that
// read across them.
struct FixtureChange {
  const char* file;
  const char* renamed;  // this sheet gets " 2" after its name
  const char* read;     // what a formula on a new sheet reads of it
  const char* other;    // a sheet that gets a formula comparing with another sheet
  const char* compare;
};

QString ChangeFixture(const ScratchDir& dir, const FixtureChange& change) {
  const QString name = QString::fromLatin1(change.file);
  const QString renamed = QString::fromLatin1(change.renamed);
  const QString path = dir.Path(name);
  QFile::copy(QStringLiteral(CFW_FIXTURES_DIR "/formulas/") + name, path);
  QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Call("Open", {path, false});
  const OleVariant sheets = excel.Get("ActiveWorkBook").Get("Worksheets");
  const OleVariant front = sheets.Call("Add");
  front.Put("Name", "Front Page");
  const OleVariant back = sheets.Call("Add", {OleVariant(), sheets.Get("Item", {sheets.Get("Count").ToInt()})});
  sheets.Get("Item", {renamed}).Put("Name", renamed + QStringLiteral(" 2"));
  const QString other = QString::fromLatin1(change.other);
  front.Get("Cells", {1, 1}).Put("Formula", QStringLiteral("=SUM('%1 2'!%2)+COUNTA(%3!A:A)").arg(renamed, QLatin1String(change.read), other));
  back.Get("Cells", {1, 1}).Put("Formula", "='Front Page'!A1*2");
  sheets.Get("Item", {other}).Get("Cells", {40, 2}).Put("Formula", QString::fromLatin1(change.compare));
  excel.Call("Save");
  excel.Call("Quit");
  return path;
}

// Every formula cell as the server gives it, found by xlrd.
SavedBook ReadWithServer(const QString& path, const QString& original) {
  SavedBook book{path, original, {}, {}};
  const QJsonObject formulas = SheetTest::ProbeJson({QStringLiteral("formulas"), path}).object();
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Call("Open", {path, false});
  const OleVariant sheets = excel.Get("ActiveWorkBook").Get("Worksheets");
  for (int i = 1; i <= sheets.Get("Count").ToInt(); ++i) book.sheets.push_back(sheets.Get("Item", {i}).Get("Name").ToText());
  static const QRegularExpression address(QStringLiteral("^(.*)!([A-Z]+)(\\d+)$"));
  for (auto it = formulas.begin(); it != formulas.end(); ++it) {
    const QRegularExpressionMatch m = address.match(it.key());
    int col = 0;
    for (const QChar c : m.captured(2)) col = col * 26 + (c.unicode() - 'A' + 1);
    const OleVariant cell = sheets.Get("Item", {m.captured(1)}).Get("Cells", {m.captured(3).toInt(), col});
    book.cells[it.key()] = {cell.Get("Formula").ToText(), cell.Get("Value")};
  }
  excel.Call("Quit");
  return book;
}

// Calc and Gnumeric write some things their own way in .xlsx.
QString Comparable(QString text) {
  static const std::pair<QRegularExpression, QString> kSame[] = {
      {QRegularExpression(QStringLiteral("TRUE\\(\\)")), QStringLiteral("TRUE")},
      {QRegularExpression(QStringLiteral("FALSE\\(\\)")), QStringLiteral("FALSE")},
      {QRegularExpression(QStringLiteral("NA\\(\\)")), QStringLiteral("#N/A")},
      {QRegularExpression(QStringLiteral("\\$?A(\\$?\\d+):\\$?IV(\\$?\\d+)")), QStringLiteral("\\1:\\2")},
      {QRegularExpression(QStringLiteral("(\\$?[A-Z]{1,2})\\$?1:(\\$?[A-Z]{1,2})\\$?65536")), QStringLiteral("\\1:\\2")},
      {QRegularExpression(QStringLiteral("(\\$?[A-Z]{1,2}\\$?\\d+):\\1(?![0-9])")), QStringLiteral("\\1")},
      // Calc: a reference to deleted cells loses its sheet, a span of sheets
      // is quoted sheet by sheet.
      {QRegularExpression(QStringLiteral("(?:'[^']*'|[A-Za-z0-9_.]+)!#REF!")), QStringLiteral("#REF!")},
      {QRegularExpression(QStringLiteral("'([^']*)':([A-Za-z0-9_.]+)!")), QStringLiteral("'\\1:\\2'!")},
  };
  for (const auto& [pattern, replacement] : kSame) text.replace(pattern, replacement);
  return text;
}

bool SameValue(const OleVariant& server, const QJsonObject& other) {
  const QString type = other.value(QStringLiteral("t")).toString();
  const QJsonValue v = other.value(QStringLiteral("v"));
  switch (server.kind()) {
    case OleVariant::Kind::Double:
    case OleVariant::Kind::Integer:
      return type == QLatin1String("n") &&
             std::fabs(v.toDouble() - server.ToDouble()) <= 1e-9 * std::max(1.0, std::fabs(server.ToDouble()));
    case OleVariant::Kind::Boolean:  // a program may keep a boolean as 1 or 0
      return (type == QLatin1String("b") && v.toBool() == server.ToBool()) ||
             (type == QLatin1String("n") && v.toDouble() == (server.ToBool() ? 1 : 0));
    case OleVariant::Kind::Text:
      // Errors come back from the server as their names, texts as texts;
      // an empty text is an empty cell to openpyxl.
      return (type == QLatin1String("s") || type == QLatin1String("e")) ? v.toString() == server.ToText()
                                                                        : type == QLatin1String("empty") && server.ToText().isEmpty();
    default: return type == QLatin1String("empty");
  }
}

// Where the corpus says Calc computes otherwise than the application
// (tests/fixtures/formulas/overrides.json): "workbook.xls|Sheet!A1".
QStringList CalcDiffers() {
  QFile file(QStringLiteral(CFW_FIXTURES_DIR "/formulas/overrides.json"));
  file.open(QIODevice::ReadOnly);
  QStringList cells;
  for (const QJsonValue& entry : QJsonDocument::fromJson(file.readAll()).array()) {
    const QJsonObject o = entry.toObject();
    cells << o.value(QStringLiteral("workbook")).toString() + QLatin1Char('|') + o.value(QStringLiteral("sheet")).toString() +
                 QLatin1Char('!') + o.value(QStringLiteral("cell")).toString();
  }
  return cells;
}

class OtherReaders : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterSpreadsheetServer();
    dir_ = new ScratchDir;
    const QString scored = MakeScoringBook(*dir_);
    const QString fromCalc =
        ChangeFixture(*dir_, {"references.xls", "Summary", "B1", "Jan", "=SUMPRODUCT((A1:A5=Feb!A1:A5)*1)+SUM(Rate)"});
    const QString fromGnumeric =
        ChangeFixture(*dir_, {"gnumeric.xls", "Week1", "A1:B3", "Import", "=SUMPRODUCT((B2:K2=KeyRow)*1)"});
    books_ = new std::vector<SavedBook>{ReadWithServer(scored, QString()),
                                        ReadWithServer(fromCalc, QStringLiteral(CFW_FIXTURES_DIR "/formulas/references.xls")),
                                        ReadWithServer(fromGnumeric, QStringLiteral(CFW_FIXTURES_DIR "/formulas/gnumeric.xls"))};
    QStringList files;
    for (const SavedBook& book : *books_) files << book.path << (book.original.isEmpty() ? QStringList() : QStringList{book.original});
    for (const char* reader : {"calc", "gnumeric"}) {
      QProcess probe;
      probe.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{QStringLiteral(CFW_SOURCE_DIR "/tests/spreadsheet/office_probe.py"), QString::fromLatin1(reader),
                              dir_->Path(QStringLiteral("converted"))} + files);
      probe.waitForFinished(300000);
      const QByteArray out = probe.readAllStandardOutput();
      Reading& reading = (*readings_)[reader];
      if (probe.exitCode() == 3) {
        reading.missing = QString::fromUtf8(out).trimmed();
      } else if (probe.exitCode() != 0) {
        reading.missing = QStringLiteral("the probe failed: ") + QString::fromUtf8(probe.readAllStandardError());
      } else {
        reading.files = QJsonDocument::fromJson(out).object();
      }
    }
  }
  static void TearDownTestSuite() {
    delete books_;
    delete dir_;
  }

  struct Reading {
    QString missing;
    QJsonObject files;
  };
  // Every saved workbook as reader found it: its sheets and names as the
  // server has them (names as in the fixture, the renamed sheet renamed),
  // every formula, and each result compared by compare.
  template <typename Compare>
  void Check(const char* reader, Compare compare, const QStringList& skip = {}) {
    const Reading& reading = (*readings_)[reader];
    if (!reading.missing.isEmpty()) GTEST_SKIP() << reading.missing.toStdString();
    for (const SavedBook& book : *books_) {
      SCOPED_TRACE(book.path.toStdString());
      const QJsonObject read = reading.files.value(book.path).toObject();
      QStringList sheets;
      for (const QJsonValue& name : read.value(QStringLiteral("sheets")).toArray()) sheets << name.toString();
      EXPECT_EQ(sheets, QStringList(book.sheets.begin(), book.sheets.end()));
      if (!book.original.isEmpty()) {
        const QStringList before = reading.files.value(book.original).toObject().value(QStringLiteral("names")).toObject().keys();
        EXPECT_EQ(read.value(QStringLiteral("names")).toObject().keys(), before);
      }
      // (Calc also keeps boolean and error cells as formulas: there may be more.)
      const QJsonObject cells = read.value(QStringLiteral("cells")).toObject();
      for (const auto& [name, cell] : book.cells) {
        if (skip.contains(QFileInfo(book.path).fileName() + QLatin1Char('|') + name)) continue;
        const QJsonObject other = cells.value(name).toObject();
        if (other.isEmpty()) {
          ADD_FAILURE() << name.toStdString() << " " << cell.formula.toStdString() << ": not a formula in " << reader;
          continue;
        }
        compare(name, cell, other);
      }
    }
  }

  static ScratchDir* dir_;
  static std::vector<SavedBook>* books_;
  static std::map<std::string, Reading>* readings_;
};

ScratchDir* OtherReaders::dir_ = nullptr;
std::vector<SavedBook>* OtherReaders::books_ = nullptr;
std::map<std::string, OtherReaders::Reading>* OtherReaders::readings_ = new std::map<std::string, OtherReaders::Reading>;

// Calc's own recalculation of the saved file gives what the server showed,
// and the formulas it writes to .xlsx are the server's texts; but where the
// corpus already knows Calc to differ from the application.
TEST_F(OtherReaders, CalcFindsTheSameSheetsNamesFormulasAndResults) {
  Check("calc", [](const QString& name, const ServerCell& cell, const QJsonObject& other) {
    EXPECT_EQ(Comparable(other.value(QStringLiteral("formula")).toString()).toStdString(), Comparable(cell.formula).toStdString())
        << name.toStdString();
    EXPECT_TRUE(SameValue(cell.value, other.value(QStringLiteral("value")).toObject()))
        << name.toStdString() << " " << cell.formula.toStdString() << ": the server shows " << cell.value.ToText().toStdString()
        << ", Calc calculates " << QJsonDocument(other.value(QStringLiteral("value")).toObject()).toJson(QJsonDocument::Compact).toStdString();
  }, CalcDiffers());
}

// Gnumeric finds every formula with the result the server stored; its own
// recalculation agrees where it evaluates as the application does (it
// takes no array argument element by element, and writes some functions
// under newer names).
TEST_F(OtherReaders, GnumericFindsTheSameSheetsNamesFormulasAndResults) {
  static const QRegularExpression itsOwnWay(
      QStringLiteral("SUMPRODUCT|CORREL|STDEV|VAR|CEILING|FLOOR|\\{"));
  Check("gnumeric", [](const QString& name, const ServerCell& cell, const QJsonObject& other) {
    EXPECT_TRUE(SameValue(cell.value, other.value(QStringLiteral("stored")).toObject()))
        << name.toStdString() << " " << cell.formula.toStdString() << ": stored " << cell.value.ToText().toStdString();
    if (itsOwnWay.match(cell.formula).hasMatch()) return;
    EXPECT_TRUE(SameValue(cell.value, other.value(QStringLiteral("value")).toObject()))
        << name.toStdString() << " " << cell.formula.toStdString() << ": the server shows " << cell.value.ToText().toStdString()
        << ", Gnumeric calculates " << QJsonDocument(other.value(QStringLiteral("value")).toObject()).toJson(QJsonDocument::Compact).toStdString();
  });
}

}  // namespace
