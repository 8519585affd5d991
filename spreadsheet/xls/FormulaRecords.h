#pragma once
// The stored result of a FORMULA record: written anew when a formula's
// result changed, with the STRING record that holds a text result.

#include "spreadsheet/model/BiffRecords.h"
#include "spreadsheet/model/Worksheet.h"

namespace FormulaRecords {

// The FORMULA record's data with result as its stored value; everything
// else (tokens, flags, format) as it was.
Biff::Bytes WithResult(Biff::ByteView formula, const CellValue& result);

// The data of a FORMULA record for a formula written through the server:
// cell (row, column, format: 6 bytes), its result, no options, its tokens.
Biff::Bytes NewFormula(Biff::ByteView cell, const WrittenFormula& formula);

// A STRING record (and CONTINUE records for a long text) holding text.
void WriteString(Biff::ByteSink& out, const QString& text);

}  // namespace FormulaRecords
