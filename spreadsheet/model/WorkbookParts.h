#pragma once
// A workbook in memory: its stream, its shared strings and its sheets, with
// where the records a save rewrites sit. The reader fills it, the writer
// writes it back, the formulas read and change its cells.

#include "spreadsheet/model/BiffRecords.h"
#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/model/WorkbookLinks.h"
#include "spreadsheet/model/Worksheet.h"

#include <memory>
#include <vector>

// Where the globals records that a save rewrites sit in the stream.
struct GlobalsLandmarks {
  static constexpr size_t kNone = SIZE_MAX;
  size_t end = 0;                   // after the globals EOF
  size_t eof = kNone;               // the globals EOF record
  std::vector<size_t> boundSheets;  // BOUNDSHEET records, in sheet order
  size_t sst = kNone;               // SST record
  size_t sstEnd = kNone;            // after the SST's last CONTINUE
  size_t extSst = kNone;            // EXTSST record
  size_t recalcId = kNone;          // RECALCID record
  size_t window1 = kNone;           // WINDOW1 record: which sheet is active
  size_t linkAnchor = kNone;        // where a new table of sheet spans goes: before the names, the SST or EOF
  uint32_t xfCount = 0;
};

// A workbook stream and what was read from it. The sheets refer into
// stream and strings, so the parts move together and stay where they are.
struct WorkbookParts {
  Biff::Bytes stream;
  SharedStrings strings;
  GlobalsLandmarks globals;
  std::vector<std::unique_ptr<Worksheet>> sheets;  // in BOUNDSHEET order
  WorkbookLinks links;
  // The active sheet as WINDOW1 says, and as it was read.
  uint16_t activeSheet = 0;
  uint16_t loadedActiveSheet = 0;
  // Some stored formula results may be out of date (formulas the server
  // does not evaluate): a save asks the spreadsheet application to
  // recalculate everything when it loads the file.
  bool recalculateOnLoad = false;
  bool decrypted = false;  // the stream was encrypted and has been decrypted in place
};
