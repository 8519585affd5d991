#pragma once
// One sheet of a workbook. Cells read from the file stay in the workbook's
// original record stream and are found through a per-row index; cells
// written since are kept beside it, so that saving can copy every record
// nobody touched.

#include "spreadsheet/model/BiffRecords.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

class SharedStrings;

struct CellValue {
  enum class Type { Empty, Number, Text, Boolean, Error };
  Type type = Type::Empty;
  double number = 0;    // Number
  bool boolean = false;  // Boolean
  QString text;          // Text; the error's name ("#N/A") for Error
};

// A cell written through the server.
struct WrittenCell {
  enum class Kind : uint8_t { Blank, Text, Number, Boolean, Formula };
  Kind kind = Kind::Blank;
  uint16_t xf = 0;
  uint32_t sst = 0;   // Text: the shared string; Formula: the formula's index (Worksheet::WrittenFormulaAt)
  double number = 0;  // Number, Boolean (0 or 1)
};

// A formula written through the server: its tokens as a FORMULA record
// holds them (absolute coordinates with relative flags), the data of its
// array constants, and its current result.
struct WrittenFormula {
  Biff::Bytes tokens;
  Biff::Bytes extra;
  CellValue result;
};

// Formula results that are not yet worked out after a change. A read of a
// formula cell works them out first, so that every read gives the current
// result however many changes came before it.
class PendingResults {
 public:
  virtual ~PendingResults() = default;
  bool Pending() const { return pending_; }
  virtual void Settle() = 0;

 protected:
  bool pending_ = false;
};

// The records of one row that sit together in the original stream.
struct CellSpan {
  uint32_t row = 0;
  uint32_t begin = 0;  // offset of the first record
  uint32_t end = 0;    // offset after the last record
};

// Where the parts that a save may rewrite sit in the sheet's original
// substream; kNone where the sheet has no such record.
struct SheetLandmarks {
  static constexpr size_t kNone = SIZE_MAX;
  size_t index = kNone;        // INDEX
  size_t dimensions = kNone;   // DIMENSIONS
  size_t defColWidth = kNone;  // DEFCOLWIDTH (INDEX points at it)
  size_t protection = kNone;   // first of PROTECT/SCENPROTECT/OBJPROTECT/PASSWORD
  size_t protectionAnchor = kNone;  // where a new protection block goes when there is none
  size_t cellTable = kNone;    // first ROW, cell or DBCELL record
  size_t tableAnchor = kNone;  // where a rebuilt cell table goes: cellTable, else after DIMENSIONS
  uint32_t firstRow = 0, lastRow = 0, firstCol = 0, lastCol = 0;  // DIMENSIONS, inclusive
  // DEFAULTROWHEIGHT: what a row without a ROW record looks like, in twips
  // and the record's option flags (unsynced, hidden, extra space above/below).
  uint16_t defaultRowHeight = 0x00FF;
  uint16_t defaultRowFlags = 0;
  bool hasDimensions = false;
};

class Worksheet {
 public:
  enum class Kind { Worksheet, Chart, Macro, Other };

  Worksheet(QString name, Kind kind, Biff::ByteView stream, SharedStrings& strings, uint16_t defaultXf);
  // A sheet that was never in a file: its substream is its own.
  Worksheet(QString name, std::shared_ptr<const Biff::Bytes> ownStream, SharedStrings& strings, uint16_t defaultXf);

  const QString& Name() const { return name_; }
  void SetName(QString name) { name_ = std::move(name); }
  // Renamed since it was read, or added: a save writes its entry anew.
  bool ListingChanged() const { return Added() || name_ != loadedName_; }
  Kind SheetKind() const { return kind_; }
  // Added since the workbook was read: its records are in Stream(), not in
  // the workbook stream.
  bool Added() const { return ownStream_ != nullptr; }
  // The sheet's entry in the workbook's sheet list (BOUNDSHEET): whether
  // it is hidden, and its type.
  uint8_t Visibility() const { return visibility_; }
  uint8_t ListedType() const { return listedType_; }
  void SetListing(uint8_t visibility, uint8_t type) {
    visibility_ = visibility;
    listedType_ = type;
  }

  // The original substream [begin, end) in the workbook stream, from BOF to
  // after EOF; empty for a sheet that was never in a file.
  size_t Begin() const { return begin_; }
  size_t End() const { return end_; }

  // Rows and columns count from 0 here. A formula cell gives its current
  // result.
  CellValue Cell(uint32_t row, uint32_t col) const;
  void SetText(uint32_t row, uint32_t col, const QString& text);
  void SetNumber(uint32_t row, uint32_t col, double value);
  void SetBoolean(uint32_t row, uint32_t col, bool value);
  // A formula in the form a FORMULA record stores it; its result is 0
  // until it is worked out.
  void SetFormula(uint32_t row, uint32_t col, Biff::Bytes tokens, Biff::Bytes extra);
  void Clear(uint32_t row, uint32_t col);

  // The formula written at a cell, or nullptr.
  const WrittenFormula* WrittenFormulaAt(uint32_t row, uint32_t col) const;
  // Reads of formula cells settle these first.
  void SetPendingResults(PendingResults* pending) { pending_ = pending; }

  // Called after every change of a cell's content (not of a formula's
  // result), with the cell's row and column.
  void SetChangeListener(std::function<void(uint32_t, uint32_t)> listener) { listener_ = std::move(listener); }

  // The current result of a formula cell: of a written formula, or of a
  // formula read from the file when it is no longer the one stored with
  // it. A save writes it there.
  void SetFormulaResult(uint32_t row, uint32_t col, const CellValue& value);
  const CellValue* FormulaResult(uint32_t row, uint32_t col) const;
  bool RowHasFormulaResults(uint32_t row) const { return results_.count(row) != 0; }

  bool Protected() const { return protected_; }
  void SetProtected(bool on);

  // Changed since it was read: a save must rebuild its cell table or its
  // protection records instead of copying it.
  bool CellsChanged() const { return !written_.empty() || !results_.empty(); }
  bool ProtectionChanged() const { return protected_ != loadedProtected_; }

  // Calls visit(row, col, value) for every cell that is not empty, row by
  // row and column by column.
  void ForEachCell(const std::function<void(uint32_t, uint32_t, const CellValue&)>& visit) const;

  // Like ForEachCell, within rows [rowFirst, rowLast] and columns
  // [colFirst, colLast]; stops when visit returns false.
  void ForEachCellIn(uint32_t rowFirst, uint32_t rowLast, uint32_t colFirst, uint32_t colLast,
                     const std::function<bool(uint32_t, uint32_t, const CellValue&)>& visit) const;

  // One past the last row that holds anything (original or written).
  uint32_t RowExtent() const;
  uint32_t ColumnExtent() const;

  // Filled by the reader.
  void SetRange(size_t begin, size_t end) { begin_ = begin; end_ = end; }
  void SetLoadedProtection(bool on) { protected_ = loadedProtected_ = on; }
  SheetLandmarks& Landmarks() { return landmarks_; }
  const SheetLandmarks& Landmarks() const { return landmarks_; }
  void AddCellRecord(uint32_t row, size_t offset, size_t end);
  void ExtendSpan(size_t offset, size_t end);  // a record attached to the last cell (STRING, SHRFMLA...)
  void AddRowRecord(uint32_t row, size_t offset);
  void FinishIndex();

  // For the writer.
  using WrittenRow = std::vector<std::pair<uint16_t, WrittenCell>>;  // by column
  const std::map<uint32_t, WrittenRow>& Written() const { return written_; }
  const WrittenCell* WrittenAt(uint32_t row, uint32_t col) const { return FindWritten(row, col); }
  const std::vector<CellSpan>& Spans() const { return spans_; }
  // The spans holding the original records of one row, in file order.
  std::span<const CellSpan> SpansOfRow(uint32_t row) const;
  const std::vector<std::pair<uint32_t, uint32_t>>& RowRecords() const { return rowRecords_; }
  const SharedStrings& Strings() const { return strings_; }
  Biff::ByteView Stream() const { return stream_; }

 private:
  // The original record holding (row, col) and the cell's position in it.
  struct Found {
    const uint8_t* header = nullptr;  // nullptr when not found
    size_t spanEnd = 0;
    size_t item = 0;  // index within MULRK / MULBLANK
  };
  Found FindOriginal(uint32_t row, uint32_t col) const;
  // Calls visit(record, span) for each well-formed original cell record of
  // the row until it returns false.
  template <typename Visit>
  void ForEachCellRecord(uint32_t row, Visit visit) const;
  CellValue Decode(const Found& found) const;
  void SettleBeforeReading() const {
    if (pending_ && pending_->Pending()) pending_->Settle();
  }
  const WrittenCell* FindWritten(uint32_t row, uint32_t col) const;
  uint16_t CurrentXf(uint32_t row, uint32_t col) const;
  void Store(uint32_t row, uint32_t col, WrittenCell cell);

  QString name_;
  QString loadedName_;
  Kind kind_;
  std::shared_ptr<const Biff::Bytes> ownStream_;  // an added sheet's substream
  Biff::ByteView stream_;
  SharedStrings& strings_;
  uint16_t defaultXf_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool protected_ = false;
  bool loadedProtected_ = false;
  SheetLandmarks landmarks_;
  std::vector<CellSpan> spans_;                           // sorted by row
  std::vector<std::pair<uint32_t, uint32_t>> rowRecords_;  // row -> ROW record offset, sorted
  std::map<uint32_t, WrittenRow> written_;
  std::map<uint32_t, std::map<uint32_t, CellValue>> results_;  // by row, then column
  std::vector<WrittenFormula> formulas_;  // by WrittenCell::sst
  std::vector<uint32_t> freeFormulas_;   // slots of formulas written over
  std::function<void(uint32_t, uint32_t)> listener_;
  PendingResults* pending_ = nullptr;
  uint8_t visibility_ = 0;
  uint8_t listedType_ = 0;
  uint32_t writtenRowExtent_ = 0;
  uint32_t writtenColExtent_ = 0;
};

// The column's letters as the spreadsheet shows them: "A", "Z", "AA", "IV" for 0, 25, 26, 255.
QString ColumnLetters(uint32_t col);

namespace CellRecords {
// Whether the record is a cell record of the kinds this reader knows and is
// large enough for its type; MULRK/MULBLANK also give their column range.
bool IsCell(uint16_t type);
bool IsWellFormed(uint16_t type, Biff::ByteView data);
// Records that belong to the cell before them.
bool IsAttached(uint16_t type);
uint16_t FirstColumn(Biff::ByteView data);
// Whether a record of a worksheet's top level belongs to the cell table that
// the sheet index holds (ROW, well-formed cells, DBCELL, and records attached
// to such a cell). chain carries "the record before was such a cell" along.
bool IsIndexedTableRecord(uint16_t type, Biff::ByteView data, bool& chain);
uint16_t LastColumn(uint16_t type, Biff::ByteView data);
}  // namespace CellRecords
