#pragma once
// Writes a workbook stream back: every record nobody changed is copied as it
// was; what changed is rebuilt (cell tables and protection of the sheets
// written to, the shared strings) and every stream offset that moved with it
// is set anew (sheet positions, INDEX, DBCELL, EXTSST).

#include "spreadsheet/model/BiffRecords.h"
#include "spreadsheet/xls/XlsReader.h"

// Writes the new stream into out. The stream is laid out once into a
// counting sink first, so the sink sees each byte once, in order.
void WriteWorkbookStream(const WorkbookParts& parts, Biff::ByteSink& out);
