#pragma once
// Reads a BIFF8 workbook stream: the globals (sheet list, shared strings)
// and an index of every worksheet's cells, leaving the records in place.

#include "spreadsheet/model/WorkbookParts.h"

// Fills parts.globals, parts.strings and parts.sheets from parts.stream.
// Throws Biff::StreamError with the reason when the stream is not a BIFF8
// workbook that can be read and written back whole.
void ReadWorkbookStream(WorkbookParts& parts);

// A worksheet that was never in a file, indexed from its own substream
// (see BlankSheetStream).
std::unique_ptr<Worksheet> ReadAddedSheet(WorkbookParts& parts, const QString& name,
                                          std::shared_ptr<const Biff::Bytes> substream);
