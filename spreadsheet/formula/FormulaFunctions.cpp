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
    functions.push_back({FunctionIds::kIf, "IF", 2, 3, "VR", &NotCalledDirectly, false, 'R'});
    functions.push_back({FunctionIds::kChoose, "CHOOSE", 2, 30, "VR", &NotCalledDirectly, false, 'R'});
    Functions::AddMath(functions);
    Functions::AddAggregate(functions);
    Functions::AddCriteria(functions);
    Functions::AddText(functions);
    Functions::AddLogic(functions);
    Functions::AddLookup(functions);
    Functions::AddStatistics(functions);
    for (const FunctionInfo& info : functions) {
      if (info.id < kTableSize) byId[info.id] = &info;
    }
  }
};

const Table& TheTable() {
  static const Table table;
  return table;
}

}  // namespace

char FunctionInfo::Param(size_t i) const {
  const size_t count = std::strlen(params);
  if (count == 0) return 'V';
  return params[i < count ? i : count - 1];
}

const FunctionInfo* FindFunction(uint16_t id) { return id < kTableSize ? TheTable().byId[id] : nullptr; }

const FunctionInfo* FindFunction(QStringView name) {
  for (const FunctionInfo& info : TheTable().functions) {
    if (name.compare(QLatin1String(info.name), Qt::CaseInsensitive) == 0) return &info;
  }
  return nullptr;
}

const std::vector<FunctionInfo>& EvaluatedFunctions() { return TheTable().functions; }
