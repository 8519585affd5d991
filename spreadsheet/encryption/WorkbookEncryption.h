#pragma once
// A workbook stream protected with a password to open. Record headers stay
// plain, as do a few records (BOF, FILEPASS, the interface and lock records)
// and the sheet positions of BOUNDSHEET; everything else after FILEPASS is
// encrypted. Opening decrypts the stream in place once a password fits;
// saving encrypts the new stream on its way out, by the same method and
// password. The password lives only here, in memory, and is wiped with it.

#include "spreadsheet/encryption/FilePass.h"
#include "spreadsheet/model/BiffRecords.h"

#include <QString>

#include <memory>

class StreamCipher;

// The password the format uses when the user gave none, e.g. for a workbook
// whose structure is protected: readers open such files without asking.
extern const QString kDefaultWorkbookPassword;

class WorkbookEncryption {
 public:
  // The stream's encryption, or nullptr for a plain stream. Throws
  // Biff::StreamError when it is encrypted in a way that cannot be read.
  static std::unique_ptr<WorkbookEncryption> Find(Biff::ByteView stream);
  ~WorkbookEncryption();
  WorkbookEncryption(const WorkbookEncryption&) = delete;
  WorkbookEncryption& operator=(const WorkbookEncryption&) = delete;

  EncryptionMethod Method() const { return filePass_.method; }
  // Keeps the password when it opens the workbook.
  bool Unlock(QStringView password);
  // Wipes the password; the workbook can no longer be saved encrypted.
  void Forget();

  // Decrypts the records after FILEPASS in place (after Unlock).
  void Decrypt(Biff::Bytes& stream);

  // Encrypts what is written through it into out. freshSalt gives the
  // record a new salt and verifier; without it other streams encrypted with
  // the old key stay readable. Finish() checks that the stream was whole.
  class Sink;
  std::unique_ptr<Sink> Encrypting(Biff::ByteSink& out, bool freshSalt);

 private:
  explicit WorkbookEncryption(FilePass filePass) : filePass_(std::move(filePass)) {}

  FilePass filePass_;
  std::u16string password_;  // wiped by Forget
  bool unlocked_ = false;
};

class WorkbookEncryption::Sink : public Biff::ByteSink {
 public:
  ~Sink() override;
  void Write(const uint8_t* data, size_t size) override;
  // Throws Biff::StreamError when the stream had no FILEPASS record of the
  // same size to carry the new one: it would not be encrypted.
  void Finish() const;

 private:
  friend class WorkbookEncryption;
  class Walker;
  Sink(Biff::ByteSink& out, std::unique_ptr<StreamCipher> cipher, Biff::Bytes filePass);

  Biff::ByteSink& out_;
  std::unique_ptr<StreamCipher> cipher_;
  std::unique_ptr<Walker> walker_;
  Biff::Bytes filePass_;  // the record's new data, copied in as it passes
};
