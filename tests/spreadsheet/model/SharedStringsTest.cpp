// The shared string table: reading across CONTINUE records, interning, and
// writing back what was read.

#include "spreadsheet/model/SharedStrings.h"

#include <gtest/gtest.h>

namespace {

using Biff::Bytes;
using Biff::ByteView;

// Splits the data records of a written table back into parts as a reader sees them.
std::vector<Bytes> RecordsOf(const Bytes& stream, uint16_t& lastType) {
  std::vector<Bytes> records;
  Biff::RecordCursor cursor(stream, 0);
  Biff::Record record;
  while (cursor.Next(record)) {
    lastType = record.type;
    if (record.type == Biff::kSst || record.type == Biff::kContinue) records.emplace_back(record.data.begin(), record.data.end());
  }
  return records;
}

void Reload(const SharedStrings& from, SharedStrings& into) {
  Biff::BufferSink sink;
  from.Write(sink);
  uint16_t lastType = 0;
  const std::vector<Bytes> records = RecordsOf(sink.Buffer(), lastType);
  EXPECT_EQ(lastType, Biff::kExtSst);
  std::vector<ByteView> parts(records.begin(), records.end());
  into.Load(parts);
}

TEST(SharedStrings, InternsEachTextOnce) {
  SharedStrings strings;
  const uint32_t a = strings.Intern(QStringLiteral("A"));
  const uint32_t b = strings.Intern(QStringLiteral("B"));
  EXPECT_NE(a, b);
  EXPECT_EQ(strings.Intern(QStringLiteral("A")), a);
  EXPECT_EQ(strings.Count(), 2u);
  EXPECT_EQ(strings.Text(b), QStringLiteral("B"));
  EXPECT_TRUE(strings.Text(99).isEmpty());
  EXPECT_TRUE(strings.Grown());
}

TEST(SharedStrings, WritesAndReadsBackAcrossRecordBoundaries) {
  SharedStrings strings;
  std::vector<QString> texts;
  for (int i = 0; i < 3000; ++i) {
    // Narrow and wide strings of every length around the record size.
    texts.push_back(i % 2 ? QString(i % 97 + 1, QChar(u'a' + i % 26)) : QString(i % 53 + 1, QChar(0x0430 + i % 32)));
  }
  texts.push_back(QString(9000, QLatin1Char('n')));
  texts.push_back(QString(9000, QChar(0x4E00)));
  texts.push_back(QString());
  for (const QString& text : texts) strings.Intern(text);
  strings.AddReferences(5);

  SharedStrings again;
  Reload(strings, again);
  ASSERT_EQ(again.Count(), strings.Count());
  for (uint32_t i = 0; i < strings.Count(); ++i) ASSERT_EQ(again.Text(i), strings.Text(i)) << i;
  EXPECT_EQ(again.TotalReferences(), 5u);
  EXPECT_FALSE(again.Grown());
}

TEST(SharedStrings, KeepsFormattingRunsAndPhoneticData) {
  // One rich string with two runs and a 6-byte phonetic block, hand-made.
  Bytes sst{1, 0, 0, 0, 1, 0, 0, 0};
  const uint8_t entry[] = {3, 0, 0x0C, 2, 0, 6, 0, 0, 0, 'a', 'b', 'c', 0, 0, 1, 0, 1, 0, 2, 0, 9, 8, 7, 6, 5, 4};
  sst.insert(sst.end(), std::begin(entry), std::end(entry));
  SharedStrings strings;
  strings.Load({ByteView(sst)});
  EXPECT_EQ(strings.Text(0), QStringLiteral("abc"));
  strings.Intern(QStringLiteral("new"));  // forces the table to be written anew

  Biff::BufferSink sink;
  strings.Write(sink);
  uint16_t lastType = 0;
  const std::vector<Bytes> records = RecordsOf(sink.Buffer(), lastType);
  ASSERT_EQ(records.size(), 1u);
  const Bytes& written = records[0];
  ASSERT_GE(written.size(), sst.size());
  EXPECT_TRUE(std::equal(std::begin(entry), std::end(entry), written.begin() + 8));
}

TEST(SharedStrings, TableCutShortIsAnError) {
  const Bytes sst{2, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 'a', 'b'};
  SharedStrings strings;
  EXPECT_THROW(strings.Load({ByteView(sst)}), Biff::StreamError);
}

}  // namespace
