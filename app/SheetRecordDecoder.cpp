#include "app/SheetRecordDecoder.h"

QString DecodeBubbleByte(uint8_t byte) {
  QString digits;
  for (int bubble = 1; bubble <= 6; ++bubble) {
    if (byte & (0x40 >> bubble)) digits += QChar('0' + bubble);
  }
  return digits;
}

void DecodeSheetRecord(const QByteArray& record, BubbleMode mode, QStringList& columns) {
  const qsizetype separator = record.indexOf('~');
  const QByteArray data = separator < 0 ? record : record.mid(separator + 1);
  for (qsizetype i = data.size() - 1; i >= 0; --i) {
    const auto byte = static_cast<uint8_t>(data[i]);
    QString value = mode == BubbleMode::Multiple ? DecodeBubbleByte(byte) : QString(QChar::fromLatin1(static_cast<char>(byte)));
    if (value.isEmpty() || value == QLatin1String("B")) value = QStringLiteral(" ");
    columns.append(value);
  }
}

ReplyOutcome ClassifyReplyBuffer(QByteArray& buffer, bool scanningActive, BubbleMode mode) {
  ReplyOutcome outcome;
  bool afterRecord = false;
  while (!buffer.isEmpty()) {
    // Behind a record only a further record (or a reply) is taken: the rest of
    // a record cut short by a stray "E" is dropped, not made into columns.
    if (afterRecord && buffer.front() != 'S' && buffer.front() != 'K' && buffer.front() != '.') {
      buffer.clear();
      break;
    }
    if (buffer.front() == 'K' || buffer.front() == '.') {
      if (buffer.front() == 'K') outcome.acknowledgement = true;
      // A record can arrive in the same burst as the reply (the adapter and a
      // busy desktop join them), so it is not thrown away with the reply. What
      // comes before its lead byte is the reply's own text and never a row.
      const qsizetype lead = buffer.indexOf('S', 1);
      if (lead < 0) {
        buffer.clear();
        break;
      }
      buffer.remove(0, lead);
      continue;
    }
    const qsizetype end = buffer.indexOf('E');
    if (end < 0) {
      if (buffer.front() != 'S') buffer.clear();  // noise; an unfinished record waits
      break;
    }
    if (scanningActive) {
      QStringList columns;
      DecodeSheetRecord(buffer.left(end), mode, columns);
      outcome.records.push_back(std::move(columns));
    }
    // Records pile up in one event while the window is busy: every one counts.
    // The record's line end is its trailer; what follows is a new buffer.
    qsizetype next = end + 1;
    while (next < buffer.size() && (buffer[next] == '\r' || buffer[next] == '\n')) ++next;
    buffer.remove(0, next);
    afterRecord = true;
  }
  return outcome;
}
