#include "spreadsheet/formula/FormulaFunctions.h"

#include <array>
#include <cstring>

namespace {

// Lookup by number: the file format's function table has fewer than 512 entries.
constexpr size_t kTableSize = 512;

Value NotCalledDirectly(FunctionCall&) { return Value::Error(ErrorCode::Value); }

struct Table {
  std::vector<FunctionInfo> functions;
  std::array<const FunctionInfo*, kTableSize> byId{};

  Table() {
    functions.push_back({FunctionIds::kIf, "IF", 2, 3, "VR", &NotCalledDirectly, false});
    functions.push_back({FunctionIds::kChoose, "CHOOSE", 2, 30, "VR", &NotCalledDirectly, false});
    Functions::AddMath(functions);
    Functions::AddAggregate(functions);
    Functions::AddCriteria(functions);
    Functions::AddText(functions);
    Functions::AddLogic(functions);
    Functions::AddLookup(functions);
    for (const FunctionInfo& info : functions) {
      if (info.id < kTableSize) byId[info.id] = &info;
    }
  }
};

}  // namespace

char FunctionInfo::Param(size_t i) const {
  const size_t count = std::strlen(params);
  if (count == 0) return 'V';
  return params[i < count ? i : count - 1];
}

const FunctionInfo* FindFunction(uint16_t id) {
  static const Table table;
  return id < kTableSize ? table.byId[id] : nullptr;
}
