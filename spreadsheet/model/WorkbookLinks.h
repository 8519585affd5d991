#pragma once
// What formulas refer to outside their own sheet: the workbooks behind 3D
// references (SUPBOOK), the table of sheet spans those references index
// (EXTERNSHEET), and the defined names (NAME). Read from the globals; a
// formula put may add a sheet span, and a sheet put before others moves
// the sheet numbers in them, so a save writes what changed anew.

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

struct SupBook {
  enum class Kind : uint8_t { Own, AddIn, External, Other };
  Kind kind = Kind::Other;
  QString document;             // External: the other workbook's file
  std::vector<QString> sheets;  // External: its sheet names
  std::vector<QString> names;   // the EXTERNNAME records after it (add-in functions, external names)
};

// One entry of EXTERNSHEET: sheets first..last of a SUPBOOK.
struct ExternSheet {
  static constexpr int32_t kDeleted = -1;    // 0xFFFF: the sheet was deleted
  static constexpr int32_t kWorkbook = -2;   // 0xFFFE: the workbook itself (external names)
  uint16_t book = 0;
  int32_t first = kDeleted;
  int32_t last = kDeleted;
};

struct DefinedName {
  QString name;           // a built-in name by its English name ("Print_Area")
  uint16_t sheet = 0;     // 0: the whole workbook; otherwise the 1-based sheet it belongs to
  uint16_t loadedSheet = 0;
  size_t record = SIZE_MAX;  // offset of the NAME record in the globals
};

class WorkbookLinks {
 public:
  static constexpr size_t kNone = SIZE_MAX;
  std::vector<SupBook> books;
  std::vector<ExternSheet> sheets;
  std::vector<DefinedName> names;

  // Where the records sit in the original globals (SIZE_MAX: not there).
  size_t ownBookRecord = SIZE_MAX;     // the SUPBOOK of this workbook
  size_t externSheetRecord = SIZE_MAX;
  size_t externSheetEnd = SIZE_MAX;    // after the record's CONTINUE records
  // The table was changed: a save writes EXTERNSHEET (and the SUPBOOK of
  // this workbook, when it was not in the file) anew.
  bool sheetTableChanged = false;
  bool ownBookAdded = false;

  // The SUPBOOK of this workbook, or -1.
  int OwnBook() const;
  // The entry for sheets first..last of this workbook, added when there is
  // none yet.
  uint16_t SheetSpan(int first, int last);
  // A sheet was put at position at: the sheet numbers from there on move up.
  void SheetInserted(int at);
  // A defined name by its text, without regard to case: one of the sheet's
  // own names (sheet counts from 0) before a name of the whole workbook.
  // The 1-based index, or 0.
  uint32_t FindName(QStringView text, int sheet) const;
};

// The English name of a built-in defined name by its one-character code
// ("Print_Area" for 6); empty for a code the format does not know.
QString BuiltInNameText(uint8_t code);
