#include "spreadsheet/encryption/Rc4.h"

#include "spreadsheet/encryption/SecretMemory.h"

#include <utility>

Rc4::Rc4(std::span<const uint8_t> key) {
  for (size_t n = 0; n < state_.size(); ++n) state_[n] = static_cast<uint8_t>(n);
  if (key.empty()) return;
  uint8_t j = 0;
  for (size_t n = 0; n < state_.size(); ++n) {
    j = static_cast<uint8_t>(j + state_[n] + key[n % key.size()]);
    std::swap(state_[n], state_[j]);
  }
}

Rc4::~Rc4() {
  WipeBytes(state_.data(), state_.size());
  i_ = j_ = 0;
}

uint8_t Rc4::Next() {
  ++i_;
  j_ = static_cast<uint8_t>(j_ + state_[i_]);
  std::swap(state_[i_], state_[j_]);
  return state_[static_cast<uint8_t>(state_[i_] + state_[j_])];
}

void Rc4::Apply(uint8_t* data, size_t size) {
  for (size_t n = 0; n < size; ++n) data[n] ^= Next();
}

void Rc4::Skip(size_t count) {
  for (size_t n = 0; n < count; ++n) Next();
}
