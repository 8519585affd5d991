// libFuzzer target for formula tokens: any bytes, read as a cell formula's
// tokens and the data after them, either decode or are refused with a
// reason; what decodes evaluates to a single value, for any cell.

#include "FormulaTestKit.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Five bytes first: the cell (sheet, row, column) and how many bytes of
  // tokens follow; the rest is the data after the tokens.
  if (size < 5) return 0;
  const CellPosition at{static_cast<uint16_t>(data[0] % 3), static_cast<uint32_t>(Biff::U16(data + 1)), data[3]};
  const size_t length = std::min<size_t>(data[4], size - 5);
  const Biff::ByteView rgce(data + 5, length);
  const Biff::ByteView extra(data + 5 + length, size - 5 - length);

  FormulaKit::MapCells cells;
  cells.Set(0, 0, 0, Value::Number(2));
  cells.Set(0, 1, 0, Value::Text(QStringLiteral("2")));
  cells.Set(1, 0, 1, Value::Boolean(true));
  cells.Set(2, 5, 5, Value::Error(ErrorCode::NA));
  const FormulaEnvironment env = FormulaKit::ThreeSheets();
  // Name 1 is the tokens themselves: a name may use itself.
  const DecodedFormula asName = DecodeFormula(rgce, extra, env);
  cells.SetName(1, asName.program);

  const std::optional<Biff::Bytes> relative = Ptg::RelativeForm(rgce, at);
  const DecodedFormula decoded = relative ? DecodeFormula(*relative, extra, env) : DecodedFormula{};
  if (!decoded.program) return 0;
  FormulaEvaluator evaluator(cells);
  const Value result = evaluator.Evaluate(*decoded.program, at);
  if (!result.IsScalar()) std::abort();  // a cell always gets a single value
  return 0;
}
