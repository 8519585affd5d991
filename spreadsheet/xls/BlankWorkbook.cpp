#include "spreadsheet/xls/BlankWorkbook.h"

#include <initializer_list>

using namespace Biff;

namespace {

enum : uint16_t {
  kInterfaceHdr = 0x00E1,
  kInterfaceEnd = 0x00E2,
  kWindowProtect = 0x0019,
  kBackup = 0x0040,
  kHideObj = 0x008D,
  kDateMode = 0x0022,
  kPrecision = 0x000E,
  kBookBool = 0x00DA,
  kFont = 0x0031,
  kStyle = 0x0293,
  kCountry = 0x008C,
  kCalcCount = 0x000C,
  kCalcMode = 0x000D,
  kRefMode = 0x000F,
  kIteration = 0x0011,
  kDelta = 0x0010,
  kSaveRecalc = 0x005F,
  kPrintHeaders = 0x002A,
  kPrintGridlines = 0x002B,
  kGridSet = 0x0082,
  kGuts = 0x0080,
  kWsBool = 0x0081,
};

class Builder {
 public:
  void Record(uint16_t type, std::initializer_list<uint8_t> data) { sink_.WriteRecord(type, Bytes(data)); }
  void Record(uint16_t type, const Bytes& data) { sink_.WriteRecord(type, data); }
  size_t Position() const { return sink_.Position(); }
  Bytes& Buffer() { return sink_.Buffer(); }

 private:
  BufferSink sink_;
};

Bytes Bof(uint16_t type) {
  // BIFF8, build and year of the writing application, no history flags.
  Bytes data{0x00, 0x06, 0, 0, 0xBB, 0x0D, 0xCC, 0x07, 0, 0, 0, 0, 0x06, 0x03, 0, 0};
  PutU16(data.data() + 2, type);
  return data;
}

Bytes Font(uint16_t height, uint16_t weight) {
  Bytes data{0, 0, 0, 0, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 'A', 'r', 'i', 'a', 'l'};
  PutU16(data.data(), height);
  PutU16(data.data() + 6, weight);
  return data;
}

// A cell format record: a style format (usedAttributes as Excel writes
// them) or a cell format on style 0.
Bytes Xf(uint16_t font, bool style, uint8_t usedAttributes) {
  Bytes data{0, 0, 0, 0, 0xF5, 0xFF, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x20};
  PutU16(data.data(), font);
  if (!style) {
    data[4] = 0x01;  // locked, parent style 0
    data[5] = 0x00;
  }
  data[9] = usedAttributes;
  return data;
}

void Globals(Builder& book, const QString& sheetName, size_t& boundSheetAt) {
  book.Record(kBof, Bof(kBofGlobals));
  book.Record(kInterfaceHdr, {0xB0, 0x04});
  book.Record(kInterfaceEnd, {});
  book.Record(kCodePage, {0xB0, 0x04});  // UTF-16
  book.Record(kWindowProtect, {0, 0});
  book.Record(kProtect, {0, 0});
  book.Record(kPassword, {0, 0});
  book.Record(kBackup, {0, 0});
  book.Record(kHideObj, {0, 0});
  book.Record(kWindow1, {0, 0, 0, 0, 0x98, 0x3A, 0x28, 0x23, 0x38, 0, 0, 0, 0, 0, 1, 0, 0x58, 0x02});
  book.Record(kDateMode, {0, 0});
  book.Record(kPrecision, {1, 0});
  book.Record(kBookBool, {0, 0});
  // Font index 4 does not exist in BIFF: five records fill 0 to 3 and 5.
  book.Record(kFont, Font(200, 400));
  book.Record(kFont, Font(200, 700));
  book.Record(kFont, Font(200, 400));
  book.Record(kFont, Font(200, 700));
  book.Record(kFont, Font(200, 400));
  // Fifteen style formats and the default cell format (index 15).
  book.Record(kXf, Xf(0, true, 0x00));
  for (uint16_t i = 1; i < 15; ++i) book.Record(kXf, Xf(i <= 2 ? 1 : i <= 4 ? 2 : 0, true, 0xF4));
  book.Record(kXf, Xf(0, false, 0x00));
  book.Record(kStyle, {0x00, 0x80, 0x00, 0xFF});  // Normal, built in, on format 0
  boundSheetAt = book.Position();
  Bytes sheet{0, 0, 0, 0, 0, 0, static_cast<uint8_t>(sheetName.size()), 0x01};
  for (QChar c : sheetName) {
    sheet.push_back(static_cast<uint8_t>(c.unicode()));
    sheet.push_back(static_cast<uint8_t>(c.unicode() >> 8));
  }
  book.Record(kBoundSheet, sheet);
  book.Record(kCountry, {1, 0, 1, 0});
  book.Record(kSst, {0, 0, 0, 0, 0, 0, 0, 0});
  book.Record(kExtSst, {8, 0});
  book.Record(kEof, {});
}

void Sheet(Builder& book, bool selected) {
  book.Record(kBof, Bof(kBofWorksheet));
  const size_t indexAt = book.Position();
  book.Record(kIndex, Bytes(16, 0));
  book.Record(kCalcMode, {1, 0});
  book.Record(kCalcCount, {100, 0});
  book.Record(kRefMode, {1, 0});
  book.Record(kIteration, {0, 0});
  book.Record(kDelta, {0xFC, 0xA9, 0xF1, 0xD2, 0x4D, 0x62, 0x50, 0x3F});  // 0.001
  book.Record(kSaveRecalc, {1, 0});
  book.Record(kPrintHeaders, {0, 0});
  book.Record(kPrintGridlines, {0, 0});
  book.Record(kGridSet, {1, 0});
  book.Record(kGuts, {0, 0, 0, 0, 0, 0, 0, 0});
  book.Record(kDefaultRowHeight, {0, 0, 0xFF, 0});
  book.Record(kWsBool, {0xC1, 0x04});
  const size_t defColWidth = book.Position();
  book.Record(kDefColWidth, {8, 0});
  book.Record(kDimensions, Bytes(14, 0));
  // The first sheet is the selected and shown one (fSelected, fPaged).
  const uint8_t shown = selected ? 0x06 : 0x00;
  book.Record(kWindow2, {0xB6, shown, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  book.Record(kEof, {});
  Bytes& stream = book.Buffer();
  PutU32(stream.data() + indexAt + kHeaderSize + 12, static_cast<uint32_t>(defColWidth));
}

}  // namespace

Bytes BlankWorkbookStream(const QString& sheetName) {
  Builder book;
  size_t boundSheetAt = 0;
  Globals(book, sheetName, boundSheetAt);
  const size_t sheetBegin = book.Position();
  Sheet(book, true);
  Bytes stream = std::move(book.Buffer());
  PutU32(stream.data() + boundSheetAt + kHeaderSize, static_cast<uint32_t>(sheetBegin));
  return stream;
}

Bytes BlankSheetStream() {
  Builder sheet;
  Sheet(sheet, false);
  return std::move(sheet.Buffer());
}
