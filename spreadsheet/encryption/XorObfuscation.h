#pragma once
// The oldest way an .xls is protected with a password to open: XOR
// obfuscation, method 1. A 16-bit key and a 16-bit verifier come from the
// password; the data are rotated and XORed with a 16-byte array made from it.

#include <QString>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace XorObfuscation {

// The method takes at most 15 single-byte characters: each character gives
// its low byte, or its high byte when the low one is zero.
std::vector<uint8_t> PasswordBytes(QStringView password);

uint16_t Verifier(std::span<const uint8_t> password);
uint16_t Key(std::span<const uint8_t> password);
std::array<uint8_t, 16> Array(std::span<const uint8_t> password);

inline uint8_t Obfuscate(uint8_t plain, uint8_t arrayByte) {
  return static_cast<uint8_t>(((plain << 5) | (plain >> 3)) ^ arrayByte);
}
inline uint8_t Clarify(uint8_t obfuscated, uint8_t arrayByte) {
  const uint8_t value = obfuscated ^ arrayByte;
  return static_cast<uint8_t>((value >> 5) | (value << 3));
}

}  // namespace XorObfuscation
