// Framing and decoding of what the machine sends while scanning.
#include "app/SheetRecordDecoder.h"

#include <gtest/gtest.h>

namespace {

QByteArray Bytes(std::initializer_list<int> values) {
  QByteArray out;
  for (int v : values) out.append(static_cast<char>(v));
  return out;
}

// The buffer across events, and every record decoded so far, each on its own.
struct LineBuffer {
  QByteArray buffer;
  std::vector<QStringList> records;
  ReplyOutcome Feed(const QByteArray& bytes, bool scanning = true, BubbleMode mode = BubbleMode::Multiple) {
    buffer += bytes;
    ReplyOutcome out = ClassifyReplyBuffer(buffer, scanning, mode);
    records.insert(records.end(), out.records.begin(), out.records.end());
    return out;
  }
  QStringList Only() const { return records.size() == 1 ? records.front() : QStringList{"<not one record>"}; }
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
    EXPECT_EQ(out.records.size(), 1u);
    EXPECT_EQ(run.Only(), c.columns) << c.bytes.toHex().constData();
    EXPECT_TRUE(run.buffer.isEmpty());
  }
}

TEST(ClassifyReplyBuffer, RecordSplitAcrossEventsIsKeptUntilComplete) {
  LineBuffer run;
  EXPECT_EQ(run.Feed(Bytes({0x53, 0x31, 0x7E})).records.size(), 0u);
  EXPECT_EQ(run.buffer, Bytes({0x53, 0x31, 0x7E}));
  EXPECT_EQ(run.Feed(Bytes({0x21, 0x45, 0x0D, 0x0A})).records.size(), 1u);
  EXPECT_EQ(run.Only(), QStringList({"16"}));
  EXPECT_TRUE(run.buffer.isEmpty());
}

TEST(ClassifyReplyBuffer, ARecordInTheSameBurstAsAReplyIsNotLost) {
  struct Case { const char* what; QByteArray bytes; bool acknowledgement; std::vector<QStringList> records; };
  const Case cases[] = {
      {"K and a record", "KS~\x21" "E\r\n", true, {{"16"}}},
      {"K, CR LF and a record", "K\r\nS01~\x20\x10" "E\r\n", true, {{"2", "1"}}},
      {"a longer reply: its text is never a row", "K OK, READY E\r\n", true, {}},
      {"the rest of a reply before the record", "K E\r\nS~\x08" "E", true, {{"3"}}},
      {"a dot reply and a record", ".\r\nS~\x04" "E\r\n", false, {{"4"}}},
      {"two replies and two records", "KS~\x20" "E\r\nK\r\nS~\x10" "E", true, {{"1"}, {"2"}}},
  };
  for (const Case& c : cases) {
    LineBuffer run;
    const ReplyOutcome out = run.Feed(c.bytes);
    EXPECT_EQ(out.acknowledgement, c.acknowledgement) << c.what;
    EXPECT_EQ(run.records, c.records) << c.what;
    EXPECT_TRUE(run.buffer.isEmpty()) << c.what;
  }
  LineBuffer idle;  // acknowledged whether scanning or not; the record is dropped as any idle one
  EXPECT_TRUE(idle.Feed("KS~\x21" "E", false).acknowledgement);
  EXPECT_TRUE(idle.records.empty());
  EXPECT_TRUE(idle.buffer.isEmpty());
}

TEST(ClassifyReplyBuffer, AnUnfinishedRecordBehindAReplyWaitsForItsEnd) {
  LineBuffer run;
  EXPECT_TRUE(run.Feed("K\r\nS12~\x20").acknowledgement);
  EXPECT_EQ(run.buffer, "S12~\x20");
  const ReplyOutcome rest = run.Feed("\x01" "E\r\n");
  EXPECT_FALSE(rest.acknowledgement);
  EXPECT_EQ(run.Only(), QStringList({"6", "1"}));
  EXPECT_TRUE(run.buffer.isEmpty());
  LineBuffer dot;
  dot.Feed(".S~");
  EXPECT_EQ(dot.buffer, "S~");
}

TEST(ClassifyReplyBuffer, EveryCompleteRecordInOneEventIsKeptApart) {
  LineBuffer run;
  const ReplyOutcome out = run.Feed("S~\x20\x10" "E\r\nS1~\x08" "E\r\nS~\x04");
  EXPECT_EQ(out.records.size(), 2u);
  EXPECT_EQ(run.buffer, "S~\x04") << "the unfinished third record waits for its end";
  run.Feed("E\r\nK");
  const std::vector<QStringList> each{{"2", "1"}, {"3"}, {"4"}};
  EXPECT_EQ(run.records, each) << "one record, one list: never joined";
  EXPECT_TRUE(run.buffer.isEmpty());
  // Four records of 66 columns in one burst stay four lists of 66.
  QByteArray burst;
  for (int i = 0; i < 4; ++i) burst += "S000" + QByteArray::number(i) + "~" + QByteArray(66, '\x20') + "E\r\n";
  LineBuffer four;
  ASSERT_EQ(four.Feed(burst).records.size(), 4u);
  for (const QStringList& record : four.records) EXPECT_EQ(record.size(), 66);
}

TEST(ClassifyReplyBuffer, AnAcknowledgementAfterARecordIsStillSeen) {
  LineBuffer run;
  const ReplyOutcome out = run.Feed("S~\x20" "E\r\nK");
  EXPECT_EQ(out.records.size(), 1u);
  EXPECT_TRUE(out.acknowledgement);
}

TEST(ClassifyReplyBuffer, RecordEdgeCases) {
  LineBuffer cut;  // a data byte 0x45 ends the record there; the rest is no record
  EXPECT_EQ(cut.Feed(Bytes({0x53, 0x7E, 0x20, 0x45, 0x10, 0x45, 0x0D, 0x0A})).records.size(), 1u);
  EXPECT_EQ(cut.Only(), QStringList({"1"}));
  EXPECT_TRUE(cut.buffer.isEmpty());
  LineBuffer noSeparator;  // lead byte and header count as data: "S" is the last column
  noSeparator.Feed(Bytes({0x53, 0x20, 0x10, 0x45}));
  EXPECT_EQ(noSeparator.Only(), QStringList({"2", "1", "256"}));
  LineBuffer empty;  // no data at all: no values, but it is a record (a row of blanks)
  EXPECT_EQ(empty.Feed("S~E\r\n").records.size(), 1u);
  EXPECT_EQ(empty.Only(), QStringList());
  LineBuffer headless;  // an "E" without the lead byte is still a record
  EXPECT_EQ(headless.Feed("x~\x20" "E").records.size(), 1u);
}

TEST(ClassifyReplyBuffer, DotRepliesNoiseAndIdleRecordsAreDropped) {
  LineBuffer run;
  run.Feed(".\r\n");
  EXPECT_TRUE(run.buffer.isEmpty());
  run.Feed("xyz S");
  EXPECT_TRUE(run.buffer.isEmpty());
  run.Feed("S~\x20");
  EXPECT_FALSE(run.buffer.isEmpty());
  const ReplyOutcome idle = run.Feed("E\r\n", false);
  EXPECT_EQ(idle.records.size(), 0u);
  EXPECT_TRUE(run.records.empty());
  EXPECT_TRUE(run.buffer.isEmpty());
}

}  // namespace
