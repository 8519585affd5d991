// Framing and decoding of what the machine sends while scanning.
#include "app/SheetRecordDecoder.h"

#include <gtest/gtest.h>

namespace {

QByteArray Bytes(std::initializer_list<int> values) {
  QByteArray out;
  for (int v : values) out.append(static_cast<char>(v));
  return out;
}

struct LineBuffer {
  QByteArray buffer;
  QStringList columns;
  ReplyOutcome Feed(const QByteArray& bytes, bool scanning = true, BubbleMode mode = BubbleMode::Multiple) {
    buffer += bytes;
    return ClassifyReplyBuffer(buffer, scanning, mode, columns);
  }
};

TEST(DecodeBubbleByte, SixLowBitsInRisingDigitOrder) {
  EXPECT_EQ(DecodeBubbleByte(0x20), "1");
  EXPECT_EQ(DecodeBubbleByte(0x01), "6");
  EXPECT_EQ(DecodeBubbleByte(0x21), "16");
  EXPECT_EQ(DecodeBubbleByte(0x0C), "34");
  EXPECT_EQ(DecodeBubbleByte(0x3F), "123456");
  EXPECT_EQ(DecodeBubbleByte(0xC0), "");
  EXPECT_EQ(DecodeBubbleByte(0x53), "256");
}

TEST(ClassifyReplyBuffer, WorkedExamples) {
  struct Case { BubbleMode mode; QByteArray bytes; QStringList columns; };
  const Case cases[] = {
      {BubbleMode::Multiple, Bytes({0x53, 0x31, 0x7E, 0x21, 0x00, 0x0C, 0x45}), {"34", " ", "16"}},
      {BubbleMode::Multiple, Bytes({0x53, 0x7E, 0x3F, 0xC0, 0x45, 0x0D, 0x0A}), {" ", "123456"}},
      {BubbleMode::Single, Bytes({0x53, 0x7E, 0x41, 0x42, 0x43, 0x45}), {"C", " ", "A"}},
      {BubbleMode::Single, Bytes({0x53, 0x7E, 0x31, 0x20, 0x45}), {" ", "1"}},
  };
  for (const Case& c : cases) {
    LineBuffer run;
    const ReplyOutcome out = run.Feed(c.bytes, true, c.mode);
    EXPECT_EQ(out.recordsDecoded, 1);
    EXPECT_EQ(run.columns, c.columns) << c.bytes.toHex().constData();
    EXPECT_TRUE(run.buffer.isEmpty());
  }
}

TEST(ClassifyReplyBuffer, RecordSplitAcrossEventsIsKeptUntilComplete) {
  LineBuffer run;
  EXPECT_EQ(run.Feed(Bytes({0x53, 0x31, 0x7E})).recordsDecoded, 0);
  EXPECT_EQ(run.buffer, Bytes({0x53, 0x31, 0x7E}));
  EXPECT_EQ(run.Feed(Bytes({0x21, 0x45, 0x0D, 0x0A})).recordsDecoded, 1);
  EXPECT_EQ(run.columns, QStringList({"16"}));
  EXPECT_TRUE(run.buffer.isEmpty());
}

TEST(ClassifyReplyBuffer, AcknowledgementBurstIsConsumedWhole) {
  LineBuffer run;
  const ReplyOutcome out = run.Feed("KS~\x21" "E\r\n");
  EXPECT_TRUE(out.acknowledgement);
  EXPECT_EQ(out.recordsDecoded, 0);
  EXPECT_TRUE(run.columns.isEmpty());
  EXPECT_TRUE(run.buffer.isEmpty());
  EXPECT_TRUE(run.Feed("K", false).acknowledgement) << "acknowledged whether scanning or not";
}

TEST(ClassifyReplyBuffer, EveryCompleteRecordInOneEventIsKept) {
  LineBuffer run;
  const ReplyOutcome out = run.Feed("S~\x20\x10" "E\r\nS1~\x08" "E\r\nS~\x04");
  EXPECT_EQ(out.recordsDecoded, 2);
  EXPECT_EQ(run.columns, QStringList({"2", "1", "3"}));
  EXPECT_EQ(run.buffer, "S~\x04") << "the unfinished third record waits for its end";
  run.Feed("E\r\nK");
  EXPECT_EQ(run.columns, QStringList({"2", "1", "3", "4"}));
  EXPECT_TRUE(run.buffer.isEmpty());
}

TEST(ClassifyReplyBuffer, AnAcknowledgementAfterARecordIsStillSeen) {
  LineBuffer run;
  const ReplyOutcome out = run.Feed("S~\x20" "E\r\nK");
  EXPECT_EQ(out.recordsDecoded, 1);
  EXPECT_TRUE(out.acknowledgement);
}

TEST(ClassifyReplyBuffer, RecordEdgeCases) {
  LineBuffer cut;  // a data byte 0x45 ends the record there; the rest is no record
  EXPECT_EQ(cut.Feed(Bytes({0x53, 0x7E, 0x20, 0x45, 0x10, 0x45, 0x0D, 0x0A})).recordsDecoded, 1);
  EXPECT_EQ(cut.columns, QStringList({"1"}));
  EXPECT_TRUE(cut.buffer.isEmpty());
  LineBuffer noSeparator;  // lead byte and header count as data: "S" is the last column
  noSeparator.Feed(Bytes({0x53, 0x20, 0x10, 0x45}));
  EXPECT_EQ(noSeparator.columns, QStringList({"2", "1", "256"}));
  LineBuffer empty;  // no data at all: nothing appended, but it is a record
  EXPECT_EQ(empty.Feed("S~E\r\n").recordsDecoded, 1);
  EXPECT_TRUE(empty.columns.isEmpty());
  LineBuffer headless;  // an "E" without the lead byte is still a record
  EXPECT_EQ(headless.Feed("x~\x20" "E").recordsDecoded, 1);
}

TEST(ClassifyReplyBuffer, DotRepliesNoiseAndIdleRecordsAreDropped) {
  LineBuffer run;
  run.Feed(".S~\x20");
  EXPECT_TRUE(run.buffer.isEmpty());
  run.Feed("xyz S");
  EXPECT_TRUE(run.buffer.isEmpty());
  run.Feed("S~\x20");
  EXPECT_FALSE(run.buffer.isEmpty());
  const ReplyOutcome idle = run.Feed("E\r\n", false);
  EXPECT_EQ(idle.recordsDecoded, 0);
  EXPECT_TRUE(run.columns.isEmpty());
  EXPECT_TRUE(run.buffer.isEmpty());
}

}  // namespace
