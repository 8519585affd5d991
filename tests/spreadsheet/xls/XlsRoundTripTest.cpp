// Foreign workbooks: every BIFF8 file opens, a save keeps what it did not
// change, and files that are no BIFF8 workbook are refused with a reason.

#include "SpreadsheetTestSupport.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/SpreadsheetServer.h"
#include "spreadsheet/server/Workbook.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace {

using SheetTest::ScratchDir;

const char* const kBiff8Fixtures[] = {
    "Formate.xls",   "formula_test_names.xls", "formula_test_sjmachin.xls", "invalid_formula.xls",
    "issue20.xls",   "namesdemo.xls",          "picture_in_cell.xls",       "profiles.xls",
    "ragged.xls",    "xf_class.xls",
};

Biff::Bytes WorkbookStream(const QString& path) {
  Biff::Bytes stream;
  CompoundFile::Read(path, stream);
  return stream;
}

// Every non-empty cell of our reading equals xlrd's reading of the file.
void ExpectSameAsXlrd(const Workbook& book, const QString& path) {
  const QJsonArray sheets = SheetTest::ProbeJson({QStringLiteral("values"), path}).array();
  ASSERT_EQ(sheets.size(), book.SheetCount());
  for (int i = 0; i < book.SheetCount(); ++i) {
    const QJsonObject sheet = sheets[i].toObject();
    EXPECT_EQ(sheet[QStringLiteral("name")].toString(), book.Sheet(i).Name());
    QList<QJsonArray> ours;
    book.Sheet(i).ForEachCell([&ours](uint32_t row, uint32_t col, const CellValue& value) {
      QJsonArray cell{static_cast<int>(row), static_cast<int>(col)};
      switch (value.type) {
        case CellValue::Type::Text: cell << 1 << value.text; break;
        case CellValue::Type::Number: cell << 2 << value.number; break;
        case CellValue::Type::Boolean: cell << 4 << (value.boolean ? 1 : 0); break;
        case CellValue::Type::Error: cell << 5 << value.text; break;
        case CellValue::Type::Empty: break;
      }
      ours << cell;
    });
    const QJsonArray theirs = sheet[QStringLiteral("cells")].toArray();
    ASSERT_EQ(theirs.size(), ours.size()) << "sheet " << i + 1;
    for (qsizetype k = 0; k < ours.size(); ++k) {
      const QJsonArray a = ours[k];
      const QJsonArray b = theirs[k].toArray();
      EXPECT_EQ(a[0], b[0]);
      EXPECT_EQ(a[1], b[1]);
      const int type = b[2].toInt() == 3 ? 2 : b[2].toInt();  // a date is a number with a date format
      EXPECT_EQ(a[2].toInt(), type) << "cell " << a[0].toInt() << "," << a[1].toInt();
      if (type == 2) {
        EXPECT_NEAR(a[3].toDouble(), b[3].toDouble(), 1e-9 * std::max(1.0, std::fabs(b[3].toDouble())));
      } else {
        EXPECT_EQ(a[3].toVariant(), b[3].toVariant()) << "cell " << a[0].toInt() << "," << a[1].toInt();
      }
    }
  }
}

// Writes one row through the late-bound calls exactly as the row writer
// does, after the row search. Returns the 1-based row written.
int WriteRowLikeTheApplication(const OleVariant& excel, const QStringList& values) {
  excel.Get("ActiveWorkBook").Get("Sheets").Get("Item", {1}).Call("Unprotect");
  int row = 1;
  while (row < 65500 && !excel.Get("Sheets", {1}).Get("Cells", {row, 1}).Get("Value").ToText().isEmpty()) ++row;
  for (int k = 1; k <= values.size(); ++k) {
    excel.Get("Sheets", {1}).Get("Cells", {row, k}).Put("Value", values[k - 1]);
  }
  return row;
}

QStringList SixtySixValues() {
  QStringList values;
  for (int k = 1; k <= 66; ++k) values << (k % 3 == 0 ? QStringLiteral(" ") : k % 3 == 1 ? QString::number(k) : QStringLiteral("Ü%1").arg(k));
  return values;
}

// The formula cells whose results differ between two files, as the
// compare probe takes them: "sheet,row,col;...".
QString ChangedFormulaResults(const QString& before, const QString& after) {
  const std::unique_ptr<Workbook> a = Workbook::Open(before);
  const std::unique_ptr<Workbook> b = Workbook::Open(after);
  QStringList changed;
  for (int s = 0; s < a->SheetCount(); ++s) {
    const Worksheet& sheet = a->Sheet(s);
    for (const CellSpan& span : sheet.Spans()) {
      Biff::RecordCursor cursor(sheet.Stream(), span.begin);
      Biff::Record record;
      while (cursor.Position() < span.end && cursor.Next(record)) {
        if (record.type != Biff::kFormula || record.data.size() < 4) continue;
        const uint32_t row = Biff::U16(record.data.data());
        const uint32_t col = Biff::U16(record.data.data() + 2);
        const CellValue x = sheet.Cell(row, col);
        const CellValue y = b->Sheet(s).Cell(row, col);
        if (x.type != y.type || x.number != y.number || x.text != y.text || x.boolean != y.boolean) {
          changed << QStringLiteral("%1,%2,%3").arg(s).arg(row).arg(col);
        }
      }
    }
  }
  return changed.join(QLatin1Char(';'));
}

class FixtureRoundTrip : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { RegisterSpreadsheetServer(); }
};

TEST_P(FixtureRoundTrip, OpensAndReadsTheSameCellsAsXlrd) {
  const QString path = SheetTest::FixturesDir() + QLatin1Char('/') + QString::fromUtf8(GetParam());
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  ExpectSameAsXlrd(*book, path);
}

TEST_P(FixtureRoundTrip, SavingWithoutChangesKeepsTheWorkbookStreamByteForByte) {
  ScratchDir dir;
  const QString original = dir.CopyFixture(QString::fromUtf8(GetParam()));
  const QString copy = dir.Path(QStringLiteral("copy.xls"));
  Workbook::Open(original)->SaveAs(copy);
  EXPECT_TRUE(WorkbookStream(original) == WorkbookStream(copy));
  const SheetTest::ProbeResult same = SheetTest::Probe({QStringLiteral("compare"), original, copy, QStringLiteral("-1")});
  EXPECT_EQ(same.exitCode, 0) << same.out.toStdString() << same.err.toStdString();
}

TEST_P(FixtureRoundTrip, WritingARowThroughTheServerKeepsEverythingElse) {
  ScratchDir dir;
  const QString name = QString::fromUtf8(GetParam());
  const QString before = dir.CopyFixture(name);
  const QString after = dir.Path(QStringLiteral("after.xls"));
  ASSERT_TRUE(QFile::copy(before, after));

  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Call("Open", {after, false});
  const QStringList values = SixtySixValues();
  const int row = WriteRowLikeTheApplication(excel, values);
  excel.Call("Save");
  excel.Call("Quit");

  // Formulas that read the row written have new results; nothing else changed.
  const SheetTest::ProbeResult same = SheetTest::Probe(
      {QStringLiteral("compare"), before, after, QString::number(row - 1), ChangedFormulaResults(before, after)});
  EXPECT_EQ(same.exitCode, 0) << same.out.toStdString() << same.err.toStdString();

  const QJsonArray sheets = SheetTest::ProbeJson({QStringLiteral("values"), after}).array();
  QStringList written(66);
  for (const QJsonValue& cell : sheets[0].toObject()[QStringLiteral("cells")].toArray()) {
    const QJsonArray c = cell.toArray();
    if (c[0].toInt() == row - 1) {
      // Digits are stored as numbers, everything else as text.
      const bool number = c[2].toInt() == 2;
      EXPECT_EQ(number, values[c[1].toInt()].front().isDigit()) << "column " << c[1].toInt();
      written[c[1].toInt()] = number ? QString::number(c[3].toDouble()) : c[3].toString();
    }
  }
  EXPECT_EQ(written, values);
  ExpectSameAsXlrd(*Workbook::Open(after), after);
  // Stream positions (sheet starts, INDEX, DBCELL, EXTSST) are right in what
  // we wrote wherever they were right in what we read.
  if (SheetTest::Probe({QStringLiteral("offsets"), before}).exitCode == 0) {
    const SheetTest::ProbeResult offsets = SheetTest::Probe({QStringLiteral("offsets"), after});
    EXPECT_EQ(offsets.exitCode, 0) << offsets.out.toStdString() << offsets.err.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureRoundTrip, ::testing::ValuesIn(kBiff8Fixtures),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(ForeignFiles, Biff4WorksheetIsRefusedNamingFileAndFormat) {
  const QString path = SheetTest::FixturesDir() + QStringLiteral("/biff4_no_format_no_window2.xls");
  try {
    Workbook::Open(path);
    FAIL() << "opened";
  } catch (const WorkbookError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("biff4_no_format_no_window2.xls"))) << e.what();
    EXPECT_TRUE(e.Message().contains(QStringLiteral("BIFF4"))) << e.what();
  }
}

// The overlapping sector chains are read as lenient readers do; what we
// write from it is a clean compound file that strict xlrd accepts.
TEST(ForeignFiles, CompoundFileWithOverlappingChainsOpensAndSavesCleanly) {
  ScratchDir dir;
  const QString path = dir.CopyFixture(QStringLiteral("corrupted_error.xls"));
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  ASSERT_GT(book->SheetCount(), 0);
  book->Sheet(0).SetText(200, 0, QStringLiteral("nach dem Öffnen"));
  const QString saved = dir.Path(QStringLiteral("saved.xls"));
  book->SaveAs(saved);
  ExpectSameAsXlrd(*book, saved);
}

bool SameTree(const CompoundEntry& a, const CompoundEntry& b) {
  if (a.name != b.name || a.storage != b.storage || a.data != b.data || a.children.size() != b.children.size()) return false;
  if (a.hasClassId && (!b.hasClassId || a.classId != b.classId)) return false;
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!SameTree(a.children[i], b.children[i])) return false;
  }
  return true;
}

// Macros and other storages beside the workbook stream come back as they were.
TEST(ForeignFiles, StoragesBesideTheWorkbookAreKeptWithTheirClassIds) {
  ScratchDir dir;
  Biff::Bytes stream;
  CompoundDocument document = CompoundFile::Read(SheetTest::FixturesDir() + QStringLiteral("/Formate.xls"), stream);
  CompoundEntry macros;
  macros.name = "_VBA_PROJECT_CUR";
  macros.storage = true;
  macros.hasClassId = true;
  macros.classId = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  CompoundEntry module;
  module.name = "VBA";
  module.data = QByteArray(6000, 'm');  // past the small-stream limit
  CompoundEntry small;
  small.name = "\x01CompObj";
  small.data = QByteArray("tiny");
  macros.children = {module, small};
  document.root.children.push_back(macros);
  const QString path = dir.Path(QStringLiteral("macros.xls"));
  FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
  ASSERT_NE(file, nullptr);
  CompoundFile::Write(file, path, document, [&stream](Biff::ByteSink& sink) { sink.Write(stream); });
  std::fclose(file);

  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  book->Sheet(0).SetText(20, 0, QStringLiteral("new row"));
  const QString saved = dir.Path(QStringLiteral("saved.xls"));
  book->SaveAs(saved);
  Biff::Bytes before;
  Biff::Bytes after;
  const CompoundDocument read = CompoundFile::Read(path, before);
  const CompoundDocument written = CompoundFile::Read(saved, after);
  EXPECT_TRUE(SameTree(read.root, written.root));
  const SheetTest::ProbeResult same = SheetTest::Probe({QStringLiteral("compare"), path, saved, QStringLiteral("20")});
  EXPECT_EQ(same.exitCode, 0) << same.out.toStdString() << same.err.toStdString();
}

class DamagedFiles : public ::testing::Test {
 protected:
  // Opening must fail with the file's name and the given reason in the message.
  void ExpectRefused(const QString& path, const QString& reason) {
    try {
      Workbook::Open(path);
      ADD_FAILURE() << "opened " << path.toStdString();
    } catch (const WorkbookError& e) {
      EXPECT_TRUE(e.Message().contains(QFileInfo(path).fileName())) << e.what();
      EXPECT_TRUE(e.Message().contains(reason, Qt::CaseInsensitive)) << e.what();
    }
  }
  void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  // A well-formed compound file around the given workbook stream.
  void WriteCompound(const QString& path, const Biff::Bytes& stream) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    ASSERT_NE(file, nullptr);
    CompoundFile::Write(file, path, CompoundFile::NewDocument(), [&stream](Biff::ByteSink& sink) { sink.Write(stream); });
    std::fclose(file);
  }
  ScratchDir dir_;
};

TEST_F(DamagedFiles, NotACompoundFile) {
  WriteFile(dir_.Path(QStringLiteral("text.xls")), "just some text, not a workbook");
  ExpectRefused(dir_.Path(QStringLiteral("text.xls")), QStringLiteral("not an Excel workbook"));
  WriteFile(dir_.Path(QStringLiteral("empty.xls")), QByteArray());
  ExpectRefused(dir_.Path(QStringLiteral("empty.xls")), QStringLiteral("empty"));
  WriteFile(dir_.Path(QStringLiteral("zip.xls")), QByteArray("PK\x03\x04 rest of an xlsx"));
  ExpectRefused(dir_.Path(QStringLiteral("zip.xls")), QStringLiteral(".xlsx"));
  ExpectRefused(SheetTest::FixturesDir() + QStringLiteral("/scores.ods"), QStringLiteral("OpenDocument spreadsheet (.ods)"));
  ExpectRefused(dir_.Path(QStringLiteral("missing.xls")), QStringLiteral("does not exist"));
}

TEST_F(DamagedFiles, CutShortCompoundFile) {
  const QByteArray whole = SheetTest::ReadAll(SheetTest::FixturesDir() + QStringLiteral("/profiles.xls"));
  WriteFile(dir_.Path(QStringLiteral("half.xls")), whole.left(whole.size() / 2));
  ExpectRefused(dir_.Path(QStringLiteral("half.xls")), QStringLiteral("damaged"));
}

TEST_F(DamagedFiles, TruncatedWorkbookStream) {
  const Biff::Bytes stream = WorkbookStream(SheetTest::FixturesDir() + QStringLiteral("/issue20.xls"));
  // Cut inside a record, and exactly between two records of the last sheet.
  WriteCompound(dir_.Path(QStringLiteral("cut.xls")), Biff::Bytes(stream.begin(), stream.end() - 7));
  ExpectRefused(dir_.Path(QStringLiteral("cut.xls")), QStringLiteral("truncated"));
  WriteCompound(dir_.Path(QStringLiteral("noeof.xls")), Biff::Bytes(stream.begin(), stream.end() - 4));
  ExpectRefused(dir_.Path(QStringLiteral("noeof.xls")), QStringLiteral("truncated"));
}

TEST_F(DamagedFiles, SheetPositionOutsideTheStream) {
  Biff::Bytes stream = WorkbookStream(SheetTest::FixturesDir() + QStringLiteral("/ragged.xls"));
  // Find the first BOUNDSHEET and point it past the end.
  size_t at = 0;
  while (at + 4 <= stream.size() && Biff::U16(stream.data() + at) != Biff::kBoundSheet) at += 4 + Biff::U16(stream.data() + at + 2);
  ASSERT_LT(at + 8, stream.size());
  Biff::PutU32(stream.data() + at + 4, static_cast<uint32_t>(stream.size() + 100));
  WriteCompound(dir_.Path(QStringLiteral("lost.xls")), stream);
  ExpectRefused(dir_.Path(QStringLiteral("lost.xls")), QStringLiteral("does not start where"));
}

TEST_F(DamagedFiles, EncryptedWorkbook) {
  Biff::Bytes stream = WorkbookStream(SheetTest::FixturesDir() + QStringLiteral("/ragged.xls"));
  // A FILEPASS record right after the globals BOF.
  const size_t bofEnd = 4 + Biff::U16(stream.data() + 2);
  const uint8_t filePass[] = {0x2F, 0x00, 0x02, 0x00, 0x00, 0x00};
  stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(bofEnd), filePass, filePass + sizeof filePass);
  WriteCompound(dir_.Path(QStringLiteral("locked.xls")), stream);
  ExpectRefused(dir_.Path(QStringLiteral("locked.xls")), QStringLiteral("encrypted"));
}

// Every input that once made the fuzzer fail: each opens and survives a save
// and a second open, or is refused with a reason; the ASan run adds that
// nothing leaks on the way.
TEST_F(DamagedFiles, FuzzFindingsOpenOrAreRefused) {
  const QDir findings(QStringLiteral(CFW_FIXTURES_DIR "/fuzz/xls_reader_fuzzer"));
  const QStringList names = findings.entryList(QDir::Files);
  ASSERT_FALSE(names.isEmpty()) << findings.path().toStdString();
  for (const QString& name : names) {
    SCOPED_TRACE(name.toStdString());
    const QString path = dir_.Path(name);
    WriteFile(path, SheetTest::ReadAll(findings.filePath(name)));
    std::unique_ptr<Workbook> book;
    try {
      book = Workbook::Open(path);
    } catch (const WorkbookError& e) {
      EXPECT_TRUE(e.Message().contains(name)) << e.what();
      continue;
    }
    const QString saved = dir_.Path(QStringLiteral("saved-") + name);
    book->SaveAs(saved);
    EXPECT_EQ(Workbook::Open(saved)->SheetCount(), book->SheetCount());
  }
  // Its root directory entry has a sibling, and it holds no workbook.
  ExpectRefused(dir_.Path(QStringLiteral("xls-reader-leak.xls")), QStringLiteral("no Workbook stream"));
}

// A root directory entry must have no siblings; one that links to the
// workbook stream (also its child) must neither hide the workbook nor leak.
TEST_F(DamagedFiles, RootEntryWithASiblingStillOpens) {
  const Biff::Bytes stream = WorkbookStream(SheetTest::FixturesDir() + QStringLiteral("/ragged.xls"));
  const QString path = dir_.Path(QStringLiteral("sibling.xls"));
  WriteCompound(path, stream);
  QByteArray bytes = SheetTest::ReadAll(path);
  auto* file = reinterpret_cast<uint8_t*>(bytes.data());
  ASSERT_EQ(Biff::U16(file + 0x1E), 9);  // 512-byte sectors
  const qsizetype root = 512 + 512 * static_cast<qsizetype>(Biff::U32(file + 0x30));
  ASSERT_LT(root + 128, bytes.size());
  Biff::PutU32(file + root + 0x48, Biff::U32(file + root + 0x4C));  // right sibling := child
  WriteFile(path, bytes);

  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  ASSERT_GT(book->SheetCount(), 0);
  Biff::Bytes read;
  CompoundFile::Read(path, read);
  EXPECT_TRUE(read == stream);
}

}  // namespace
