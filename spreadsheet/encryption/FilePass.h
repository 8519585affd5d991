#pragma once
// The FILEPASS record of a workbook protected with a password to open: which
// of the three methods encrypts the stream, and what tells a right password
// from a wrong one. The record's bytes are kept so that a save writes it back
// as it was, with only a new salt and verifier where the method has them.

#include "spreadsheet/model/BiffRecords.h"

#include <QString>

#include <cstdint>

enum class EncryptionMethod { XorObfuscation, Rc4, Rc4CryptoApi };

QString MethodName(EncryptionMethod method);

struct FilePass {
  EncryptionMethod method = EncryptionMethod::Rc4;
  Biff::Bytes data;  // the record's data

  // XOR obfuscation.
  uint16_t xorKey = 0;
  uint16_t xorVerifier = 0;

  // RC4 and RC4 CryptoAPI: where the 16-byte salt, the 16-byte encrypted
  // verifier and its encrypted hash lie in data.
  size_t saltAt = 0;
  size_t verifierAt = 0;
  size_t verifierHashAt = 0;
  size_t verifierHashSize = 0;  // 16 (MD5) or 20 (SHA-1)
  uint32_t keyBits = 128;       // RC4 CryptoAPI: 40 to 128

  Biff::ByteView Salt() const { return Biff::ByteView(data).subspan(saltAt, 16); }
  Biff::ByteView EncryptedVerifier() const { return Biff::ByteView(data).subspan(verifierAt, 16); }
  Biff::ByteView EncryptedVerifierHash() const {
    return Biff::ByteView(data).subspan(verifierHashAt, verifierHashSize);
  }
};

// Reads the record's data. Throws Biff::StreamError saying why it cannot be
// read: a method or variant this program does not know, or a cut-off record.
FilePass ParseFilePass(Biff::ByteView data);
