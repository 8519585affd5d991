// The scoring formulas as LibreOffice Calc works them out: a class of 30
// sheets with known marks, in both bubble modes, laid out as at OK after the
// first rows and then row by row as sheets land, handed to a headless Calc,
// and every score, flag and statistic compared with the figures worked out
// here from the marks.

#include "ClassOfSheets.h"
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

class CalcSheet {
 public:
  explicit CalcSheet(QJsonObject values) : values_(std::move(values)) {}
  QJsonValue At(int row, int column) const { return values_.value(QStringLiteral("%1,%2").arg(row).arg(column)); }
  void ExpectNumber(int row, int column, double expected, const char* what) const {
    const QJsonValue value = At(row, column);
    ASSERT_TRUE(value.isDouble()) << what << " at " << row << "," << column << ": " << value.toVariant().toString().toStdString();
    EXPECT_NEAR(value.toDouble(), expected, 1e-9) << what << " at " << row << "," << column;
  }
  void ExpectFigure(int row, int column, const std::optional<double>& expected, const char* what) const {
    if (expected) return ExpectNumber(row, column, *expected, what);
    EXPECT_EQ(At(row, column).toString(QStringLiteral("(not empty text)")), QString()) << what << " at " << row << "," << column;
  }

 private:
  QJsonObject values_;
};

void CompareWithMarks(const Scored& scored, const QJsonObject& calc) {
  const ClassFigures figures = Figures(scored.marks);
  const bool multiple = scored.marks.multiple;
  const CalcSheet scores(calc.value("Scores").toObject());
  for (size_t s = 0; s < figures.students.size(); ++s) {
    const auto& student = figures.students[s];
    const int row = static_cast<int>(s) + 2;
    scores.ExpectNumber(row, 1, static_cast<double>(s + 1), "Row");
    EXPECT_EQ(scores.At(row, 2).toString().toStdString(), student.id.toStdString()) << "Student ID of sheet " << s + 1;
    scores.ExpectNumber(row, 3, student.score, "Score");
    scores.ExpectNumber(row, 4, student.percent, "Percent");
    scores.ExpectNumber(row, 5, student.correct, "Correct");
    scores.ExpectNumber(row, 6, student.blank, "Blank");
    if (multiple) {
      scores.ExpectNumber(row, 7, student.twice, "Double");
    } else {
      EXPECT_TRUE(scores.At(row, 7).isUndefined());
    }
  }
  const CalcSheet items(calc.value("Items").toObject());
  for (size_t q = 0; q < figures.items.size(); ++q) {
    const auto& item = figures.items[q];
    const int row = static_cast<int>(q) + 2;
    items.ExpectNumber(row, 1, static_cast<double>(q + 1), "Question");
    items.ExpectNumber(row, 2, scored.marks.questionColumns[q], "Column");
    items.ExpectNumber(row, 5, item.difficulty, "Difficulty");
    items.ExpectFigure(row, 6, item.discrimination, "Discrimination");
    items.ExpectFigure(row, 7, item.pointBiserial, "Point-biserial");
    EXPECT_EQ(items.At(row, 8).toString(), item.check ? "check key" : "") << "Check of question " << q + 1;
    items.ExpectNumber(row, 9, item.blank, "Blank");
    for (int b = 0; multiple && b < 6; ++b) items.ExpectNumber(row, 11 + b, item.bubbles[b], "bubble count");
    if (multiple) items.ExpectNumber(row, 10, item.twice, "Double");
  }
  const int value = multiple ? 19 : 12;
  items.ExpectNumber(1, value, static_cast<double>(figures.students.size()), "Students");
  items.ExpectNumber(2, value, figures.mean, "Mean");
  items.ExpectNumber(3, value, figures.deviation, "Standard deviation");
  items.ExpectNumber(4, value, figures.highest, "Highest");
  items.ExpectNumber(5, value, figures.lowest, "Lowest");
  items.ExpectFigure(6, value, figures.kr20, "KR-20");
  items.ExpectFigure(7, value, figures.sem, "Standard error of measurement");
}

// The look at each sheet, from the marks: blank and double questions, a repeated ID.
QString ExpectedLine(const ClassOfSheets& marks, int row) {
  QStringList blank, twice;
  for (size_t q = 0; q < marks.questionColumns.size(); ++q) {
    const QString& answer = marks.sheets[static_cast<size_t>(row - 1)][marks.questionColumns[q] - 1];
    if (answer == " ") blank << QString::number(q + 1);
    if (marks.multiple && answer.size() > 1) twice << QString::number(q + 1);
  }
  QStringList parts;
  if (!blank.isEmpty()) parts << "blank " + blank.join(", ");
  if (!twice.isEmpty()) parts << "double " + twice.join(", ");
  const auto idOf = [&](int r) {
    QString id;
    for (int column = marks.idFrom; column <= marks.idTo; ++column) {
      if (marks.sheets[static_cast<size_t>(r - 1)][column - 1] != " ") id += marks.sheets[static_cast<size_t>(r - 1)][column - 1];
    }
    return id;
  };
  for (int earlier = 1; earlier < row; ++earlier) {
    if (!idOf(row).isEmpty() && idOf(earlier) == idOf(row)) {
      parts << QStringLiteral("same ID as row %1").arg(earlier);
      break;
    }
  }
  return parts.isEmpty() ? QString() : QStringLiteral("Row %1: %2").arg(row).arg(parts.join("; "));
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
    CompareWithMarks(*scored, result);
  }
  // The wrongly keyed question is flagged once 20 sheets are in, not before.
  const int wrongRow = multiple.marks.wronglyKeyed + 1;
  EXPECT_EQ(CalcSheet(calc[0].value("Items").toObject()).At(wrongRow, 8).toString(), "check key");
  EXPECT_EQ(CalcSheet(calc[1].value("Items").toObject()).At(wrongRow, 8).toString(), "check key");
  EXPECT_EQ(CalcSheet(calc[2].value("Items").toObject()).At(wrongRow, 8).toString(), "");
  // Every line of the look at each sheet, for the rows that landed one by one.
  for (const Scored* scored : {&multiple, &single}) {
    for (int row = kLaidOutAtOk + 1; row <= 30; ++row) {
      EXPECT_EQ(scored->lines[row - 1].toStdString(), ExpectedLine(scored->marks, row).toStdString());
    }
  }
}

}  // namespace
