#pragma once
// The keys of a workbook stream protected with a password to open, and the
// transformation of its bytes where they lie in the stream. A cipher exists
// only for a password that was checked against the FILEPASS record, or for
// one that made the record anew.

#include "spreadsheet/encryption/FilePass.h"

#include <QString>

#include <memory>

class StreamCipher {
 public:
  virtual ~StreamCipher() = default;

  // The cipher of the password, or nullptr when the password does not open
  // the workbook.
  static std::unique_ptr<StreamCipher> Unlock(const FilePass& filePass, QStringView password);
  // A new salt and verifier for the same method and password, written into
  // filePass.data; XOR obfuscation has neither and stays as it is.
  static std::unique_ptr<StreamCipher> Relock(FilePass& filePass, QStringView password);

  // size bytes of data at stream position `position`, inside a record whose
  // data are recordSize bytes long (XOR obfuscation starts each record's
  // array where that puts it). Calls should come in stream order.
  virtual void Decrypt(uint8_t* data, size_t size, size_t position, size_t recordSize) = 0;
  virtual void Encrypt(uint8_t* data, size_t size, size_t position, size_t recordSize) = 0;
};
