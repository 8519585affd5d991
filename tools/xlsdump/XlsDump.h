#pragma once
// The text that xlsdump prints for a workbook: each sheet with its kind,
// size and protection, then each non-empty cell as "A1: kind value".

#include <QString>
#include <QTextStream>

class Workbook;

namespace XlsDump {

// Writes the dump; sheetNumber 0 means every sheet, otherwise only that one
// (1-based). Returns false when there is no such sheet.
bool Dump(const Workbook& book, QTextStream& out, int sheetNumber = 0);

}  // namespace XlsDump
