#pragma once
// The spreadsheet application's English formula syntax ("=SUM(Key!B2:E2,1)"),
// read into pieces with their places and checked for shape: every operand
// where one belongs, parentheses that close, texts that end. What a piece
// means in a workbook (whether a sheet, a name or a function exists) is for
// the caller. The pieces carry what is needed to write the formula in
// another grammar: a comma is known as an argument separator or a union, a
// blank between two references as an intersection.

#include <QString>

#include <vector>

struct FormulaPiece {
  enum class Kind {
    Number,
    Text,          // "..." as written, quotes and doubled quotes included
    Boolean,       // TRUE or FALSE, not followed by "("
    Error,         // #N/A and the other error values, in capitals
    Reference,     // a cell, an area, whole columns or rows, on sheets or not
    Name,          // a defined name
    Function,      // its name; the "(" follows as a piece of its own
    Open,
    Close,
    Separator,     // "," between a function's arguments
    Union,         // "," inside plain parentheses
    Intersection,  // blanks between two references
    Operator,      // + - * / ^ & = <> < > <= >= % and ":" between references
    Blank,         // blanks that mean nothing
  };
  Kind kind = Kind::Blank;
  int offset = 0;  // of its first character in the formula text, from 0
  QString text;    // as written
  // A reference's sheets (unquoted; lastSheet set only for a span of sheets
  // "Jan:Mar!A1") and its address as written after the "!".
  QString firstSheet;
  QString lastSheet;
  QString address;
};

struct FormulaReading {
  std::vector<FormulaPiece> pieces;  // the "=" not among them
  QString fault;                     // empty when the formula reads
  int faultOffset = -1;              // where it fails, from 0
};

// Reads formula, which begins with "=".
FormulaReading ReadFormula(const QString& formula);

// How a sheet name is written in a formula: as it is when it reads as a
// plain name, otherwise between apostrophes with its own doubled.
QString SheetNameInFormula(const QString& name);
// Column letters of a column counted from 0 (0 is "A").
QString ColumnLetters(int column);
