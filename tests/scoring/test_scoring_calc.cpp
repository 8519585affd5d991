// The scoring formulas as LibreOffice Calc works them out: a class of 30
// sheets with known marks, in both bubble modes, laid out as at OK after the
// first rows and then row by row as sheets land, handed to a headless Calc,
// and every score, flag and statistic compared with the figures worked out
// here from the marks.

#include "ClassComparison.h"
#include "MemoryWorkbook.h"
#include "TempDir.h"
#include "scoring/ScoringBook.h"
#include "scoring/SheetLook.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

constexpr int kLaidOutAtOk = 5;

struct Scored {
  ClassOfSheets marks;
  std::shared_ptr<MemoryWorkbook> book;
  QStringList lines;  // the look at each sheet, by row (index 0 = row 1)
};

Scored ScoreClass(bool multiple, int students) {
  Scored s{MakeClass(multiple, 30), std::make_shared<MemoryWorkbook>(), {}};
  s.marks.sheets.resize(static_cast<size_t>(students));
  const AnswerKey key(s.marks.key, s.marks.idFrom, s.marks.idTo, multiple ? MarkMode::Multiple : MarkMode::Single);
  const auto enter = [&](int row) {
    for (int column = 1; column <= 66; ++column) s.book->Enter(row, column, s.marks.sheets[static_cast<size_t>(row - 1)][column - 1]);
  };
  for (int row = 1; row <= kLaidOutAtOk; ++row) enter(row);
  const OleVariant sheets = s.book->Sheets();
  ScoringBook scoring = ScoringBook::LayOut(sheets, key, RowsHeld(sheets));
  SheetLook look(key);
  look.RememberIds(scoring.ReadStudentIds(kLaidOutAtOk));
  for (int row = 1; row <= kLaidOutAtOk; ++row) s.lines << QString();
  for (int row = kLaidOutAtOk + 1; row <= students; ++row) {
    enter(row);
    scoring.RowWritten(row);
    s.lines << look.Look(row, s.marks.sheets[static_cast<size_t>(row - 1)]);
  }
  return s;
}

QJsonObject CellsOf(const MemoryWorkbook& book) {
  QJsonArray sheets;
  for (const auto& sheet : book.sheets) {
    QJsonArray cells;
    for (const auto& [position, cell] : sheet->cells) {
      const bool number = cell.formula.isEmpty() &&
                          (cell.value.kind() == OleVariant::Kind::Double || cell.value.kind() == OleVariant::Kind::Integer);
      const QJsonValue value = !cell.formula.isEmpty() ? QJsonValue(cell.formula)
                               : number               ? QJsonValue(cell.value.ToDouble())
                                                      : QJsonValue(cell.value.ToText());
      cells.append(QJsonArray{position.first, position.second, cell.formula.isEmpty() ? (number ? "n" : "s") : "f", value});
    }
    sheets.append(QJsonObject{{"name", sheet->name}, {"cells", cells}});
  }
  return QJsonObject{{"sheets", sheets}};
}

// Runs Calc once over several workbooks; returns each one's results.
std::vector<QJsonObject> RecalculateInCalc(const std::vector<const MemoryWorkbook*>& books) {
  TempDir dir;
  QStringList args{CFW_SOURCE_DIR "/tests/scoring/recalc_in_calc.py", dir.Path()};
  for (size_t i = 0; i < books.size(); ++i) {
    const QString in = dir.Path(QStringLiteral("cells%1.json").arg(i));
    dir.Write(QStringLiteral("cells%1.json").arg(i), QJsonDocument(CellsOf(*books[i])).toJson());
    args << in << dir.Path(QStringLiteral("result%1.json").arg(i));
  }
  QProcess python;
  python.start(QStringLiteral("/usr/bin/python3"), args);
  EXPECT_TRUE(python.waitForFinished(240000));
  EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  std::vector<QJsonObject> results;
  for (size_t i = 0; i < books.size(); ++i) {
    results.push_back(QJsonDocument::fromJson(dir.Read(QStringLiteral("result%1.json").arg(i))).object());
  }
  return results;
}

// What Calc worked out, as the calls would give it.
SheetAt FromCalc(const QJsonObject& calc, const QString& sheet) {
  const QJsonObject values = calc.value(sheet).toObject();
  return [values](int row, int column) {
    const QJsonValue value = values.value(QStringLiteral("%1,%2").arg(row).arg(column));
    if (value.isDouble()) return OleVariant(value.toDouble());
    if (value.isString()) return OleVariant(value.toString());
    return OleVariant();
  };
}

TEST(ScoringInCalc, ClassOfThirtyInBothModesMatchesTheMarks) {
  const Scored multiple = ScoreClass(true, 30);
  const Scored single = ScoreClass(false, 30);
  const Scored multiple19 = ScoreClass(true, 19);
  const Scored single19 = ScoreClass(false, 19);
  const std::vector<QJsonObject> calc =
      RecalculateInCalc({multiple.book.get(), single.book.get(), multiple19.book.get(), single19.book.get()});
  ASSERT_EQ(calc.size(), 4u);
  for (const auto& [scored, result] : {std::pair{&multiple, calc[0]}, {&single, calc[1]}, {&multiple19, calc[2]}, {&single19, calc[3]}}) {
    SCOPED_TRACE(scored->marks.multiple ? "multiple-bubble mode" : "single-bubble mode");
    SCOPED_TRACE(scored->marks.sheets.size());
    CompareWithMarks(scored->marks, FromCalc(result, "Scores"), FromCalc(result, "Items"));
  }
  // The wrongly keyed question is flagged once 20 sheets are in, not before.
  const int wrongRow = multiple.marks.wronglyKeyed + 1;
  EXPECT_EQ(FromCalc(calc[0], "Items")(wrongRow, 8).ToText(), "check key");
  EXPECT_EQ(FromCalc(calc[1], "Items")(wrongRow, 8).ToText(), "check key");
  EXPECT_EQ(FromCalc(calc[2], "Items")(wrongRow, 8).ToText(), "");
  // Every line of the look at each sheet, for the rows that landed one by one.
  for (const Scored* scored : {&multiple, &single}) {
    for (int row = kLaidOutAtOk + 1; row <= 30; ++row) {
      EXPECT_EQ(scored->lines[row - 1].toStdString(), ExpectedLine(scored->marks, row).toStdString());
    }
  }
}

}  // namespace
