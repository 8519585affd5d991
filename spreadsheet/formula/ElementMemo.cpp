#include "spreadsheet/formula/ElementMemo.h"

const Value* ElementMemo::Find(const Matrix& m, size_t i) {
  const ElementKey key = ElementKeyOf(m, i);
  if (last_ && last_->key == key) return &last_->result;
  Entry& entry = entries_[HashOf(key) % kSlots];
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
