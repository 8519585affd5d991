#pragma once
// BIFF8 record vocabulary: record numbers, little-endian field access, a
// cursor over a record stream and the sink that new streams are written to.

#include <QString>

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace Biff {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

enum RecordType : uint16_t {
  kFormula = 0x0006,
  kEof = 0x000A,
  kProtect = 0x0012,
  kPassword = 0x0013,
  kFilePass = 0x002F,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kDefColWidth = 0x0055,
  kObjProtect = 0x0063,
  kColInfo = 0x007D,
  kBoundSheet = 0x0085,
  kMulRk = 0x00BD,
  kMulBlank = 0x00BE,
  kRString = 0x00D6,
  kRecalcId = 0x01C1,
  kDbCell = 0x00D7,
  kScenProtect = 0x00DD,
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kExtSst = 0x00FF,
  kName = 0x0018,
  kExternSheet = 0x0017,
  kExternName = 0x0023,
  kWindow1 = 0x003D,
  kMsoDrawingGroup = 0x00EB,
  kSupBook = 0x01AE,
  kDimensions = 0x0200,
  kBlank = 0x0201,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kString = 0x0207,
  kRow = 0x0208,
  kIndex = 0x020B,
  kArray = 0x0221,
  kDefaultRowHeight = 0x0225,
  kWindow2 = 0x023E,
  kTable = 0x0236,
  kRk = 0x027E,
  kFormulaOld = 0x0406,
  kShrFmla = 0x04BC,
  kBof = 0x0809,
};

constexpr uint16_t kBiff8Version = 0x0600;
constexpr uint16_t kBofGlobals = 0x0005;
constexpr uint16_t kBofWorksheet = 0x0010;
constexpr size_t kHeaderSize = 4;
constexpr size_t kMaxRecordData = 8224;
constexpr uint32_t kMaxRows = 65536;
constexpr uint32_t kMaxColumns = 256;

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline double F64(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The value of an RK number: a 30-bit integer or the high bits of a double,
// optionally divided by 100.
double DecodeRk(uint32_t rk);

// One record inside a stream: where its header starts and its data.
struct Record {
  size_t offset = 0;  // of the 4-byte header within the stream
  uint16_t type = 0;
  ByteView data;
  size_t End() const { return offset + kHeaderSize + data.size(); }
};

// Walks the records of a stream from a position. Next() returns false at the
// end of the stream and throws StreamError when a record runs past it.
class RecordCursor {
 public:
  RecordCursor(ByteView stream, size_t position) : stream_(stream), position_(position) {}
  bool Next(Record& record);
  size_t Position() const { return position_; }

 private:
  ByteView stream_;
  size_t position_;
};

// A workbook stream that cannot be read; the message says why.
class StreamError : public std::runtime_error {
 public:
  explicit StreamError(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

// Where a new stream goes. The writer runs twice over the same plan: once
// into a counting sink to learn every offset, once into the real one.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(const uint8_t* data, size_t size) = 0;
  size_t Position() const { return position_; }

  void Write(ByteView bytes) { Write(bytes.data(), bytes.size()); }
  // A record with its header; data must fit one record.
  void WriteRecord(uint16_t type, ByteView data);

 protected:
  size_t position_ = 0;
};

class CountingSink : public ByteSink {
 public:
  void Write(const uint8_t* /*data*/, size_t size) override { position_ += size; }
};

class BufferSink : public ByteSink {
 public:
  void Write(const uint8_t* data, size_t size) override {
    buffer_.insert(buffer_.end(), data, data + size);
    position_ += size;
  }
  Bytes& Buffer() { return buffer_; }

 private:
  Bytes buffer_;
};

// Text of a BIFF8 unicode string body (after its length and flags): one byte
// per character when compressed, two otherwise. Returns false when the
// characters do not fit in the bytes given.
bool ReadChars(ByteView bytes, size_t count, bool wide, QString& out);

// A BIFF8 XLUnicodeString with a 16-bit length (LABEL, STRING records).
QString ReadUnicodeString16(ByteView data, size_t at);

}  // namespace Biff
