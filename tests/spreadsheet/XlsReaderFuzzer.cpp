// libFuzzer target for the .xls reader: any bytes either open as a workbook
// or are refused with a WorkbookError. What opens must also survive a write
// with a changed cell, and the stream written must read back.

#include "spreadsheet/Workbook.h"
#include "spreadsheet/XlsReader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<Workbook> book;
  try {
    book = Workbook::FromMemory(data, size);
  } catch (const WorkbookError&) {
    return 0;
  }
  size_t cells = 0;
  for (int i = 0; i < book->SheetCount(); ++i) {
    book->Sheet(i).ForEachCell([&cells](uint32_t, uint32_t, const CellValue&) { ++cells; });
  }
  for (int i = 0; i < book->SheetCount(); ++i) {
    Worksheet& sheet = book->Sheet(i);
    if (sheet.SheetKind() != Worksheet::Kind::Worksheet) continue;
    sheet.SetText(static_cast<uint32_t>(cells % 70), 1, QStringLiteral("fuzz"));
    sheet.SetProtected(!sheet.Protected());
    break;
  }
  WorkbookParts again;
  Biff::BufferSink sink;
  book->WriteStream(sink);
  again.stream = std::move(sink.Buffer());
  try {
    ReadWorkbookStream(again);
  } catch (const Biff::StreamError&) {
    std::abort();  // a stream we wrote ourselves must always read back
  }
  return 0;
}
