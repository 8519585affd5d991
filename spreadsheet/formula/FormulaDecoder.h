#pragma once
// Decodes a formula's parsed-expression tokens (in relative form: see
// Ptg::RelativeForm) into an expression tree. A formula with anything the
// evaluator does not handle decodes to no program, with the reason; so does
// a damaged token stream.

#include "spreadsheet/formula/FormulaProgram.h"
#include "spreadsheet/model/BiffRecords.h"

#include <QString>

#include <memory>
#include <vector>

// What the tokens refer to outside themselves.
struct FormulaEnvironment {
  // The sheets behind each entry of the workbook's EXTERNSHEET table.
  struct SheetRun {
    enum class Book : uint8_t { Own, AddIn, Other } book = Book::Other;
    int32_t first = RefSpec::kBadSheet;  // kBadSheet: a deleted sheet
    int32_t last = RefSpec::kBadSheet;
  };
  std::vector<SheetRun> externSheets;
  uint32_t nameCount = 0;
};

struct DecodedFormula {
  std::shared_ptr<const FormulaProgram> program;  // nullptr: not evaluated here
  QString outside;                                // why not, for the record
};

// extra: the data after the tokens (array constants).
DecodedFormula DecodeFormula(Biff::ByteView rgce, Biff::ByteView extra, const FormulaEnvironment& environment);
