#include "spreadsheet/encryption/XorObfuscation.h"

namespace XorObfuscation {

namespace {

constexpr size_t kMaxPassword = 15;

constexpr uint8_t kPad[15] = {0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80, 0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00};

constexpr uint16_t kInitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E,
                                       0x1872, 0xE139, 0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};

// Seven entries per password position, the last character's at the end.
constexpr uint16_t kMatrix[105] = {
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7, 0x9DCF, 0x2BBF,
    0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4, 0x1BA8, 0x3750, 0x6EA0, 0xDD40,
    0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45, 0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A,
    0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0,
    0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10,
    0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373, 0x06E6, 0x0DCC,
    0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4};

uint8_t XorRor(uint8_t a, uint8_t b) {
  const uint8_t value = a ^ b;
  return static_cast<uint8_t>((value >> 1) | (value << 7));
}

}  // namespace

std::vector<uint8_t> PasswordBytes(QStringView password) {
  std::vector<uint8_t> bytes;
  for (qsizetype n = 0; n < password.size() && bytes.size() < kMaxPassword; ++n) {
    const char16_t unit = password[n].unicode();
    const uint8_t low = static_cast<uint8_t>(unit & 0xFF);
    bytes.push_back(low != 0 ? low : static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

uint16_t Verifier(std::span<const uint8_t> password) {
  // The bytes from last to first, then the length, each folded in with a
  // 15-bit rotation.
  uint16_t verifier = 0;
  const auto fold = [&verifier](uint8_t byte) {
    const uint16_t carry = (verifier & 0x4000) ? 1 : 0;
    verifier = static_cast<uint16_t>((((verifier << 1) & 0x7FFF) | carry) ^ byte);
  };
  for (size_t n = password.size(); n > 0; --n) fold(password[n - 1]);
  fold(static_cast<uint8_t>(password.size()));
  return verifier ^ 0xCE4B;
}

uint16_t Key(std::span<const uint8_t> password) {
  if (password.empty() || password.size() > kMaxPassword) return 0;
  uint16_t key = kInitialCode[password.size() - 1];
  size_t element = 104;
  for (size_t n = password.size(); n > 0; --n) {
    uint8_t byte = password[n - 1];
    for (int bit = 0; bit < 7; ++bit, --element) {
      if (byte & 0x40) key ^= kMatrix[element];
      byte = static_cast<uint8_t>(byte << 1);
    }
  }
  return key;
}

std::array<uint8_t, 16> Array(std::span<const uint8_t> password) {
  std::array<uint8_t, 16> out{};
  if (password.empty() || password.size() > kMaxPassword) return out;  // no workbook has such a key
  const uint16_t key = Key(password);
  const uint8_t high = static_cast<uint8_t>(key >> 8);
  const uint8_t low = static_cast<uint8_t>(key & 0xFF);
  size_t index = password.size();
  if (index % 2 == 1) {
    out[index] = XorRor(kPad[0], high);
    --index;
    out[index] = XorRor(password[password.size() - 1], low);
  }
  // Pairs from the end (index is even here): written with the pair's bounds
  // in the loop condition, which also lets GCC see that nothing wraps.
  for (; index >= 2; index -= 2) {
    out[index - 1] = XorRor(password[index - 1], high);
    out[index - 2] = XorRor(password[index - 2], low);
  }
  // The rest is padding, filled from the end; the count may step past zero.
  index = 15;
  for (int pad = 15 - static_cast<int>(password.size()); pad > 0;) {
    out[index] = XorRor(kPad[pad], high);
    --index;
    --pad;
    out[index] = XorRor(kPad[pad], low);
    --index;
    --pad;
  }
  return out;
}

}  // namespace XorObfuscation
