// Saves that were killed leave their temporaries beside the workbook; the
// next successful save in that folder removes those, and only those.

#include "SpreadsheetTestSupport.h"
#include "spreadsheet/server/Workbook.h"
#include "spreadsheet/xls/AtomicFile.h"
#include "spreadsheet/xls/StaleTemporaries.h"

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using SheetTest::ScratchDir;

QStringList Hidden(const QString& dir) {
  QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  names.removeAll(QStringLiteral("book.xls"));
  return names;
}

void MakeOld(const QString& path, const QByteArray& content = "left over") {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
  file.flush();
  file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
}

TEST(StaleTemporaries, TheirNamesAreUnmistakable) {
  EXPECT_TRUE(StaleTemporaries::IsTemporaryName(".class 7a.xls.cfwsave-a1B2c3"));
  EXPECT_FALSE(StaleTemporaries::IsTemporaryName("class.xls.cfwsave-a1B2c3")) << "not hidden";
  EXPECT_FALSE(StaleTemporaries::IsTemporaryName(".class.xls.cfwsave-a1B2c"));
  EXPECT_FALSE(StaleTemporaries::IsTemporaryName(".class.xls.cfwsave-a1B2c3.bak"));
  EXPECT_FALSE(StaleTemporaries::IsTemporaryName(".class.xls.a1B2c3")) << "another program's pattern";
  EXPECT_FALSE(StaleTemporaries::IsTemporaryName(".cfwsave-a1B2c3"));
  const QString made = StaleTemporaries::TemplateFor("/data/class.xls").replace("XXXXXX", "Zz9Zz9");
  EXPECT_EQ(made, "/data/.class.xls.cfwsave-Zz9Zz9");
  EXPECT_TRUE(StaleTemporaries::IsTemporaryName(QFileInfo(made).fileName()));
}

TEST(StaleTemporaries, ASaveKilledHalfWayIsCleanedUpByTheNextSaveThere) {
  ScratchDir dir;
  const QString path = dir.Path("book.xls");
  Workbook::CreateBlank()->SaveAs(path);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A save in progress, then the process is killed: no destructor runs.
    AtomicFile file(path);
    std::fputs("half a workbook", file.Stream());
    std::fflush(file.Stream());
    raise(SIGKILL);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  const QStringList left = Hidden(dir.Root());
  ASSERT_EQ(left.size(), 1) << left.join(' ').toStdString();
  ASSERT_TRUE(StaleTemporaries::IsTemporaryName(left[0]));

  Workbook::CreateBlank()->SaveAs(path);
  EXPECT_EQ(Hidden(dir.Root()), left) << "too fresh: a save might still be writing it";
  QFile leftover(dir.Path(left[0]));
  ASSERT_TRUE(leftover.open(QIODevice::Append));
  leftover.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime);
  leftover.close();
  Workbook::CreateBlank()->SaveAs(path);
  EXPECT_TRUE(Hidden(dir.Root()).isEmpty());
}

TEST(StaleTemporaries, OnlySurelyOwnLeftoversGo) {
  ScratchDir dir;
  ScratchDir elsewhere;
  MakeOld(dir.Path(".book.xls.cfwsave-aaaaaa"));
  MakeOld(dir.Path(".other.xls.cfwsave-bbbbbb"));                  // any workbook's, in this folder
  MakeOld(dir.Path(".book.xls.cccccc"));                           // not our pattern
  MakeOld(dir.Path("book.xls.cfwsave-dddddd"));                    // not hidden
  MakeOld(dir.Path(".locked.xls.cfwsave-eeeeee"));                 // a save still holds it
  MakeOld(elsewhere.Path(".book.xls.cfwsave-ffffff"));             // another folder
  QDir(dir.Root()).mkdir(".folder.xls.cfwsave-gggggg");
  ASSERT_TRUE(QFile::link(elsewhere.Path(".book.xls.cfwsave-ffffff"), dir.Path(".link.xls.cfwsave-hhhhhh")));
  const int held = open(QFile::encodeName(dir.Path(".locked.xls.cfwsave-eeeeee")).constData(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  Workbook::CreateBlank()->SaveAs(dir.Path("book.xls"));
  close(held);
  EXPECT_EQ(Hidden(dir.Root()), QStringList({".book.xls.cccccc", ".folder.xls.cfwsave-gggggg", ".link.xls.cfwsave-hhhhhh",
                                             ".locked.xls.cfwsave-eeeeee", "book.xls.cfwsave-dddddd"}));
  EXPECT_TRUE(QFile::exists(elsewhere.Path(".book.xls.cfwsave-ffffff")));
}

TEST(StaleTemporaries, AFailedSaveRemovesNothing) {
  ScratchDir dir;
  MakeOld(dir.Path(".book.xls.cfwsave-aaaaaa"));
  AtomicFile::SimulateDiskFullAfter(10);
  EXPECT_THROW(Workbook::CreateBlank()->SaveAs(dir.Path("book.xls")), WorkbookError);
  AtomicFile::SimulateDiskFullAfter(std::nullopt);
  EXPECT_EQ(Hidden(dir.Root()), QStringList({".book.xls.cfwsave-aaaaaa"}));
}

}  // namespace
