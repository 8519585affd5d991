#pragma once
// What the machine sends while scanning, as the main window tells it apart:
// acknowledgements, dot replies, sheet records and noise; and the decoding of
// a sheet record into one text value per spreadsheet column.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

enum class BubbleMode { Multiple, Single };

// The marked bubbles among the six low bits, in rising digit order: bit 5 gives
// "1" ... bit 0 gives "6". Bits 6 and 7 are ignored; no mark gives "".
QString DecodeBubbleByte(uint8_t byte);

// One record (the bytes before its terminating "E"): the data after the first
// "~" (all of it when there is none), last byte first, each byte one column
// value; an empty value or "B" becomes a single space. Appends to columns.
void DecodeSheetRecord(const QByteArray& record, BubbleMode mode, QStringList& columns);

struct ReplyOutcome {
  bool acknowledgement = false;      // a reply beginning with "K" was consumed
  std::vector<QStringList> records;  // the column values of each complete record, in order
};

// Classifies the whole reply buffer once all of an event's bytes are in it.
// A buffer starting with "K" is an acknowledgement, one starting with "." a dot
// reply; either is dropped up to the next "S", the lead byte of a record, and
// what follows from there is read as below. Every complete record (up to an
// "E") is decoded while scanning is active, else dropped; what follows its line
// end is taken only as a further record or reply (an unfinished record starting
// with "S" is kept for the next event); anything else is noise and dropped. The
// machine sends one record per sheet, so records are never joined.
ReplyOutcome ClassifyReplyBuffer(QByteArray& buffer, bool scanningActive, BubbleMode mode);
