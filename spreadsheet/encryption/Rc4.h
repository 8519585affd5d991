#pragma once
// The RC4 stream cipher: the keystream XORed onto the data, so the same call
// encrypts and decrypts. The state is wiped when the object goes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

class Rc4 {
 public:
  explicit Rc4(std::span<const uint8_t> key);
  ~Rc4();
  Rc4(const Rc4&) = delete;
  Rc4& operator=(const Rc4&) = delete;

  void Apply(uint8_t* data, size_t size);
  // Moves the keystream on without data.
  void Skip(size_t count);

 private:
  uint8_t Next();

  std::array<uint8_t, 256> state_{};
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};
