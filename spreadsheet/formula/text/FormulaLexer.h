#pragma once
// Formula text in the spreadsheet application's English syntax cut into
// its pieces: numbers, texts, error constants, references (with their sheet
// prefix), names, function names, operators and the blanks that may stand
// for the intersection operator.

#include <QString>
#include <QStringView>

#include <cstdint>
#include <stdexcept>
#include <vector>

// A place in the text that cannot be read: position counts from 1 over
// the whole text (the "=" is character 1).
struct FormulaTextError {
  int position = 0;
  QString reason;
};

// A reference as written: A1, $A$1:B2, A:A, 1:3, with or without a sheet
// prefix (Sheet1!, 'My Sheet'!, Jan:Mar!).
struct ReferenceText {
  enum class Kind : uint8_t { Cell, Area, Columns, Rows, Deleted };  // Deleted: Sheet1!#REF!
  Kind kind = Kind::Cell;
  bool hasSheet = false;
  QString sheetFirst;
  QString sheetLast;  // empty: one sheet
  uint32_t row[2] = {0, 0};
  uint32_t col[2] = {0, 0};
  bool rowAbsolute[2] = {false, false};
  bool colAbsolute[2] = {false, false};
};

struct LexToken {
  enum class Kind : uint8_t {
    Number, Text, Error, Reference, Name, Function, Operator,
    Colon, Comma, Semicolon, Open, Close, OpenBrace, CloseBrace, Blank, End,
  };
  Kind kind = Kind::End;
  int position = 0;  // 1-based, as FormulaTextError counts
  QString text;      // Text: the characters; Name, Function: as written; Operator: "<>", "+", ...
  double number = 0;
  uint8_t error = 0;  // Error: the code
  ReferenceText reference;
};

// The pieces of text (without its leading "="; offset is where the rest
// starts in the whole text). Throws FormulaTextError.
std::vector<LexToken> LexFormula(QStringView text, int offset);
