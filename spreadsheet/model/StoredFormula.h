#pragma once
// Where a cell's formula tokens are: written through the server, in the
// cell's own FORMULA record, or in the shared formula, array formula or
// data table that the record points at.

#include "spreadsheet/model/Worksheet.h"

struct StoredFormula {
  enum class Kind { None, Cell, Shared, Table };
  Kind kind = Kind::None;
  Biff::ByteView tokens;  // Shared: references as offsets from the cell (tRefN, tAreaN)
  Biff::ByteView extra;   // the data of array constants after the tokens
  // Table: the cells the data table's inputs come from; with one input,
  // whether it is the row input.
  bool twoInputs = false;
  bool rowInput = false;
  uint16_t inputRow[2] = {0, 0};
  uint16_t inputCol[2] = {0, 0};
};

StoredFormula FindStoredFormula(const Worksheet& sheet, uint32_t row, uint32_t col);
