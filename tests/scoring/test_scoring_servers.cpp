// A class of 30 with known marks scored through each server behind the
// automation calls, in both bubble modes: the first rows written before the
// key is laid out (as at OK), the rest scored as they land, every figure
// compared with what the marks give; then saved, opened again in the same
// server (scoring goes on) and in LibreOffice (the same figures).

#include "ClassComparison.h"
#include "RecordingResponder.h"
#include "TempDir.h"
#include "app/SheetRowWriter.h"
#include "automation/ComObj.h"
#include "libreoffice/LibreOfficeServer.h"
#include "scoring/ScoringBook.h"
#include "scoring/SheetLook.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

constexpr int kStudents = 30;
constexpr int kLaidOutAtOk = 5;

struct Server {
  const char* progId;
  const char* extension;
};

class ScoringThroughServers : public ::testing::TestWithParam<std::tuple<Server, bool>> {
 public:
  static void SetUpTestSuite() {
    // The office's profile and the journals live in the build tree, never the user's own.
    qputenv("XDG_STATE_HOME", QByteArray(CFW_BINARY_DIR "/test-tmp/scoring-state"));
    QDir().mkpath(QStringLiteral(CFW_BINARY_DIR "/test-tmp/scoring-state"));
    RegisterSpreadsheetServer();
    RegisterLibreOfficeServer();
  }

 protected:
  void TearDown() override {
    for (OleVariant& app : apps_) {
      try {
        app.Call("Quit");
      } catch (const std::exception&) {
      }
    }
  }
  OleVariant NewApp() { return apps_.emplace_back(CreateOleObject(std::get<0>(GetParam()).progId)); }

  TempDir dir;
  RecordingResponder ui;

 private:
  std::vector<OleVariant> apps_;
};

SheetAt On(const OleVariant& sheets, const QString& name) {
  const OleVariant sheet = sheets.Get("Item", {name});
  return [sheet](int row, int column) { return sheet.Get("Cells", {row, column}).Get("Value"); };
}

bool TakesFormulas(const OleVariant& sheets) {
  try {
    sheets.Get("Item", {1}).Get("Cells", {1, 1}).Get("Formula");
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// What LibreOffice makes of the saved file, recalculated by itself.
QJsonObject OpenedInCalc(const TempDir& dir, const QString& path) {
  QProcess python;
  python.start("/usr/bin/python3", {CFW_SOURCE_DIR "/tests/scoring/recalc_in_calc.py", dir.Path(), path, dir.Path("calc.json")});
  EXPECT_TRUE(python.waitForFinished(240000));
  EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  return QJsonDocument::fromJson(dir.Read("calc.json")).object();
}

SheetAt FromCalc(const QJsonObject& calc, const QString& sheet) {
  const QJsonObject values = calc.value(sheet).toObject();
  return [values](int row, int column) {
    const QJsonValue value = values.value(QStringLiteral("%1,%2").arg(row).arg(column));
    return value.isDouble() ? OleVariant(value.toDouble()) : value.isString() ? OleVariant(value.toString()) : OleVariant();
  };
}

TEST_P(ScoringThroughServers, AClassOfThirtyMatchesItsMarks) {
  const auto [server, multiple] = GetParam();
  const ClassOfSheets marks = MakeClass(multiple, kStudents);
  const AnswerKey key(marks.key, marks.idFrom, marks.idTo, multiple ? MarkMode::Multiple : MarkMode::Single);
  OleVariant app = NewApp();
  const OleVariant book = app.Get("Workbooks").Get("Add");
  const QString path = dir.Path(QStringLiteral("class.%1").arg(server.extension));
  book.Call("SaveAs", {path});
  OleVariant sheets = app.Get("ActiveWorkBook").Get("Sheets");
  if (!TakesFormulas(sheets)) GTEST_SKIP() << server.progId << " takes no formulas yet";
  for (int row = 1; row <= kLaidOutAtOk; ++row) WriteSheetRow(sheets, row, marks.sheets[row - 1]);
  ScoringBook scoring = ScoringBook::LayOut(sheets, key, RowsHeld(sheets));
  SheetLook look(key);
  look.RememberIds(scoring.ReadStudentIds(kLaidOutAtOk));
  for (int row = kLaidOutAtOk + 1; row <= kStudents; ++row) {
    WriteSheetRow(sheets, row, marks.sheets[row - 1]);
    scoring.RowWritten(row);
    EXPECT_EQ(look.Look(row, marks.sheets[row - 1]).toStdString(), ExpectedLine(marks, row).toStdString());
    if (row == 19) {
      // One sheet short of 20: the wrongly keyed question is not flagged yet.
      EXPECT_EQ(On(sheets, kItemsSheet)(marks.wronglyKeyed + 1, 8).ToText(), "");
    }
  }
  EXPECT_EQ(On(sheets, kItemsSheet)(marks.wronglyKeyed + 1, 8).ToText(), "check key");
  CompareWithMarks(marks, On(sheets, kScoresSheet), On(sheets, kItemsSheet));
  // Sheet 1 holds exactly the rows, as without scoring.
  EXPECT_EQ(sheets.Get("Item", {1}).Get("Cells", {kStudents, 66}).Get("Value").ToText(), " ");
  EXPECT_TRUE(sheets.Get("Item", {1}).Get("Cells", {kStudents + 1, 1}).Get("Value").ToText().isEmpty());

  book.Call("Save");
  app.Call("Quit");
  app = NewApp();
  app.Get("Workbooks").Call("Open", {path, false});
  sheets = app.Get("ActiveWorkBook").Get("Sheets");
  std::optional<ScoringBook> again = ScoringBook::Reopen(sheets);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Key().Questions().size(), key.Questions().size());
  CompareWithMarks(marks, On(sheets, kScoresSheet), On(sheets, kItemsSheet));
  // Scoring goes on in the reopened workbook.
  WriteSheetRow(sheets, kStudents + 1, marks.sheets[0]);
  again->RowWritten(kStudents + 1);
  EXPECT_EQ(On(sheets, kItemsSheet)(1, multiple ? 19 : 12).ToDouble(), kStudents + 1);
  // The extra row is not kept: the file stays as saved.
  for (int i = 0; i < 5; ++i) ui.answers.push_back(Answer::DontSave);
  app.Call("Quit");

  // LibreOffice reads the saved file (before the extra row) with the same figures.
  const QJsonObject calc = OpenedInCalc(dir, path);
  CompareWithMarks(marks, FromCalc(calc, kScoresSheet), FromCalc(calc, kItemsSheet));
}

INSTANTIATE_TEST_SUITE_P(BothServersBothModes, ScoringThroughServers,
                         ::testing::Combine(::testing::Values(Server{"Excel.Application", "xls"}, Server{"LibreOffice.Calc", "xlsx"}),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).extension) + (std::get<1>(info.param) ? "_multiple" : "_single");
                         });

}  // namespace
