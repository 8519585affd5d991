#pragma once
// What formulas compute with: numbers, texts, booleans, errors and empty
// cells, references to areas of sheets, and arrays of values. The
// conversions between them follow the spreadsheet application (Excel).

#include "spreadsheet/model/CellErrors.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// A rectangle of cells on one sheet or on a run of sheets (3D). Rows and
// columns count from 0; bounds are inclusive.
struct Area {
  uint16_t sheetFirst = 0;
  uint16_t sheetLast = 0;
  uint32_t rowFirst = 0;
  uint32_t rowLast = 0;
  uint16_t colFirst = 0;
  uint16_t colLast = 0;

  uint32_t Rows() const { return rowLast - rowFirst + 1; }
  uint32_t Cols() const { return static_cast<uint32_t>(colLast - colFirst) + 1; }
  bool SingleCell() const { return rowFirst == rowLast && colFirst == colLast && sheetFirst == sheetLast; }
  bool Contains(uint16_t sheet, uint32_t row, uint16_t col) const {
    return sheet >= sheetFirst && sheet <= sheetLast && row >= rowFirst && row <= rowLast && col >= colFirst &&
           col <= colLast;
  }
  bool operator==(const Area&) const = default;
};

class Matrix;

struct Value {
  enum class Kind : uint8_t { Empty, Number, Text, Boolean, Error, Reference, Array, Missing };

  Kind kind = Kind::Empty;
  bool boolean = false;
  ErrorCode error = ErrorCode::NA;
  double number = 0;
  QString text;
  Area area;                                        // Reference: the first (usually only) area
  std::shared_ptr<const std::vector<Area>> more;    // Reference: further areas of a union
  std::shared_ptr<const Matrix> array;              // Array

  static Value Number(double number);
  static Value Text(QString text);
  static Value Boolean(bool value);
  static Value Error(ErrorCode code);
  static Value Reference(const Area& area);
  static Value Union(std::vector<Area> areas);
  static Value Array(std::shared_ptr<const Matrix> array);
  static Value Missing();

  bool IsError() const { return kind == Kind::Error; }
  bool IsScalar() const { return kind != Kind::Reference && kind != Kind::Array; }
  // Every area of a reference, in order.
  std::vector<Area> Areas() const;
};

// A rectangle of scalar values (empty, number, text, boolean, error),
// kept compact: an array over a 5,000-row column is read and combined
// element by element without a heap allocation per element.
class Matrix {
 public:
  Matrix(uint32_t rows, uint32_t cols) : rows_(rows), cols_(cols), slots_(static_cast<size_t>(rows) * cols) {}
  uint32_t Rows() const { return rows_; }
  uint32_t Cols() const { return cols_; }
  size_t Size() const { return slots_.size(); }
  size_t Index(uint32_t row, uint32_t col) const { return static_cast<size_t>(row) * cols_ + col; }

  Value::Kind KindAt(size_t i) const { return slots_[i].kind; }
  double NumberAt(size_t i) const { return slots_[i].number; }  // a Number's value
  bool BooleanAt(size_t i) const { return slots_[i].code != 0; }
  ErrorCode ErrorAt(size_t i) const { return static_cast<ErrorCode>(slots_[i].code); }
  const QString& TextAt(size_t i) const { return texts_[slots_[i].text]; }
  Value At(size_t i) const;
  Value At(uint32_t row, uint32_t col) const { return At(Index(row, col)); }

  // Missing is stored as empty; references and arrays are not scalars.
  void Set(size_t i, const Value& scalar);
  void Set(uint32_t row, uint32_t col, const Value& scalar) { Set(Index(row, col), scalar); }
  void SetNumber(size_t i, double number) { slots_[i] = {number, 0, Value::Kind::Number, 0}; }
  void SetBoolean(size_t i, bool value) { slots_[i] = {0, 0, Value::Kind::Boolean, static_cast<uint8_t>(value ? 1 : 0)}; }
  void SetError(size_t i, ErrorCode code) { slots_[i] = {0, 0, Value::Kind::Error, static_cast<uint8_t>(code)}; }
  void SetText(size_t i, const QString& text);

 private:
  struct Slot {
    double number = 0;
    uint32_t text = 0;  // index in texts_
    Value::Kind kind = Value::Kind::Empty;
    uint8_t code = 0;  // Boolean, Error
  };
  uint32_t rows_;
  uint32_t cols_;
  std::vector<Slot> slots_;
  std::vector<QString> texts_;
};

namespace Coerce {

// A scalar as a number: empty and missing are 0, booleans 1 and 0, a text
// that reads as a number is that number (decimal, optionally with
// thousands separators or a trailing "%"), any other text is #VALUE!.
// Errors stay what they are. Returns the error in the value when it fails.
Value ToNumber(const Value& scalar);
// A scalar as text: numbers as the application shows them in General
// format, booleans "TRUE"/"FALSE", empty "". Errors stay errors.
Value ToText(const Value& scalar);
// A scalar as a condition: numbers are true when not 0, texts "TRUE" and
// "FALSE" (any case) are read, other texts are #VALUE!.
Value ToBoolean(const Value& scalar);

// The text a number converts to: up to 15 significant digits, and the
// exponent form ("1E+15", "1E-10") where the plain one would be longer.
QString NumberText(double number);
// Numbers in text as the coercions read them; nullopt when it is none.
std::optional<double> NumberFromText(QStringView text);

// Compares two scalars as the comparison operators do: numbers before
// texts before booleans; texts without regard to case; an empty cell is 0,
// "" or FALSE, whatever it is compared with. Neither may be an error.
int Compare(const Value& a, const Value& b);

// Whether two results are the same for storing (texts with case).
bool SameResult(const Value& a, const Value& b);

}  // namespace Coerce
