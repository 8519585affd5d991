#include "spreadsheet/model/BiffRecords.h"

namespace Biff {

double DecodeRk(uint32_t rk) {
  double value = 0;
  if (rk & 0x02) {
    value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    const uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&value, &bits, sizeof value);
  }
  return (rk & 0x01) ? value / 100.0 : value;
}

bool RecordCursor::Next(Record& record) {
  if (position_ >= stream_.size()) return false;
  if (stream_.size() - position_ < kHeaderSize) {
    throw StreamError(QStringLiteral("the workbook stream is truncated (a record header at byte %1 is cut off)")
                          .arg(position_));
  }
  const uint8_t* header = stream_.data() + position_;
  const size_t size = U16(header + 2);
  if (stream_.size() - position_ - kHeaderSize < size) {
    throw StreamError(QStringLiteral("the workbook stream is truncated (the record at byte %1 is cut off)")
                          .arg(position_));
  }
  record.offset = position_;
  record.type = U16(header);
  record.data = stream_.subspan(position_ + kHeaderSize, size);
  position_ += kHeaderSize + size;
  return true;
}

void ByteSink::WriteRecord(uint16_t type, ByteView data) {
  uint8_t header[kHeaderSize];
  PutU16(header, type);
  PutU16(header + 2, static_cast<uint16_t>(data.size()));
  Write(header, kHeaderSize);
  if (!data.empty()) Write(data.data(), data.size());
}

bool ReadChars(ByteView bytes, size_t count, bool wide, QString& out) {
  const size_t need = wide ? count * 2 : count;
  if (bytes.size() < need) return false;
  if (wide) {
    const qsizetype start = out.size();
    out.resize(start + static_cast<qsizetype>(count));
    char16_t* chars = reinterpret_cast<char16_t*>(out.data()) + start;
    for (size_t i = 0; i < count; ++i) chars[i] = U16(bytes.data() + 2 * i);
  } else {
    out.append(QLatin1String(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(count)));
  }
  return true;
}

QString ReadUnicodeString16(ByteView data, size_t at) {
  QString text;
  if (data.size() < at + 3) return text;
  const size_t count = U16(data.data() + at);
  const uint8_t flags = data[at + 2];
  size_t start = at + 3;
  if (flags & 0x08) start += 2;  // rich text run count
  if (flags & 0x04) start += 4;  // phonetic block size
  if (start > data.size()) return text;
  ReadChars(data.subspan(start), count, (flags & 0x01) != 0, text);
  return text;
}

}  // namespace Biff
