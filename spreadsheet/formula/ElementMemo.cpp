#include "spreadsheet/formula/ElementMemo.h"

#include <bit>

ElementMemo::Key ElementMemo::KeyOf(const Matrix& m, size_t i) {
  Key key;
  key.kind = m.KindAt(i);
  switch (key.kind) {
    case Value::Kind::Number: key.bits = std::bit_cast<uint64_t>(m.NumberAt(i)); break;
    case Value::Kind::Boolean: key.bits = m.BooleanAt(i) ? 1 : 0; break;
    case Value::Kind::Error: key.bits = static_cast<uint64_t>(m.ErrorAt(i)); break;
    case Value::Kind::Text:
      key.text = m.TextAt(i).constData();
      key.size = m.TextAt(i).size();
      break;
    default: key.kind = Value::Kind::Empty; break;
  }
  return key;
}

size_t ElementMemo::SlotOf(const Key& key) {
  // Whole numbers differ in their high bits alone: every bit is mixed in.
  uint64_t h = key.bits ^ reinterpret_cast<uintptr_t>(key.text) ^ (static_cast<uint64_t>(key.kind) << 59);
  h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
  h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
  h ^= h >> 31;
  return static_cast<size_t>(h % kSlots);
}

const Value* ElementMemo::Find(const Matrix& m, size_t i) {
  const Key key = KeyOf(m, i);
  if (last_ && last_->key == key) return &last_->result;
  Entry& entry = entries_[SlotOf(key)];
  if (entry.key == key) {
    last_ = &entry;
    return &entry.result;
  }
  missed_ = &entry;
  missedKey_ = key;
  return nullptr;
}

void ElementMemo::Keep(const Value& result) {
  if (!missed_) return;
  missed_->key = missedKey_;
  missed_->result = result;
  last_ = missed_;
  missed_ = nullptr;
}
