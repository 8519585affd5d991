#include "spreadsheet/encryption/StreamCipher.h"

#include "spreadsheet/encryption/Rc4.h"
#include "spreadsheet/encryption/SecretMemory.h"
#include "spreadsheet/encryption/XorObfuscation.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <optional>

using namespace Biff;

namespace {

constexpr size_t kBlockSize = 1024;

// Key material that is wiped when it is no longer needed.
struct SecretBytes {
  Bytes bytes;
  explicit SecretBytes(QByteArray from) : bytes(from.begin(), from.end()) { WipeBytes(from.data(), static_cast<size_t>(from.size())); }
  ~SecretBytes() { WipeBytes(bytes.data(), bytes.size()); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
};

QByteArray Utf16Le(QStringView text) {
  QByteArray out;
  out.reserve(text.size() * 2);
  for (QChar c : text) {
    out.append(static_cast<char>(c.unicode() & 0xFF));
    out.append(static_cast<char>(c.unicode() >> 8));
  }
  return out;
}

QByteArray Hash(QCryptographicHash::Algorithm algorithm, const QByteArray& first, const QByteArray& second = {}) {
  QCryptographicHash hash(algorithm);
  hash.addData(first);
  hash.addData(second);
  return hash.result();
}

QByteArray Bytes4(uint32_t value) {
  uint8_t raw[4];
  PutU32(raw, value);
  return QByteArray(reinterpret_cast<const char*>(raw), 4);
}

QByteArray RandomBytes(size_t count) {
  std::array<uint32_t, 8> words{};
  QRandomGenerator::system()->fillRange(words.data(), words.size());
  QByteArray out(reinterpret_cast<const char*>(words.data()), static_cast<qsizetype>(std::min(count, sizeof words)));
  WipeBytes(words.data(), sizeof words);
  return out;
}

QByteArray AsArray(ByteView view) { return QByteArray(reinterpret_cast<const char*>(view.data()), view.size()); }

void Wipe(QByteArray& bytes) {
  WipeBytes(bytes.data(), static_cast<size_t>(bytes.size()));
  bytes.clear();
}

class XorCipher : public StreamCipher {
 public:
  explicit XorCipher(const std::array<uint8_t, 16>& array) : array_(array) {}
  ~XorCipher() override { WipeBytes(array_.data(), array_.size()); }

  void Decrypt(uint8_t* data, size_t size, size_t position, size_t recordSize) override {
    for (size_t n = 0; n < size; ++n) data[n] = XorObfuscation::Clarify(data[n], array_[(position + n + recordSize) % 16]);
  }
  void Encrypt(uint8_t* data, size_t size, size_t position, size_t recordSize) override {
    for (size_t n = 0; n < size; ++n) data[n] = XorObfuscation::Obfuscate(data[n], array_[(position + n + recordSize) % 16]);
  }

 private:
  std::array<uint8_t, 16> array_;
};

// RC4 keyed anew for every 1024-byte block of the stream, the keystream
// running over record headers too although they stay plain.
class BlockRc4Cipher : public StreamCipher {
 public:
  void Decrypt(uint8_t* data, size_t size, size_t position, size_t) override { Apply(data, size, position); }
  void Encrypt(uint8_t* data, size_t size, size_t position, size_t) override { Apply(data, size, position); }

  // Decrypts the verifier and its hash with block 0's key and compares.
  bool Verifies(const FilePass& filePass) {
    QByteArray verifier = AsArray(filePass.EncryptedVerifier());
    QByteArray hash = AsArray(filePass.EncryptedVerifierHash());
    SecretBytes key(BlockKey(0));
    Rc4 rc4(key.bytes);
    rc4.Apply(reinterpret_cast<uint8_t*>(verifier.data()), static_cast<size_t>(verifier.size()));
    rc4.Apply(reinterpret_cast<uint8_t*>(hash.data()), static_cast<size_t>(hash.size()));
    QByteArray expected = VerifierHash(verifier);
    const bool match = expected == hash;
    Wipe(verifier);
    Wipe(expected);
    return match;
  }

  // A random verifier and its hash, encrypted with block 0's key, into the record.
  void WriteVerifier(FilePass& filePass) {
    QByteArray verifier = RandomBytes(16);
    QByteArray hash = VerifierHash(verifier);
    SecretBytes key(BlockKey(0));
    Rc4 rc4(key.bytes);
    rc4.Apply(reinterpret_cast<uint8_t*>(verifier.data()), 16);
    rc4.Apply(reinterpret_cast<uint8_t*>(hash.data()), static_cast<size_t>(hash.size()));
    std::copy(verifier.begin(), verifier.end(), filePass.data.begin() + static_cast<ptrdiff_t>(filePass.verifierAt));
    std::copy(hash.begin(), hash.end(), filePass.data.begin() + static_cast<ptrdiff_t>(filePass.verifierHashAt));
  }

 protected:
  virtual QByteArray BlockKey(uint32_t block) const = 0;
  virtual QByteArray VerifierHash(const QByteArray& verifier) const = 0;

 private:
  void Apply(uint8_t* data, size_t size, size_t position) {
    while (size > 0) {
      const uint32_t block = static_cast<uint32_t>(position / kBlockSize);
      const size_t offset = position % kBlockSize;
      if (!rc4_ || block != block_ || offset < offset_) {
        SecretBytes key(BlockKey(block));
        rc4_.emplace(key.bytes);
        block_ = block;
        offset_ = 0;
      }
      rc4_->Skip(offset - offset_);
      const size_t count = std::min(size, kBlockSize - offset);
      rc4_->Apply(data, count);
      offset_ = offset + count;
      data += count;
      size -= count;
      position += count;
    }
  }

  std::optional<Rc4> rc4_;
  uint32_t block_ = 0;
  size_t offset_ = 0;
};

class Rc4Cipher : public BlockRc4Cipher {
 public:
  Rc4Cipher(QStringView password, ByteView salt) {
    QByteArray text = Utf16Le(password);
    QByteArray first = Hash(QCryptographicHash::Md5, text).left(5);
    QByteArray mixed;
    for (int n = 0; n < 16; ++n) mixed += first + AsArray(salt);
    QByteArray second = Hash(QCryptographicHash::Md5, mixed);
    base_.assign(second.begin(), second.begin() + 5);
    for (QByteArray* bytes : {&text, &first, &mixed, &second}) Wipe(*bytes);
  }
  ~Rc4Cipher() override { WipeBytes(base_.data(), base_.size()); }

 protected:
  QByteArray BlockKey(uint32_t block) const override { return Hash(QCryptographicHash::Md5, AsArray(base_), Bytes4(block)); }
  QByteArray VerifierHash(const QByteArray& verifier) const override { return Hash(QCryptographicHash::Md5, verifier); }

 private:
  Bytes base_;
};

class CryptoApiCipher : public BlockRc4Cipher {
 public:
  CryptoApiCipher(QStringView password, ByteView salt, uint32_t keyBits) : keyBytes_(keyBits / 8) {
    QByteArray text = Utf16Le(password);
    QByteArray first = Hash(QCryptographicHash::Sha1, AsArray(salt), text);
    base_.assign(first.begin(), first.end());
    Wipe(text);
    Wipe(first);
  }
  ~CryptoApiCipher() override { WipeBytes(base_.data(), base_.size()); }

 protected:
  QByteArray BlockKey(uint32_t block) const override {
    QByteArray key = Hash(QCryptographicHash::Sha1, AsArray(base_), Bytes4(block)).left(static_cast<qsizetype>(keyBytes_));
    // A 40-bit key is used as a 128-bit one whose other bits are zero.
    if (keyBytes_ == 5) key.append(11, '\0');
    return key;
  }
  QByteArray VerifierHash(const QByteArray& verifier) const override { return Hash(QCryptographicHash::Sha1, verifier); }

 private:
  Bytes base_;
  size_t keyBytes_;
};

std::unique_ptr<BlockRc4Cipher> MakeBlockCipher(const FilePass& filePass, QStringView password) {
  if (filePass.method == EncryptionMethod::Rc4) return std::make_unique<Rc4Cipher>(password, filePass.Salt());
  return std::make_unique<CryptoApiCipher>(password, filePass.Salt(), filePass.keyBits);
}

}  // namespace

std::unique_ptr<StreamCipher> StreamCipher::Unlock(const FilePass& filePass, QStringView password) {
  if (filePass.method == EncryptionMethod::XorObfuscation) {
    std::vector<uint8_t> bytes = XorObfuscation::PasswordBytes(password);
    std::unique_ptr<StreamCipher> cipher;
    if (!bytes.empty() && XorObfuscation::Verifier(bytes) == filePass.xorVerifier &&
        XorObfuscation::Key(bytes) == filePass.xorKey) {
      cipher = std::make_unique<XorCipher>(XorObfuscation::Array(bytes));
    }
    WipeBytes(bytes.data(), bytes.size());
    return cipher;
  }
  std::unique_ptr<BlockRc4Cipher> cipher = MakeBlockCipher(filePass, password);
  if (!cipher->Verifies(filePass)) return nullptr;
  return cipher;
}

std::unique_ptr<StreamCipher> StreamCipher::Relock(FilePass& filePass, QStringView password) {
  if (filePass.method == EncryptionMethod::XorObfuscation) return Unlock(filePass, password);
  const QByteArray salt = RandomBytes(16);
  std::copy(salt.begin(), salt.end(), filePass.data.begin() + static_cast<ptrdiff_t>(filePass.saltAt));
  std::unique_ptr<BlockRc4Cipher> cipher = MakeBlockCipher(filePass, password);
  cipher->WriteVerifier(filePass);
  return cipher;
}
