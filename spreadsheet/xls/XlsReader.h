#pragma once
// Reads a BIFF8 workbook stream: the globals (sheet list, shared strings)
// and an index of every worksheet's cells, leaving the records in place.

#include "spreadsheet/model/WorkbookParts.h"

// Fills parts.globals, parts.strings and parts.sheets from parts.stream.
// Throws Biff::StreamError with the reason when the stream is not a BIFF8
// workbook that can be read and written back whole.
void ReadWorkbookStream(WorkbookParts& parts);
