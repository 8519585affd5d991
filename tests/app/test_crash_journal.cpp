// The crash journal on the disk: where it lives, what survives a write cut
// short, and the files sheets are kept in apart from it.
#include "TempDir.h"
#include "app/CrashJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Points the state folder at a scratch folder for one test.
class StateHome {
 public:
  StateHome() : previous_(qgetenv("XDG_STATE_HOME")) { qputenv("XDG_STATE_HOME", QFile::encodeName(tmp.Path("state"))); }
  ~StateHome() { qputenv("XDG_STATE_HOME", previous_); }
  QString Folder() const { return tmp.Path("state/CellfeedWizard"); }
  TempDir tmp;

 private:
  QByteArray previous_;
};

JournalSheet Sheet(qint64 number, int row, QStringList values) {
  return {number, row, QDateTime::fromMSecsSinceEpoch(1700000000000 + number * 1000), std::move(values)};
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

unsigned Mode(const QString& path) {
  struct stat info {};
  return stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777u : 0;
}

void AppendRaw(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::Append));
  f.write(bytes);
}

TEST(CrashJournal, LivesInThePerUserStateFolder) {
  const QByteArray previous = qgetenv("XDG_STATE_HOME");
  qputenv("XDG_STATE_HOME", "/var/tmp/some-state");
  EXPECT_EQ(CrashJournal::Folder(), "/var/tmp/some-state/CellfeedWizard");
  qputenv("XDG_STATE_HOME", "relative/state");  // not a state folder: the default
  EXPECT_EQ(CrashJournal::Folder(), QDir::homePath() + "/.local/state/CellfeedWizard");
  qunsetenv("XDG_STATE_HOME");
  EXPECT_EQ(CrashJournal::Folder(), QDir::homePath() + "/.local/state/CellfeedWizard");
  qputenv("XDG_STATE_HOME", previous);
}

TEST(CrashJournal, OneFilePerWorkbookPath) {
  StateHome home;
  const QString a = CrashJournal::PathFor("/school/7a/results.xls");
  EXPECT_EQ(QFileInfo(a).absolutePath(), home.Folder());
  EXPECT_TRUE(QFileInfo(a).fileName().startsWith("results.xls.")) << a.toStdString();
  EXPECT_NE(a, CrashJournal::PathFor("/school/7b/results.xls")) << "same name, other folder";
  EXPECT_EQ(CrashJournal::PathFor(QDir::currentPath() + "/x.xls"), CrashJournal::PathFor("x.xls"));
}

TEST(CrashJournal, EveryValueComesBackExactly) {
  StateHome home;
  CrashJournal journal("/school/odd.xls");
  EXPECT_FALSE(QFile::exists(journal.FilePath())) << "no file before the first sheet";
  // Single-bubble mode gives any byte as a value: tabs, line ends, NUL, Latin-1.
  const std::vector<JournalSheet> sheets{
      Sheet(1, 4, {"12", " ", "3456"}),
      Sheet(2, 5, {QStringLiteral("a\tb"), QStringLiteral("line\nend\r"), QStringLiteral("back\\slash\\t"),
                   QString(QChar(0)), QString(QChar(0xE9)) + QChar(0xFF), QStringLiteral("\\x41")}),
      Sheet(3, 6, {}),
  };
  for (const JournalSheet& s : sheets) journal.Append(s);
  EXPECT_EQ(journal.AppendTimesMs().size(), 3u);
  const std::optional<JournalContents> read = CrashJournal::Read(journal.FilePath());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->workbookPath, "/school/odd.xls");
  EXPECT_EQ(read->sheets, sheets);
  EXPECT_EQ(Mode(journal.FilePath()), 0600u) << "sheets are the user's alone";
  EXPECT_EQ(Mode(home.Folder()), 0700u);
}

TEST(CrashJournal, AWriteCutShortOrADamagedLineCostsOnlyThatSheet) {
  StateHome home;
  CrashJournal journal("/school/cut.xls");
  journal.Append(Sheet(1, 2, {"1", "2"}));
  AppendRaw(journal.FilePath(), "S\t2\t3\t1700000002000\t3\t1\t2\n");   // count says 3, holds 2
  AppendRaw(journal.FilePath(), "S\tx\t3\t1700000002000\t1\t1\n");      // not a number
  AppendRaw(journal.FilePath(), "S\t4\t3\t1700000004000\t1\tbad\\q\n"); // unknown escape
  journal.Append(Sheet(5, 3, {"5"}));
  AppendRaw(journal.FilePath(), "S\t6\t4\t1700000006000\t1\t6");        // no line end: cut short
  const std::optional<JournalContents> read = CrashJournal::Read(journal.FilePath());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->sheets, (std::vector<JournalSheet>{Sheet(1, 2, {"1", "2"}), Sheet(5, 3, {"5"})}));

  // A file that is not a journal is never taken for one.
  const QString foreign = home.Folder() + "/foreign.journal";
  AppendRaw(foreign, "S\t1\t1\t0\t0\n");
  EXPECT_FALSE(CrashJournal::Read(foreign));
  EXPECT_FALSE(CrashJournal::Read(home.Folder() + "/missing.journal"));
}

TEST(CrashJournal, ReplaceRetireAndAFreshStart) {
  StateHome home;
  CrashJournal journal("/school/r.xls");
  journal.Append(Sheet(1, 2, {"1"}));
  journal.Append(Sheet(2, 3, {"2"}));
  journal.Replace({Sheet(2, 7, {"2"})});
  EXPECT_EQ(CrashJournal::Read(journal.FilePath())->sheets, std::vector<JournalSheet>{Sheet(2, 7, {"2"})});
  journal.Append(Sheet(3, 8, {"3"}));  // appends go on after a replace
  EXPECT_EQ(CrashJournal::Read(journal.FilePath())->sheets.size(), 2u);
  EXPECT_EQ(QDir(home.Folder()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary left";

  journal.Retire();
  EXPECT_FALSE(QFile::exists(journal.FilePath()));
  EXPECT_NO_THROW(journal.Retire()) << "retiring twice is no error";
  journal.Append(Sheet(4, 9, {"4"}));
  EXPECT_EQ(CrashJournal::Read(journal.FilePath())->sheets, std::vector<JournalSheet>{Sheet(4, 9, {"4"})});
}

TEST(CrashJournal, TheAnswerKeyIsKeptLikeARowAndTheLastOneCounts) {
  StateHome home;
  CrashJournal journal(home.tmp.Path("class.xls"));
  const JournalKey first{QDateTime::fromMSecsSinceEpoch(1700000000000), 41, 46, true, {"3", " ", "1\t2"}};
  JournalKey second = first;
  second.multiple = false;
  second.idFrom = second.idTo = 0;
  second.values = {"A", "C"};
  journal.Append(Sheet(1, 1, {"1"}));
  journal.Append(first);
  journal.Append(Sheet(2, 2, {"2"}));
  std::optional<JournalContents> read = CrashJournal::Read(journal.FilePath());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->sheets.size(), 2u);
  ASSERT_TRUE(read->key);
  EXPECT_EQ(*read->key, first);
  journal.Append(second);
  EXPECT_EQ(*CrashJournal::Read(journal.FilePath())->key, second);
  // Putting sheets back keeps the key in the journal.
  journal.Replace({Sheet(1, 5, {"1"})}, second);
  read = CrashJournal::Read(journal.FilePath());
  EXPECT_EQ(read->sheets.size(), 1u);
  EXPECT_EQ(*read->key, second);
  journal.Replace({Sheet(1, 5, {"1"})});
  EXPECT_FALSE(CrashJournal::Read(journal.FilePath())->key);
}

TEST(CrashJournal, AJournalWithoutKeysOrWithADamagedKeyLineStillReads) {
  StateHome home;
  CrashJournal journal(home.tmp.Path("older.xls"));
  journal.Append(Sheet(1, 1, {"1"}));
  AppendRaw(journal.FilePath(), "K\t1700000000000\t1\t2\tX\t1\t3\n");  // an unknown mode
  AppendRaw(journal.FilePath(), "K\t1700000000000\t1\t2\tM\t2\t3\n");  // a count that does not fit
  journal.Append(Sheet(2, 2, {"2"}));
  const std::optional<JournalContents> read = CrashJournal::Read(journal.FilePath());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->sheets.size(), 2u);
  EXPECT_FALSE(read->key);
}

TEST(CrashJournal, AllJournalsListsOnlyJournalsOldestFirst) {
  StateHome home;
  CrashJournal first("/a/first.xls");
  first.Append(Sheet(1, 1, {"1"}));
  CrashJournal second("/a/second.xls");
  second.Append(Sheet(1, 1, {"1"}));
  QFile old(first.FilePath());
  ASSERT_TRUE(old.open(QIODevice::ReadWrite));
  old.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime);
  AppendSheetsCsv(KeptSheetsPath("/a/first.xls", "unwritten sheets"), {Sheet(1, 1, {"1"})});
  EXPECT_EQ(CrashJournal::AllJournals(), QStringList({first.FilePath(), second.FilePath()}));
}

TEST(CrashJournal, FailuresNameTheFile) {
  StateHome home;
  home.tmp.Write("state", "a file where the state folder should be");
  CrashJournal journal("/school/f.xls");
  try {
    journal.Append(Sheet(1, 1, {"1"}));
    FAIL() << "appended";
  } catch (const JournalError& e) {
    EXPECT_TRUE(e.Message().contains(home.Folder())) << e.what();
  }
}

TEST(KeptSheets, CommaSeparatedValuesThatReadBackAsTheyWere) {
  StateHome home;
  const QString csv = KeptSheetsPath("/school/7a.xls", "not restored");
  EXPECT_EQ(csv, home.Folder() + "/7a.xls not restored.csv");
  AppendSheetsCsv(csv, {Sheet(1, 1, {"12", " ", "3"}), Sheet(2, 2, {"a,b", "say \"hi\"", "two\nlines"})});
  AppendSheetsCsv(csv, {Sheet(3, 3, {})});
  EXPECT_EQ(ReadFile(csv), "12,\" \",3\r\n\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\"\r\n\r\n");
}

}  // namespace
