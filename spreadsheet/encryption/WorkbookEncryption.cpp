#include "spreadsheet/encryption/WorkbookEncryption.h"

#include "spreadsheet/encryption/SecretMemory.h"
#include "spreadsheet/encryption/StreamCipher.h"

#include <algorithm>

using namespace Biff;

const QString kDefaultWorkbookPassword = QStringLiteral("VelvetSweatshop");

namespace {

constexpr uint16_t kUsrExcl = 0x0194;
constexpr uint16_t kFileLock = 0x0195;
constexpr uint16_t kInterfaceHdr = 0x00E1;
constexpr uint16_t kRrdInfo = 0x0196;
constexpr uint16_t kRrdHead = 0x0138;
constexpr size_t kSheetPositionSize = 4;  // BOUNDSHEET's lbPlyPos

// How many bytes at the start of a record's data stay plain.
size_t PlainPrefix(uint16_t type, size_t size) {
  switch (type) {
    case kBof: case kFilePass: case kUsrExcl: case kFileLock: case kInterfaceHdr: case kRrdInfo: case kRrdHead:
      return size;
    case kBoundSheet:
      return std::min(size, kSheetPositionSize);
    default:
      return 0;
  }
}

}  // namespace

// Follows the records as the stream's bytes pass, in order and in pieces of
// any size, and transforms what the format encrypts: everything after the
// first FILEPASS record but headers and the plain records.
class WorkbookEncryption::Sink::Walker {
 public:
  Walker(StreamCipher& cipher, bool encrypt, ByteView newFilePass = {})
      : cipher_(cipher), encrypt_(encrypt), newFilePass_(newFilePass) {}

  void Process(uint8_t* data, size_t size) {
    while (size > 0) {
      if (headerHave_ < kHeaderSize) {
        const size_t take = std::min(kHeaderSize - headerHave_, size);
        std::copy_n(data, take, header_ + headerHave_);
        headerHave_ += take;
        Advance(data, size, take);
        if (headerHave_ == kHeaderSize) StartRecord();
        continue;
      }
      const size_t take = std::min(dataSize_ - dataDone_, size);
      RecordData(data, take);
      dataDone_ += take;
      Advance(data, size, take);
      if (dataDone_ == dataSize_) EndRecord();
    }
  }

  bool Whole() const { return sawFilePass_ && filePassFits_ && headerHave_ == 0; }

 private:
  void Advance(uint8_t*& data, size_t& size, size_t count) {
    data += count;
    size -= count;
    position_ += count;
  }

  void StartRecord() {
    type_ = U16(header_);
    dataSize_ = U16(header_ + 2);
    dataDone_ = 0;
    if (type_ == kFilePass && !active_ && !newFilePass_.empty()) filePassFits_ = newFilePass_.size() == dataSize_;
    if (dataSize_ == 0) EndRecord();
  }

  void EndRecord() {
    if (type_ == kFilePass && !active_) {
      active_ = true;
      sawFilePass_ = true;
    }
    headerHave_ = 0;
  }

  void RecordData(uint8_t* data, size_t size) {
    if (!active_) {
      if (type_ == kFilePass && filePassFits_ && !newFilePass_.empty()) {
        std::copy_n(newFilePass_.data() + dataDone_, size, data);
      }
      return;
    }
    const size_t plain = PlainPrefix(type_, dataSize_);
    const size_t skip = dataDone_ < plain ? std::min(plain - dataDone_, size) : 0;
    if (skip == size) return;
    // position_ is where this piece starts.
    uint8_t* start = data + skip;
    const size_t at = position_ + skip;
    if (encrypt_) {
      cipher_.Encrypt(start, size - skip, at, dataSize_);
    } else {
      cipher_.Decrypt(start, size - skip, at, dataSize_);
    }
  }

  StreamCipher& cipher_;
  const bool encrypt_;
  const ByteView newFilePass_;
  uint8_t header_[kHeaderSize] = {};
  size_t headerHave_ = 0;
  uint16_t type_ = 0;
  size_t dataSize_ = 0;
  size_t dataDone_ = 0;
  size_t position_ = 0;
  bool active_ = false;
  bool sawFilePass_ = false;
  bool filePassFits_ = true;
};

std::unique_ptr<WorkbookEncryption> WorkbookEncryption::Find(ByteView stream) {
  RecordCursor cursor(stream, 0);
  Record record;
  // Only a BIFF8 workbook's FILEPASS has this form; older ones are refused
  // for their version by the reader.
  if (!cursor.Next(record) || record.type != kBof || record.data.size() < 4 || U16(record.data.data()) != kBiff8Version) {
    return nullptr;
  }
  while (cursor.Next(record) && record.type != kEof) {
    if (record.type == kFilePass) return std::unique_ptr<WorkbookEncryption>(new WorkbookEncryption(ParseFilePass(record.data)));
  }
  return nullptr;
}

WorkbookEncryption::~WorkbookEncryption() { Forget(); }

bool WorkbookEncryption::Unlock(QStringView password) {
  if (!StreamCipher::Unlock(filePass_, password)) return false;
  Forget();
  password_.assign(password.utf16(), static_cast<size_t>(password.size()));
  unlocked_ = true;
  return true;
}

void WorkbookEncryption::Forget() {
  WipeBytes(password_.data(), password_.size() * sizeof(char16_t));
  password_.clear();
  password_.shrink_to_fit();
  unlocked_ = false;
}

void WorkbookEncryption::Decrypt(Bytes& stream) {
  const std::unique_ptr<StreamCipher> cipher = unlocked_ ? StreamCipher::Unlock(filePass_, QStringView(password_)) : nullptr;
  if (!cipher) throw StreamError(QStringLiteral("internal error: the workbook's password is not known"));
  Sink::Walker(*cipher, false).Process(stream.data(), stream.size());
}

std::unique_ptr<WorkbookEncryption::Sink> WorkbookEncryption::Encrypting(ByteSink& out, bool freshSalt) {
  const QStringView password(password_);
  std::unique_ptr<StreamCipher> cipher =
      unlocked_ ? (freshSalt ? StreamCipher::Relock(filePass_, password) : StreamCipher::Unlock(filePass_, password)) : nullptr;
  if (!cipher) throw StreamError(QStringLiteral("its password is no longer known, so it cannot be encrypted again"));
  return std::unique_ptr<Sink>(new Sink(out, std::move(cipher), filePass_.data));
}

WorkbookEncryption::Sink::Sink(ByteSink& out, std::unique_ptr<StreamCipher> cipher, Bytes filePass)
    : out_(out), cipher_(std::move(cipher)), filePass_(std::move(filePass)) {
  walker_ = std::make_unique<Walker>(*cipher_, true, ByteView(filePass_));
}

WorkbookEncryption::Sink::~Sink() = default;

void WorkbookEncryption::Sink::Write(const uint8_t* data, size_t size) {
  Bytes piece(data, data + size);
  walker_->Process(piece.data(), piece.size());
  out_.Write(piece.data(), piece.size());
  position_ += size;
}

void WorkbookEncryption::Sink::Finish() const {
  if (!walker_->Whole()) throw StreamError(QStringLiteral("internal error: the workbook stream could not be encrypted whole"));
}
