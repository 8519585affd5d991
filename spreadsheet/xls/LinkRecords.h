#pragma once
// The globals records a save writes anew when sheets were added, renamed
// or moved, or formulas put refer to other sheets: the sheet list
// (BOUNDSHEET), this workbook's SUPBOOK, the table of sheet spans
// (EXTERNSHEET), defined names of single sheets (NAME), the active sheet
// (WINDOW1).

#include "spreadsheet/model/BiffRecords.h"
#include "spreadsheet/model/WorkbookParts.h"

namespace LinkRecords {

// BOUNDSHEET of a sheet whose substream starts at position.
Biff::Bytes BoundSheet(const Worksheet& sheet, size_t position);
// The SUPBOOK of this workbook: how many sheets it has.
Biff::Bytes OwnSupBook(const WorkbookParts& parts);
// EXTERNSHEET with the table, in CONTINUE records beyond one record's room.
void WriteExternSheet(const WorkbookLinks& links, Biff::ByteSink& out);
// A NAME record with the sheet number its name belongs to now.
Biff::Bytes NameWithSheet(Biff::ByteView name, uint16_t sheet);
// WINDOW1 with the active sheet.
Biff::Bytes WindowWithActiveSheet(Biff::ByteView window, uint16_t sheet);

}  // namespace LinkRecords
