// A save that cannot complete raises a clear error and leaves the old file
// byte for byte, with no temporary file left behind.

#include "SpreadsheetTestSupport.h"
#include "spreadsheet/server/Workbook.h"
#include "spreadsheet/xls/AtomicFile.h"

#include <QProcess>

#include <sys/mount.h>

namespace {

using SheetTest::ScratchDir;

QStringList Entries(const QString& dir) {
  return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A workbook large enough that its save spans many writes.
std::unique_ptr<Workbook> BusyWorkbook() {
  std::unique_ptr<Workbook> book = Workbook::CreateBlank();
  for (uint32_t row = 0; row < 2000; ++row) {
    for (uint32_t col = 0; col < 10; ++col) book->Sheet(0).SetText(row, col, QStringLiteral("r%1c%2").arg(row).arg(col));
  }
  return book;
}

class DiskFull : public ::testing::TestWithParam<size_t> {
 protected:
  void TearDown() override { AtomicFile::SimulateDiskFullAfter(std::nullopt); }
};

TEST_P(DiskFull, RaisesTheErrorAndLeavesTheOldFileAsItWas) {
  ScratchDir dir;
  const QString path = dir.CopyFixture(QStringLiteral("issue20.xls"));
  const QByteArray old = SheetTest::ReadAll(path);
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  for (uint32_t row = 30; row < 2000; ++row) book->Sheet(0).SetText(row, 0, QStringLiteral("row %1").arg(row));
  book->MarkDirty();

  AtomicFile::SimulateDiskFullAfter(GetParam());
  try {
    book->Save();
    FAIL() << "saved";
  } catch (const WorkbookError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("issue20.xls"))) << e.what();
    EXPECT_TRUE(e.Message().contains(QStringLiteral("No space left on device"))) << e.what();
  }
  EXPECT_EQ(SheetTest::ReadAll(path), old);
  EXPECT_EQ(Entries(dir.Root()), QStringList{QStringLiteral("issue20.xls")});
  EXPECT_TRUE(book->Dirty());

  // Space again: the same workbook saves, and nothing was lost meanwhile.
  AtomicFile::SimulateDiskFullAfter(std::nullopt);
  book->Save();
  EXPECT_EQ(Workbook::Open(path)->Sheet(0).Cell(1999, 0).text, QStringLiteral("row 1999"));
}

// Before the header, inside the workbook stream, and near the end of the file.
INSTANTIATE_TEST_SUITE_P(AtVariousPoints, DiskFull, ::testing::Values(0, 100, 5000, 40000));

TEST(SaveFailure, FolderThatDoesNotExist) {
  ScratchDir dir;
  try {
    Workbook::CreateBlank()->SaveAs(dir.Path(QStringLiteral("no/such/folder/book.xls")));
    FAIL() << "saved";
  } catch (const WorkbookError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("book.xls"))) << e.what();
    EXPECT_TRUE(e.Message().contains(QStringLiteral("No such file or directory"))) << e.what();
  }
}

TEST(SaveFailure, TargetThatIsAFolder) {
  ScratchDir dir;
  QDir(dir.Root()).mkdir(QStringLiteral("taken.xls"));
  EXPECT_THROW(Workbook::CreateBlank()->SaveAs(dir.Path(QStringLiteral("taken.xls"))), WorkbookError);
  EXPECT_TRUE(QFileInfo(dir.Path(QStringLiteral("taken.xls"))).isDir());
}

// Real file systems: a tiny tmpfs that fills up, and one mounted read-only
// (as root, permissions alone would not stop the write). Needs the right to
// mount; skipped where the sandbox does not give it.
class SmallFileSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    mountPoint_ = dir_.Path(QStringLiteral("mnt"));
    QDir().mkpath(mountPoint_);
    if (mount("tmpfs", QFile::encodeName(mountPoint_).constData(), "tmpfs", 0, "size=64k") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) umount2(QFile::encodeName(mountPoint_).constData(), MNT_DETACH);
  }
  void Remount(unsigned long flags) {
    ASSERT_EQ(mount("tmpfs", QFile::encodeName(mountPoint_).constData(), "tmpfs", MS_REMOUNT | flags, "size=64k"), 0);
  }

  ScratchDir dir_;
  QString mountPoint_;
  bool mounted_ = false;
};

TEST_F(SmallFileSystem, FullDiskLeavesTheOldFile) {
  const QString path = mountPoint_ + QStringLiteral("/book.xls");
  Workbook::CreateBlank()->SaveAs(path);
  const QByteArray old = SheetTest::ReadAll(path);
  const std::unique_ptr<Workbook> book = BusyWorkbook();
  try {
    book->SaveAs(path);
    FAIL() << "a 64k file system took the whole workbook";
  } catch (const WorkbookError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("No space left on device"))) << e.what();
  }
  EXPECT_EQ(SheetTest::ReadAll(path), old);
  EXPECT_EQ(Entries(mountPoint_), QStringList{QStringLiteral("book.xls")});
}

TEST_F(SmallFileSystem, ReadOnlyFolderLeavesTheOldFile) {
  const QString path = mountPoint_ + QStringLiteral("/book.xls");
  Workbook::CreateBlank()->SaveAs(path);
  const QByteArray old = SheetTest::ReadAll(path);
  const std::unique_ptr<Workbook> book = Workbook::Open(path);
  book->Sheet(0).SetText(0, 0, QStringLiteral("change"));
  Remount(MS_RDONLY);
  try {
    book->Save();
    FAIL() << "saved on a read-only file system";
  } catch (const WorkbookError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("Read-only file system"))) << e.what();
  }
  EXPECT_EQ(SheetTest::ReadAll(path), old);
  Remount(0);
}

}  // namespace
