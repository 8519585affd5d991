#pragma once
// Formula text in and out of cells: a formula put is read into tokens,
// checked to be one the server evaluates, and stored as a written formula
// cell; a formula get prints the tokens a cell holds (written, or read
// from the file, shared formulas for their own cell), or gives the value
// as text for a cell without a formula.

#include "spreadsheet/model/WorkbookParts.h"

#include <QString>

#include <stdexcept>

// A formula text that cannot be put; the message names the cell, the
// formula and the place and reason it fails.
class FormulaCellError : public std::runtime_error {
 public:
  explicit FormulaCellError(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

namespace FormulaCells {

// text begins with "=". Throws FormulaCellError; the cell is unchanged then.
void Put(WorkbookParts& parts, int sheet, uint32_t row, uint32_t col, const QString& text);

// The cell's formula as the spreadsheet application gives it, or its value
// as text: a number in its General form, TRUE or FALSE, an error's name,
// empty for an empty cell.
QString Text(const WorkbookParts& parts, int sheet, uint32_t row, uint32_t col);

// The sheets' names, in order.
std::vector<QString> SheetNames(const WorkbookParts& parts);

}  // namespace FormulaCells
