#pragma once
// The formula corpus made by tests/fixtures/formulas/make-oracle.py: for each
// workbook the formula cells, the change sets to apply through the
// automation calls, and the expected result of every formula in each state
// (Calc's results, with the spreadsheet application's value where the two
// differ, from overrides.json).

#include "automation/OleVariant.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Corpus {

QString Dir();

// A cell's value in the corpus's terms.
struct Value {
  enum class Type { Empty, Number, Text, Boolean, Error };
  Type type = Type::Empty;
  double number = 0;
  bool boolean = false;
  QString text;  // Text; the error's name ("#N/A") for Error

  static Value Number(double v) { return {Type::Number, v, false, {}}; }
  static Value Text(const QString& v) { return {Type::Text, 0, false, v}; }
  static Value Boolean(bool v) { return {Type::Boolean, 0, v, {}}; }
  static Value Error(const QString& name) { return {Type::Error, 0, false, name}; }
};

// How a formula cell's result comes back through Value get; the one place
// that knows, so that a change in how the server hands out a type is made
// here only. Today's server gives:
//   empty cell            -> Empty variant
//   number                -> Double (Integer is taken as well)
//   text, "" included     -> Text
//   boolean               -> Boolean
//   error                 -> Text holding the error's name: "#NULL!", "#DIV/0!", "#VALUE!",
//                            "#REF!", "#NAME?", "#NUM!" or "#N/A"
// so a text equal to one of those seven names reads as that error (the
// corpus holds no such text).
Value ReadValue(const OleVariant& got);

// The variant a change set's value is put as: text as Text, a number as
// Double, a boolean as Boolean, empty as the Empty variant.
OleVariant PutValue(const Value& value);

// A description of how got differs from expected, or nothing when they
// agree: numbers within a relative 1e-9, everything else exactly.
std::optional<QString> Mismatch(const Value& expected, const Value& got);
QString Describe(const Value& value);
// A value as the corpus files write it: {"t": "n", "v": 2.0}; throws
// std::runtime_error for anything else.
Value ParseValue(const QJsonObject& json);

struct Cell {
  QString sheet;
  int row = 0;  // 1-based, as Cells(row, col) takes them
  int col = 0;
  QString Name() const;  // "Sheet!B3"
};

struct Formula {
  Cell cell;
  QString text;
};

struct Put {
  Cell cell;
  Value value;
};

struct Expected {
  Value value;
  QString note;  // why the spreadsheet application's value is taken instead of Calc's
};

struct State {
  QString name;
  std::vector<Put> puts;
  std::map<QString, Expected> results;  // by Cell::Name()
};

struct Book {
  QString file;  // "scoring.xls"
  std::vector<Formula> formulas;
  std::vector<State> states;  // [0]: as saved; then each change set, applied one after the other
};

// The workbooks of the corpus by name ("scoring"), from the JSON files.
QStringList BookNames();
// Reads <name>.json with overrides.json applied; throws std::runtime_error
// when the files do not hold what the maker writes.
Book Load(const QString& name);

// Every formula of the book compared with the state's expected results
// through Value get on the active workbook; one line per difference, naming
// workbook, sheet, cell, formula, expected and got.
std::vector<std::string> Compare(const OleVariant& excel, const Book& book, const State& state);
// The state's change set, put through Value put one cell after the other.
void Apply(const OleVariant& excel, const State& state);
// The cell of the active workbook, through Worksheets(name).Cells(row, col).
OleVariant CellAt(const OleVariant& excel, const Cell& cell);

}  // namespace Corpus
