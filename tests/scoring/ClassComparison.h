#pragma once
// Compares a scored class, as a spreadsheet worked it out, with the figures
// worked out from the marks (ClassOfSheets.h): every Scores row, every
// question's row on Items and the summary; and the look at each sheet.

#include "ClassOfSheets.h"
#include "automation/OleVariant.h"

#include <gtest/gtest.h>

#include <functional>

// A cell's value on one sheet, as the automation calls give it.
using SheetAt = std::function<OleVariant(int row, int column)>;

inline void ExpectNumber(const SheetAt& sheet, int row, int column, double expected, const char* what) {
  const OleVariant value = sheet(row, column);
  const bool number = value.kind() == OleVariant::Kind::Double || value.kind() == OleVariant::Kind::Integer;
  ASSERT_TRUE(number) << what << " at " << row << "," << column << ": \"" << value.ToText().toStdString() << "\"";
  EXPECT_NEAR(value.ToDouble(), expected, 1e-9) << what << " at " << row << "," << column;
}

// A figure, or the empty cell (no error value) when there are too few sheets for it.
inline void ExpectFigure(const SheetAt& sheet, int row, int column, const std::optional<double>& expected, const char* what) {
  if (expected) return ExpectNumber(sheet, row, column, *expected, what);
  const OleVariant value = sheet(row, column);
  EXPECT_TRUE(value.kind() == OleVariant::Kind::Empty || (value.kind() == OleVariant::Kind::Text && value.ToText().isEmpty()))
      << what << " at " << row << "," << column << ": \"" << value.ToText().toStdString() << "\"";
}

inline void CompareWithMarks(const ClassOfSheets& marks, const SheetAt& scores, const SheetAt& items) {
  const ClassFigures figures = Figures(marks);
  const bool multiple = marks.multiple;
  for (size_t s = 0; s < figures.students.size(); ++s) {
    const auto& student = figures.students[s];
    const int row = static_cast<int>(s) + 2;
    ExpectNumber(scores, row, 1, static_cast<double>(s + 1), "Row");
    EXPECT_EQ(scores(row, 2).ToText().toStdString(), student.id.toStdString()) << "Student ID of sheet " << s + 1;
    ExpectNumber(scores, row, 3, student.score, "Score");
    ExpectNumber(scores, row, 4, student.percent, "Percent");
    ExpectNumber(scores, row, 5, student.correct, "Correct");
    ExpectNumber(scores, row, 6, student.blank, "Blank");
    if (multiple) {
      ExpectNumber(scores, row, 7, student.twice, "Double");
    } else {
      EXPECT_TRUE(scores(row, 7).IsEmpty());
    }
  }
  for (size_t q = 0; q < figures.items.size(); ++q) {
    const auto& item = figures.items[q];
    const int row = static_cast<int>(q) + 2;
    ExpectNumber(items, row, 1, static_cast<double>(q + 1), "Question");
    ExpectNumber(items, row, 2, marks.questionColumns[q], "Column");
    ExpectNumber(items, row, 5, item.difficulty, "Difficulty");
    ExpectFigure(items, row, 6, item.discrimination, "Discrimination");
    ExpectFigure(items, row, 7, item.pointBiserial, "Point-biserial");
    EXPECT_EQ(items(row, 8).ToText(), item.check ? "check key" : "") << "Check of question " << q + 1;
    ExpectNumber(items, row, 9, item.blank, "Blank");
    for (int b = 0; multiple && b < 6; ++b) ExpectNumber(items, row, 11 + b, item.bubbles[b], "bubble count");
    if (multiple) ExpectNumber(items, row, 10, item.twice, "Double");
  }
  const int value = multiple ? 19 : 12;
  ExpectNumber(items, 1, value, static_cast<double>(figures.students.size()), "Students");
  ExpectNumber(items, 2, value, figures.mean, "Mean");
  ExpectNumber(items, 3, value, figures.deviation, "Standard deviation");
  ExpectNumber(items, 4, value, figures.highest, "Highest");
  ExpectNumber(items, 5, value, figures.lowest, "Lowest");
  ExpectFigure(items, 6, value, figures.kr20, "KR-20");
  ExpectFigure(items, 7, value, figures.sem, "Standard error of measurement");
}

// The look at each sheet, from the marks: blank and double questions, a repeated ID.
inline QString ExpectedLine(const ClassOfSheets& marks, int row) {
  const auto sheet = [&](int r) -> const QStringList& { return marks.sheets[static_cast<size_t>(r - 1)]; };
  QStringList blank, twice;
  for (size_t q = 0; q < marks.questionColumns.size(); ++q) {
    const QString& answer = sheet(row)[marks.questionColumns[q] - 1];
    if (answer == " ") blank << QString::number(q + 1);
    if (marks.multiple && answer.size() > 1) twice << QString::number(q + 1);
  }
  QStringList parts;
  if (!blank.isEmpty()) parts << "blank " + blank.join(", ");
  if (!twice.isEmpty()) parts << "double " + twice.join(", ");
  const auto idOf = [&](int r) {
    QString id;
    for (int column = marks.idFrom; column <= marks.idTo; ++column) {
      if (sheet(r)[column - 1] != " ") id += sheet(r)[column - 1];
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
