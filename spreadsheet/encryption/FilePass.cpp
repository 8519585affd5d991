#include "spreadsheet/encryption/FilePass.h"

using namespace Biff;

namespace {

constexpr uint16_t kXorType = 0x0000;
constexpr uint16_t kRc4Type = 0x0001;
constexpr uint32_t kAlgRc4 = 0x6801;
constexpr uint32_t kAlgSha1 = 0x8004;
constexpr uint32_t kFlagAes = 0x20;

StreamError Damaged() { return StreamError(QStringLiteral("it is encrypted, but its encryption header is damaged")); }

StreamError Unreadable(const QString& what) {
  return StreamError(QStringLiteral("it is encrypted with %1, which this program cannot read").arg(what));
}

QString Hex(uint32_t value) { return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0')); }

void ParseRc4(ByteView data, FilePass& out) {
  if (data.size() < 54) throw Damaged();
  out.method = EncryptionMethod::Rc4;
  out.saltAt = 6;
  out.verifierAt = 22;
  out.verifierHashAt = 38;
  out.verifierHashSize = 16;
}

// The header of [vMajor vMinor] Flags HeaderSize, the header itself, then the
// verifier: SaltSize Salt EncryptedVerifier VerifierHashSize EncryptedVerifierHash.
void ParseCryptoApi(ByteView data, FilePass& out) {
  if (data.size() < 14) throw Damaged();
  const size_t headerSize = U32(data.data() + 10);
  const size_t header = 14;
  if (headerSize < 32 || headerSize > data.size() - header) throw Damaged();
  const uint8_t* h = data.data() + header;
  const uint32_t flags = U32(h);
  const uint32_t algorithm = U32(h + 8);
  const uint32_t hash = U32(h + 12);
  const uint32_t keyBits = U32(h + 16);
  if ((flags & kFlagAes) || (algorithm != kAlgRc4 && algorithm != 0)) {
    throw Unreadable(QStringLiteral("RC4 CryptoAPI using the cipher %1").arg(Hex(algorithm)));
  }
  if (hash != kAlgSha1 && hash != 0) throw Unreadable(QStringLiteral("RC4 CryptoAPI using the hash %1").arg(Hex(hash)));
  out.keyBits = keyBits == 0 ? 40 : keyBits;
  if (out.keyBits < 40 || out.keyBits > 128 || out.keyBits % 8 != 0) {
    throw Unreadable(QStringLiteral("RC4 CryptoAPI using a %1-bit key").arg(keyBits));
  }
  const size_t verifier = header + headerSize;
  if (data.size() - verifier < 4 + 16 + 16 + 4) throw Damaged();
  if (U32(data.data() + verifier) != 16) throw Damaged();
  const size_t hashSize = U32(data.data() + verifier + 36);
  if (hashSize != 20 || data.size() - verifier - 40 < hashSize) throw Damaged();
  out.method = EncryptionMethod::Rc4CryptoApi;
  out.saltAt = verifier + 4;
  out.verifierAt = verifier + 20;
  out.verifierHashAt = verifier + 40;
  out.verifierHashSize = hashSize;
}

}  // namespace

QString MethodName(EncryptionMethod method) {
  switch (method) {
    case EncryptionMethod::XorObfuscation: return QStringLiteral("XOR obfuscation");
    case EncryptionMethod::Rc4: return QStringLiteral("RC4");
    case EncryptionMethod::Rc4CryptoApi: return QStringLiteral("RC4 CryptoAPI");
  }
  return QString();
}

FilePass ParseFilePass(ByteView data) {
  if (data.size() < 2) throw Damaged();
  FilePass out;
  out.data.assign(data.begin(), data.end());
  const uint16_t type = U16(data.data());
  if (type == kXorType) {
    if (data.size() < 6) throw Damaged();
    out.method = EncryptionMethod::XorObfuscation;
    out.xorKey = U16(data.data() + 2);
    out.xorVerifier = U16(data.data() + 4);
    return out;
  }
  if (type != kRc4Type) throw Unreadable(QStringLiteral("an unknown method (type %1)").arg(type));
  if (data.size() < 6) throw Damaged();
  const uint16_t major = U16(data.data() + 2);
  const uint16_t minor = U16(data.data() + 4);
  if (major == 1 && minor == 1) {
    ParseRc4(data, out);
  } else if (minor == 2 && major >= 2 && major <= 4) {
    ParseCryptoApi(data, out);
  } else {
    throw Unreadable(QStringLiteral("an unknown kind of RC4 encryption (version %1.%2)").arg(major).arg(minor));
  }
  return out;
}
