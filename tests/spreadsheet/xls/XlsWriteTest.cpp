// Workbooks the server writes: read back by xlrd with exactly the values
// written, protection real in the file, foreign files kept whole.

#include "SpreadsheetTestSupport.h"
#include "spreadsheet/server/Workbook.h"
#include "spreadsheet/xls/BlankWorkbook.h"
#include "spreadsheet/xls/CompoundFile.h"
#include "spreadsheet/xls/XlsWriter.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

using SheetTest::ScratchDir;

QJsonArray Sheets(const QString& path) { return SheetTest::ProbeJson({QStringLiteral("values"), path}).array(); }

QJsonArray Cells(const QJsonArray& sheets, int sheet) {
  return sheets[sheet].toObject()[QStringLiteral("cells")].toArray();
}

QJsonArray Protection(const QString& path) { return SheetTest::ProbeJson({QStringLiteral("protection"), path}).array(); }

void ExpectStreamPositionsRight(const QString& path) {
  const SheetTest::ProbeResult offsets = SheetTest::Probe({QStringLiteral("offsets"), path});
  EXPECT_EQ(offsets.exitCode, 0) << offsets.out.toStdString() << offsets.err.toStdString();
}

TEST(NewWorkbook, HasOneEmptySheetNamedSheet1ThatXlrdOpens) {
  ScratchDir dir;
  const QString path = dir.Path(QStringLiteral("new.xls"));
  Workbook::CreateBlank()->SaveAs(path);
  const QJsonArray sheets = Sheets(path);
  ASSERT_EQ(sheets.size(), 1);
  EXPECT_EQ(sheets[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("Sheet1"));
  EXPECT_EQ(sheets[0].toObject()[QStringLiteral("nrows")].toInt(), 0);
  const std::unique_ptr<Workbook> again = Workbook::Open(path);
  EXPECT_EQ(again->SheetCount(), 1);
  EXPECT_EQ(again->Sheet(0).RowExtent(), 0u);
}

TEST(NewWorkbook, ValuesReadBackExactlyIncludingNonAsciiAndWideRows) {
  ScratchDir dir;
  const QString path = dir.Path(QStringLiteral("values.xls"));
  const std::unique_ptr<Workbook> book = Workbook::CreateBlank();
  Worksheet& sheet = book->Sheet(0);
  const QString texts[] = {QStringLiteral("Grüße"), QStringLiteral("Москва"), QStringLiteral("漢字テスト"),
                           QStringLiteral(" "), QStringLiteral("0"), QStringLiteral("a\"b\\c"),
                           QStringLiteral("😀 emoji"), QStringLiteral("line\nbreak")};
  // 70 columns in row 1, cycling through the texts; a few other kinds below.
  for (uint32_t col = 0; col < 70; ++col) sheet.SetText(0, col, texts[col % std::size(texts)]);
  sheet.SetNumber(1, 0, 2.5);
  sheet.SetNumber(1, 1, -7);
  sheet.SetBoolean(1, 2, true);
  sheet.SetText(1, 3, QStringLiteral("temporary"));
  sheet.Clear(1, 3);
  // Long texts make the shared string table spill over CONTINUE records,
  // both as one-byte and as two-byte characters.
  sheet.SetText(2, 0, QString(9000, QLatin1Char('x')));
  sheet.SetText(2, 1, QString(5000, QChar(0x0416)));
  sheet.SetText(2, 2, QString(20000, QLatin1Char('y')) + QStringLiteral("Ω"));
  book->SaveAs(path);

  const QJsonArray cells = Cells(Sheets(path), 0);
  QMap<QPair<int, int>, QJsonArray> byCell;
  for (const QJsonValue& cell : cells) byCell[{cell[0].toInt(), cell[1].toInt()}] = cell.toArray();
  for (int col = 0; col < 70; ++col) {
    const QJsonArray cell = byCell.value({0, col});
    EXPECT_EQ(cell[2].toInt(), 1) << col;
    EXPECT_EQ(cell[3].toString(), texts[col % std::size(texts)]) << col;
  }
  EXPECT_EQ(byCell.value({1, 0})[3].toDouble(), 2.5);
  EXPECT_EQ(byCell.value({1, 1})[3].toDouble(), -7);
  EXPECT_EQ(byCell.value({1, 2})[2].toInt(), 4);
  EXPECT_FALSE(byCell.contains({1, 3}));
  EXPECT_EQ(byCell.value({2, 0})[3].toString(), QString(9000, QLatin1Char('x')));
  EXPECT_EQ(byCell.value({2, 1})[3].toString(), QString(5000, QChar(0x0416)));
  EXPECT_EQ(byCell.value({2, 2})[3].toString(), QString(20000, QLatin1Char('y')) + QStringLiteral("Ω"));
  EXPECT_EQ(cells.size(), 70 + 3 + 3);
  ExpectStreamPositionsRight(path);

  // And our own reader agrees after a second round.
  const std::unique_ptr<Workbook> again = Workbook::Open(path);
  EXPECT_EQ(again->Sheet(0).Cell(2, 2).text, QString(20000, QLatin1Char('y')) + QStringLiteral("Ω"));
  EXPECT_EQ(again->Sheet(0).Cell(0, 6).text, QStringLiteral("😀 emoji"));
}

TEST(NewWorkbook, SixtyFiveThousandFourHundredNinetyNineRows) {
  ScratchDir dir;
  const QString path = dir.Path(QStringLiteral("full.xls"));
  const std::unique_ptr<Workbook> book = Workbook::CreateBlank();
  Worksheet& sheet = book->Sheet(0);
  constexpr uint32_t kRows = 65499;
  for (uint32_t row = 0; row < kRows; ++row) {
    sheet.SetText(row, 0, QString::number(row + 1));
    sheet.SetText(row, 65, row % 2 ? QStringLiteral(" ") : QStringLiteral("ä"));
  }
  book->SaveAs(path);
  ExpectStreamPositionsRight(path);
  const QJsonArray sheets = Sheets(path);
  EXPECT_EQ(sheets[0].toObject()[QStringLiteral("nrows")].toInt(), static_cast<int>(kRows));
  const QJsonArray cells = Cells(sheets, 0);
  ASSERT_EQ(cells.size(), static_cast<qsizetype>(2 * kRows));
  for (uint32_t row = 0; row < kRows; ++row) {
    const QJsonArray a = cells[2 * row].toArray();
    const QJsonArray b = cells[2 * row + 1].toArray();
    ASSERT_EQ(a[0].toInt(), static_cast<int>(row));
    ASSERT_EQ(a[3].toString(), QString::number(row + 1));
    ASSERT_EQ(b[1].toInt(), 65);
    ASSERT_EQ(b[3].toString(), row % 2 ? QStringLiteral(" ") : QStringLiteral("ä"));
  }
  // Column A is filled in every row up to 65499: the next free row is 65500.
  const std::unique_ptr<Workbook> again = Workbook::Open(path);
  EXPECT_EQ(again->Sheet(0).Cell(65498, 0).text, QStringLiteral("65499"));
  EXPECT_EQ(again->Sheet(0).Cell(65499, 0).type, CellValue::Type::Empty);
}

TEST(ForeignWorkbook, XlwtFileWithFormatsMergesAndFormulasSurvivesARoundTrip) {
  ScratchDir dir;
  const QString before = dir.Path(QStringLiteral("foreign.xls"));
  ASSERT_EQ(SheetTest::Probe({QStringLiteral("foreign"), before}).exitCode, 0);
  const QString after = dir.Path(QStringLiteral("after.xls"));
  const std::unique_ptr<Workbook> book = Workbook::Open(before);
  ASSERT_EQ(book->SheetCount(), 3);
  uint32_t row = 0;
  while (book->Sheet(0).Cell(row, 0).type != CellValue::Type::Empty) ++row;
  EXPECT_EQ(row, 6u);
  for (uint32_t col = 0; col < 66; ++col) book->Sheet(0).SetText(row, col, QStringLiteral("v%1").arg(col));
  book->SaveAs(after);
  const SheetTest::ProbeResult same = SheetTest::Probe({QStringLiteral("compare"), before, after, QString::number(row)});
  EXPECT_EQ(same.exitCode, 0) << same.out.toStdString() << same.err.toStdString();
  // The formula in B7 shares the row written: it stays next to the new cells.
  const std::unique_ptr<Workbook> again = Workbook::Open(after);
  EXPECT_EQ(again->Sheet(0).Cell(row, 1).text, QStringLiteral("v1"));
  EXPECT_EQ(again->Sheet(1).Cell(3, 5).type, CellValue::Type::Boolean);
}

TEST(ForeignWorkbook, OverwritingCellsInsideMultiCellRecordsKeepsTheirNeighbours) {
  ScratchDir dir;
  const QString path = dir.CopyFixture(QStringLiteral("profiles.xls"));
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  // Every other cell of the first rows of each sheet, right through MULRK
  // and MULBLANK records.
  for (int s = 0; s < book->SheetCount(); ++s) {
    for (uint32_t row = 0; row < 15; ++row) {
      for (uint32_t col = 1; col < 14; col += 2) book->Sheet(s).SetText(row, col, QStringLiteral("n%1.%2").arg(row).arg(col));
    }
  }
  // Snapshot what the model says, then see the saved file say the same.
  QStringList expected;
  for (int s = 0; s < book->SheetCount(); ++s) {
    book->Sheet(s).ForEachCell([&](uint32_t r, uint32_t c, const CellValue& v) {
      expected << QStringLiteral("%1:%2:%3:%4").arg(s).arg(r).arg(c).arg(
          v.type == CellValue::Type::Number ? QString::number(v.number, 'g', 12) : v.text);
    });
  }
  const QString saved = dir.Path(QStringLiteral("saved.xls"));
  book->SaveAs(saved);
  QStringList actual;
  const QJsonArray sheets = Sheets(saved);
  for (int s = 0; s < sheets.size(); ++s) {
    for (const QJsonValue& cell : Cells(sheets, s)) {
      const QJsonArray c = cell.toArray();
      const int type = c[2].toInt();
      actual << QStringLiteral("%1:%2:%3:%4").arg(s).arg(c[0].toInt()).arg(c[1].toInt()).arg(
          type == 2 || type == 3 ? QString::number(c[3].toDouble(), 'g', 12) : c[3].toString());
    }
  }
  EXPECT_EQ(actual, expected);
  ExpectStreamPositionsRight(saved);
}

QJsonObject RowInfo(const QString& path) { return SheetTest::ProbeJson({QStringLiteral("rows"), path}).object(); }

TEST(NewRows, TakeTheSheetsDefaultHeightAndOptions) {
  // A sheet whose rows are 400 twips by default, not in step with their
  // font and with extra space below.
  WorkbookParts parts;
  parts.stream = BlankWorkbookStream();
  Biff::RecordCursor cursor(parts.stream, 0);
  Biff::Record record;
  while (cursor.Next(record) && record.type != Biff::kDefaultRowHeight) {}
  ASSERT_EQ(record.type, Biff::kDefaultRowHeight);
  Biff::PutU16(parts.stream.data() + record.offset + 4, 0x0009);
  Biff::PutU16(parts.stream.data() + record.offset + 6, 400);
  ReadWorkbookStream(parts);
  parts.sheets[0]->SetText(3, 0, QStringLiteral("new row"));

  ScratchDir dir;
  const QString path = dir.Path(QStringLiteral("rows.xls"));
  FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
  ASSERT_NE(file, nullptr);
  CompoundFile::Write(file, path, CompoundFile::NewDocument(),
                      [&parts](Biff::ByteSink& sink) { WriteWorkbookStream(parts, sink); });
  std::fclose(file);
  const QJsonObject rows = RowInfo(path);
  const QJsonObject row = rows[QStringLiteral("rows")].toObject()[QStringLiteral("3")].toObject();
  EXPECT_EQ(row[QStringLiteral("height")].toInt(), 400);
  EXPECT_EQ(row[QStringLiteral("height_mismatch")].toInt(), 1);
  EXPECT_EQ(row[QStringLiteral("additional_space_below")].toInt(), 1);
  EXPECT_EQ(row[QStringLiteral("additional_space_above")].toInt(), 0);
  EXPECT_EQ(row[QStringLiteral("hidden")].toInt(), 0);
}

TEST(NewRows, InACalcWorkbookMatchTheDefaultRowWhileExistingRowsKeepTheirs) {
  ScratchDir dir;
  const QString before = dir.CopyFixture(QStringLiteral("Formate.xls"));
  const QString after = dir.Path(QStringLiteral("after.xls"));
  const std::unique_ptr<Workbook> book = Workbook::Open(before);
  const uint32_t row = book->Sheet(0).RowExtent() + 2;
  book->Sheet(0).SetText(row, 0, QStringLiteral("appended"));
  book->Sheet(0).SetText(1, 7, QStringLiteral("into a row that has a ROW record"));
  book->SaveAs(after);
  const QJsonObject beforeRows = RowInfo(before);
  const QJsonObject afterRows = RowInfo(after);
  const QJsonObject defaults = afterRows[QStringLiteral("default")].toObject();
  ASSERT_NE(defaults[QStringLiteral("height")].toInt(), 0xFF);  // Calc's own default, not the old fixed height
  QJsonObject expected = afterRows[QStringLiteral("rows")].toObject()[QString::number(row)].toObject();
  EXPECT_EQ(expected, defaults);
  QJsonObject kept = afterRows[QStringLiteral("rows")].toObject();
  kept.remove(QString::number(row));
  EXPECT_EQ(kept, beforeRows[QStringLiteral("rows")].toObject());
}

TEST(Protection, IsRealInTheFileSetSavedReopenedAndCleared) {
  ScratchDir dir;
  const QString path = dir.Path(QStringLiteral("protected.xls"));
  {
    const std::unique_ptr<Workbook> book = Workbook::CreateBlank();
    book->Sheet(0).SetText(0, 0, QStringLiteral("head"));
    book->Sheet(0).SetProtected(true);
    book->SaveAs(path);
  }
  EXPECT_EQ(Protection(path), QJsonArray{true});
  {
    const std::unique_ptr<Workbook> book = Workbook::Open(path);
    EXPECT_TRUE(book->Sheet(0).Protected());
    book->Sheet(0).SetProtected(false);
    book->Save();
  }
  EXPECT_EQ(Protection(path), QJsonArray{false});
  EXPECT_FALSE(Workbook::Open(path)->Sheet(0).Protected());
}

TEST(Protection, ForeignSheetsKeepTheirOwnProtectionUntilChanged) {
  ScratchDir dir;
  const QString path = dir.CopyFixture(QStringLiteral("namesdemo.xls"));
  const QJsonArray before = Protection(path);
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  for (int s = 0; s < book->SheetCount(); ++s) EXPECT_EQ(book->Sheet(s).Protected(), before[s].toBool()) << s;
  book->Sheet(2).SetProtected(!book->Sheet(2).Protected());
  book->Save();
  QJsonArray after = before;
  after[2] = !before[2].toBool();
  EXPECT_EQ(Protection(path), after);
}

}  // namespace
