#pragma once
// Writes a worksheet's cell table anew: ROW records, cells and DBCELL in
// blocks of 32 rows, merging the cells written since loading into the
// original records. Rows nobody wrote to are copied record for record.

#include "spreadsheet/model/BiffRecords.h"
#include "spreadsheet/model/Worksheet.h"

#include <vector>

// What the table's writing tells the records before it (INDEX, DIMENSIONS).
struct CellTableLayout {
  std::vector<size_t> dbCells;  // stream positions of the DBCELL records
  bool hasRows = false;
  uint32_t firstRow = 0;
  uint32_t lastRow = 0;
};

void WriteCellTable(const Worksheet& sheet, Biff::ByteSink& out, CellTableLayout& layout);
