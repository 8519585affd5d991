#include "spreadsheet/formula/ArrayMemo.h"

#include <QHash>

#include <bit>
#include <functional>

namespace {

size_t Mix(size_t seed, size_t value) { return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2)); }

}  // namespace

size_t ArrayMemo::AreaHash::operator()(const AreaKey& key) const {
  const Area& a = key.area;
  size_t h = Mix(a.sheetFirst, a.sheetLast);
  h = Mix(h, a.rowFirst);
  h = Mix(h, a.rowLast);
  h = Mix(h, a.colFirst);
  return Mix(h, a.colLast);
}

bool ArrayMemo::Operand::operator==(const Operand& other) const {
  // Texts compare as the operators see them only when equal with case:
  // a text that differs in case alone is another key, never a wrong result.
  return array == other.array && kind == other.kind && bits == other.bits && text == other.text;
}

size_t ArrayMemo::HashOf(const Operand& operand) {
  size_t h = Mix(std::hash<const void*>()(operand.array), static_cast<size_t>(operand.kind));
  h = Mix(h, operand.bits);
  return operand.kind == Value::Kind::Text ? Mix(h, qHash(operand.text)) : h;
}

size_t ArrayMemo::ResultHash::operator()(const ResultKey& key) const {
  return Mix(Mix(static_cast<size_t>(key.op), HashOf(key.left)), HashOf(key.right));
}

ArrayMemo::Operand ArrayMemo::OperandOf(const Array& m) {
  Operand operand;
  if (m->Size() != 1) {
    operand.array = m.get();
    return operand;
  }
  // A single value by what it holds: the shape stays part of the key, as a
  // 1x1 array is the only shape taken this way.
  operand.kind = m->KindAt(0);
  switch (operand.kind) {
    case Value::Kind::Number: operand.bits = std::bit_cast<uint64_t>(m->NumberAt(0)); break;
    case Value::Kind::Boolean: operand.bits = m->BooleanAt(0) ? 1 : 0; break;
    case Value::Kind::Error: operand.bits = static_cast<uint64_t>(m->ErrorAt(0)); break;
    case Value::Kind::Text: operand.text = m->TextAt(0); break;
    default: break;
  }
  return operand;
}

ArrayMemo::Array ArrayMemo::FindArea(const Area& area, uint64_t version) const {
  const auto found = areas_.find({area});
  return found != areas_.end() && found->second.version == version ? found->second.values : nullptr;
}

void ArrayMemo::KeepArea(const Area& area, uint64_t version, Array values) {
  AreaEntry& entry = areas_[{area}];
  if (entry.values) replaced_.push_back(std::move(entry.values));
  kept_.insert(values.get());
  entry = {version, std::move(values)};
}

bool ArrayMemo::Keeps(const Array& a, const Array& b) const {
  if (a->Size() == 1) return b->Size() != 1 && kept_.contains(b.get());
  if (b->Size() == 1) return kept_.contains(a.get());
  return combined_.contains(a.get()) && combined_.contains(b.get());
}

ArrayMemo::Array ArrayMemo::FindResult(Operator op, const Array& a, const Array& b) const {
  const auto found = results_.find({op, OperandOf(a), OperandOf(b)});
  return found == results_.end() ? nullptr : found->second.result;
}

void ArrayMemo::KeepResult(Operator op, const Array& a, const Array& b, Array result) {
  if (a->Size() == 1 || b->Size() == 1) combined_.insert(result.get());
  results_[{op, OperandOf(a), OperandOf(b)}] = {a, b, std::move(result)};
}

const ArrayMemo::Classes* ArrayMemo::FindClasses(const Array& values) const {
  const auto found = classes_.find(values.get());
  return found == classes_.end() ? nullptr : &found->second;
}

void ArrayMemo::KeepClasses(const Array& values, Classes classes) {
  if (kept_.contains(values.get())) classes_[values.get()] = std::move(classes);
}

void ArrayMemo::Clear() {
  classes_.clear();
  results_.clear();
  areas_.clear();
  kept_.clear();
  combined_.clear();
  replaced_.clear();
}
