#pragma once
// Formulas between the application's English syntax, which the program
// writes for every server alike, and the grammar LibreOffice Calc takes and
// gives over UNO: "=SUM(Key!B2:E2,1)" there is "=SUM($'Key'.B2:E2;1)" here,
// with "~" for a union, "!" for an intersection and TRUE() for TRUE. Error
// values inside a formula pass only as text: Calc's token form loses them.
// What the workbook holds (its sheets, its names, Calc's functions) comes
// from the caller, so this needs no office.

#include "libreoffice/WorkbookFormat.h"

#include <QHash>
#include <QString>

#include <functional>
#include <optional>

// Calc's functions by their names in the application and in Calc's grammar
// (they differ for a few: PDURATION is DURATION there, add-ins have long names).
class CalcFunctionNames {
 public:
  CalcFunctionNames();
  void Add(const QString& application, const QString& calc);
  // No office's list has been added yet.
  bool Empty() const { return !listed_; }
  // Calc's name of a function named in the application's way; nothing when Calc has none.
  std::optional<QString> CalcName(const QString& application) const;
  // The application's name of a function Calc names so; the name itself when not known.
  QString ApplicationName(const QString& calc) const;

 private:
  QHash<QString, QString> toCalc_;         // by the application's name in capitals
  QHash<QString, QString> toApplication_;  // by Calc's name in capitals
  bool listed_ = false;
};

// What a formula may refer to in the workbook it goes into.
struct CalcFormulaTargets {
  // A sheet's name as the workbook spells it, found without regard to case.
  std::function<std::optional<QString>(const QString&)> sheet;
  // Whether a name is defined, without regard to case.
  std::function<bool(const QString&)> name;
  const CalcFunctionNames* functions = nullptr;
  // The format the workbook is saved in. Calc cannot write everything into
  // every format and would save a changed formula without a word: in an .xls
  // a whole row becomes #REF! and an error value turns the formula into
  // #N/A; in an .xlsx a union is written in Calc's own form. So for an .xls
  // a whole row is written as the row's 256 cells (all an .xls row has) and
  // #N/A as NA(), the same in every program; the rest is refused.
  std::optional<CalcFormat> format;
};

// The formula (which begins with "=") in Calc's grammar. Throws EOleError
// naming the cell, the formula and the place where it fails: a formula that
// does not read, a function, sheet or name the workbook does not have, or
// what its format cannot keep.
QString ToCalcGrammar(const QString& formula, const QString& cell, const CalcFormulaTargets& targets);
// A formula as Calc gives it, in the application's syntax.
QString FromCalcGrammar(const QString& formula, const CalcFunctionNames& functions);
// The message for a formula refused: the cell, the formula, where and why.
QString FormulaRefusal(const QString& formula, const QString& cell, int offset, const QString& reason);
