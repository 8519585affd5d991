#pragma once
// Formulas without a workbook: token streams written by hand (in the order
// the file format stores them) and cells in a map, for the evaluator tests
// and the formula fuzzer.

#include "spreadsheet/formula/FormulaDecoder.h"
#include "spreadsheet/formula/FormulaEvaluator.h"
#include "spreadsheet/formula/FormulaTokens.h"

#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace FormulaKit {

// Operand classes of the file format.
using Class = uint8_t;
constexpr Class kR = 0x20;
constexpr Class kV = 0x40;
constexpr Class kA = 0x60;

class Rpn {
 public:
  Rpn& Int(uint16_t v) { return Byte(Ptg::kInt).U16(v); }
  Rpn& Num(double v) {
    Byte(Ptg::kNum);
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(bits >> (8 * i)));
    return *this;
  }
  Rpn& Str(const QString& text) {
    Byte(Ptg::kStr).Byte(static_cast<uint8_t>(text.size())).Byte(0x01);
    for (QChar c : text) U16(c.unicode());
    return *this;
  }
  Rpn& Bool(bool v) { return Byte(Ptg::kBool).Byte(v ? 1 : 0); }
  Rpn& Err(ErrorCode code) { return Byte(Ptg::kErr).Byte(static_cast<uint8_t>(code)); }
  Rpn& Missing() { return Byte(Ptg::kMissArg); }
  Rpn& Op(uint8_t ptg) { return Byte(ptg); }
  // A cell (0-based). Relative coordinates are absolute here, as a cell
  // formula stores them; Ptg::RelativeForm turns them into offsets.
  Rpn& Ref(uint16_t row, uint16_t col, Class cls = kV, bool relative = true) {
    return Byte(cls + Ptg::kRef).U16(row).U16(Col(col, relative, relative));
  }
  Rpn& Area(uint16_t row1, uint16_t col1, uint16_t row2, uint16_t col2, Class cls = kR, bool relative = false) {
    return Byte(cls + Ptg::kArea).U16(row1).U16(row2).U16(Col(col1, relative, relative)).U16(Col(col2, relative, relative));
  }
  // Offsets from the cell, as shared formulas store them.
  Rpn& RefN(int16_t rowOffset, int8_t colOffset, Class cls = kV) {
    return Byte(cls + Ptg::kRefN).U16(static_cast<uint16_t>(rowOffset)).U16(Col(static_cast<uint8_t>(colOffset), true, true));
  }
  Rpn& Ref3d(uint16_t ixti, uint16_t row, uint16_t col, Class cls = kV) {
    return Byte(cls + Ptg::kRef3d).U16(ixti).U16(row).U16(col);
  }
  Rpn& Area3d(uint16_t ixti, uint16_t row1, uint16_t col1, uint16_t row2, uint16_t col2, Class cls = kR) {
    return Byte(cls + Ptg::kArea3d).U16(ixti).U16(row1).U16(row2).U16(col1).U16(col2);
  }
  Rpn& Name(uint16_t index, Class cls = kR) { return Byte(cls + Ptg::kName).U16(index).U16(0); }
  Rpn& Func(uint16_t id, Class cls = kV) { return Byte(cls + Ptg::kFunc).U16(id); }
  Rpn& FuncVar(uint16_t id, uint8_t argc, Class cls = kV) { return Byte(cls + Ptg::kFuncVar).Byte(argc).U16(id); }
  Rpn& AttrSum() { return Byte(Ptg::kAttr).Byte(Ptg::kAttrSum).U16(0); }
  Rpn& AttrIf(uint16_t skip) { return Byte(Ptg::kAttr).Byte(Ptg::kAttrIf).U16(skip); }
  Rpn& AttrGoto(uint16_t skip) { return Byte(Ptg::kAttr).Byte(Ptg::kAttrGoto).U16(skip); }
  Rpn& Array(uint8_t cls = kA) { return Byte(cls + Ptg::kArray).Zero(7); }
  // The array's values, in the data after the tokens: numbers only.
  Rpn& ArrayData(uint8_t cols, uint16_t rows, const std::vector<double>& values) {
    extra_.push_back(static_cast<uint8_t>(cols - 1));
    extra_.push_back(static_cast<uint8_t>(rows - 1));
    extra_.push_back(static_cast<uint8_t>((rows - 1) >> 8));
    for (double v : values) {
      extra_.push_back(0x01);
      uint64_t bits = 0;
      std::memcpy(&bits, &v, sizeof bits);
      for (int i = 0; i < 8; ++i) extra_.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
    return *this;
  }
  Rpn& Byte(uint8_t b) {
    bytes_.push_back(b);
    return *this;
  }
  Rpn& U16(uint16_t v) { return Byte(static_cast<uint8_t>(v)).Byte(static_cast<uint8_t>(v >> 8)); }
  Rpn& Zero(int count) {
    for (int i = 0; i < count; ++i) Byte(0);
    return *this;
  }

  const Biff::Bytes& Bytes() const { return bytes_; }
  const Biff::Bytes& Extra() const { return extra_; }

 private:
  static uint16_t Col(uint16_t col, bool rowRelative, bool colRelative) {
    return static_cast<uint16_t>((col & 0xFF) | (rowRelative ? 0x8000 : 0) | (colRelative ? 0x4000 : 0));
  }
  Biff::Bytes bytes_;
  Biff::Bytes extra_;
};

// Cells in a map; counts reads so tests can see what was evaluated.
class MapCells : public CellReader {
 public:
  explicit MapCells(int sheets = 3) : sheets_(sheets) {}
  void Set(uint16_t sheet, uint32_t row, uint16_t col, Value value) { cells_[{sheet, row, col}] = std::move(value); }
  void SetName(uint32_t index, std::shared_ptr<const FormulaProgram> program) {
    if (names_.size() < index) names_.resize(index);
    names_[index - 1] = std::move(program);
  }
  int SheetCount() const override { return sheets_; }
  Value Cell(uint16_t sheet, uint32_t row, uint16_t col) override {
    ++reads;
    const auto found = cells_.find({sheet, row, col});
    return found == cells_.end() ? Value() : found->second;
  }
  void ForEachFilled(const Area& area, Visit visit) override {
    for (const auto& [key, value] : cells_) {
      const auto& [sheet, row, col] = key;
      if (!area.Contains(sheet, row, col)) continue;
      ++reads;
      if (!visit(sheet, row, col, value)) return;
    }
  }
  const FormulaProgram* NameProgram(uint32_t index) override {
    return index >= 1 && index <= names_.size() ? names_[index - 1].get() : nullptr;
  }
  int reads = 0;

 private:
  int sheets_;
  std::map<std::tuple<uint16_t, uint32_t, uint16_t>, Value> cells_;
  std::vector<std::shared_ptr<const FormulaProgram>> names_;
};

// A workbook of three sheets whose 3D references: 0 = sheet 1, 1 = sheets
// 1 to 3, 2 = a deleted sheet, 3 = another workbook.
inline FormulaEnvironment ThreeSheets() {
  using Run = FormulaEnvironment::SheetRun;
  FormulaEnvironment env;
  env.externSheets = {Run{Run::Book::Own, 0, 0}, Run{Run::Book::Own, 0, 2}, Run{Run::Book::Own, RefSpec::kBadSheet, RefSpec::kBadSheet},
                      Run{Run::Book::Other, 0, 0}};
  env.nameCount = 4;
  return env;
}

// Decodes a cell formula's tokens as the loader does (relative form first).
inline DecodedFormula Decode(const Rpn& rpn, const CellPosition& at = {}, const FormulaEnvironment& env = ThreeSheets()) {
  const std::optional<Biff::Bytes> relative = Ptg::RelativeForm(rpn.Bytes(), at);
  if (!relative) return {nullptr, QStringLiteral("token walk failed")};
  return DecodeFormula(*relative, rpn.Extra(), env);
}

}  // namespace FormulaKit
