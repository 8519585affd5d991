#pragma once
// The formula corpus (tests/fixtures/formulas) as LibreOffice Calc should
// give it: every formula cell, the change sets, and each formula's result in
// each state, Calc's own where overrides.json says Calc differs from the
// spreadsheet application (with the application's kept beside it).

#include "automation/OleVariant.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

namespace CalcCorpus {

struct Value {
  enum class Type { Empty, Number, Text, Boolean, Error };
  Type type = Type::Empty;
  double number = 0;
  QString text;  // a text, or an error's name ("#N/A", "Err:502")
};

struct Cell {
  QString sheet;
  int row = 0;  // from 1, as Cells takes them
  int col = 0;
  QString name;  // "Sheet!B3"
};

struct Expected {
  Value calc;
  Value application;
};

struct State {
  QString name;
  std::vector<std::pair<Cell, Value>> puts;
  std::map<QString, Expected> results;  // by cell name
};

struct Book {
  QString name;  // "scoring"
  QString file;  // the .xls beside its JSON
  std::vector<std::pair<Cell, QString>> formulas;
  std::vector<State> states;
};

QStringList BookNames();
Book Load(const QString& name);
// The variant a change set's value is put as.
OleVariant PutValue(const Value& value);
// How Calc's Value get differs from expected (booleans come as 1 and 0,
// errors as their names), or nothing.
std::optional<QString> Mismatch(const Value& expected, const OleVariant& got);

}  // namespace CalcCorpus
