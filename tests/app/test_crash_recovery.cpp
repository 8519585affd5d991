// Nothing scanned is lost with a crash: every row is in the workbook's journal
// until the workbook is saved; at the next start, or when the workbook is next
// opened, what the file lacks is offered back, and a "no" keeps it in a file.
#include "EventPump.h"
#include "WorkbookHarness.h"
#include "app/CrashJournal.h"

#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

JournalSheet Entry(qint64 number, int row, QStringList values) {
  return {number, row, QDateTime::currentDateTime(), std::move(values)};
}

class RecoveryTest : public ::testing::Test {
 protected:
  // A saved workbook whose column A holds these texts.
  QString Made(const QString& name, const QStringList& columnA) {
    const QString path = h.tmp.Path(name);
    MakeWorkbook(path, [&](const OleVariant& s) {
      for (int r = 0; r < columnA.size(); ++r) PutCell(s, r + 1, 1, columnA[r]);
    });
    return path;
  }
  // What a crash left: the journal of `workbook` with these sheets.
  void Crashed(const QString& workbook, const std::vector<JournalSheet>& sheets) {
    CrashJournal journal(workbook);
    for (const JournalSheet& s : sheets) journal.Append(s);
  }
  QStringList ColumnA(TfrmMain& w, int rows) {
    QStringList out;
    for (int r = 1; r <= rows; ++r) out << w.WorkSheets.Get("Item", {1}).Get("Cells", {r, 1}).Get("Value").ToText();
    return out;
  }
  WorkbookHarness h;
};

TEST_F(RecoveryTest, EveryRowIsInTheJournalUntilTheWorkbookIsSaved) {
  TfrmMain& w = h.StartWindow();
  const QString path = h.tmp.Path("j.xls");
  h.NewWorkbook(path);
  w.StartScanning1->trigger();
  h.Tick({"1", "2"});
  h.Tick({"3"});
  const QString journal = CrashJournal::PathFor(path);
  ASSERT_TRUE(QFile::exists(journal));
  const std::vector<JournalSheet> kept = CrashJournal::Read(journal)->sheets;
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].row, 1);
  EXPECT_EQ(kept[0].values, QStringList({"1", "2"}));
  EXPECT_EQ(kept[1].row, 2);
  w.Save1->trigger();
  EXPECT_FALSE(QFile::exists(journal)) << "a successful save retires it";
  h.Tick({"4"});
  ASSERT_EQ(CrashJournal::Read(journal)->sheets.size(), 1u);
  EXPECT_EQ(CrashJournal::Read(journal)->sheets[0].row, 3);
  EXPECT_EQ(h.Settings().ReadString("FEED", "Recent0", ""), path) << "stored when created, not only at exit";
}

TEST_F(RecoveryTest, AtStartOneQuestionAndYesPutsTheSheetsBackInOrderAtTheFirstEmptyRows) {
  const QString path = Made("class.xls", {"head", "x1"});
  Crashed(path, {Entry(1, 2, {"x1"}),            // saved before the crash
                 Entry(2, 3, {"a1", "a2"}), Entry(3, 4, {"b1"})});
  // Someone typed into the workbook since: row 3 is taken.
  {
    const OleVariant app = CreateOleObject(kProgId);
    app.Get("Workbooks").Call("Open", {path, false});
    PutCell(app.Get("Sheets", {1}), 3, 1, "typed");
    app.Call("Save");
    app.Call("Quit");
  }
  h.ui.answers = {Answer::Yes};
  TfrmMain& w = h.StartWindow();
  ASSERT_EQ(h.ui.questions.size(), 1u);
  EXPECT_EQ(h.ui.questions[0].text, QStringLiteral("2 sheets scanned for '%1' were never saved into the workbook.  "
                                                   "Put them back now, at the first empty rows?").arg(path));
  EXPECT_EQ(w.CurrentFile, path);
  EXPECT_FALSE(w.ScanningActive) << "the user starts scanning when ready";
  EXPECT_EQ(ColumnA(w, 6), QStringList({"head", "x1", "typed", "a1", "b1", ""}));
  EXPECT_EQ(w.WorkSheets.Get("Item", {1}).Get("Cells", {4, 2}).Get("Value").ToText(), "a2");
  // Back in the workbook, not yet saved: a second crash would still find them.
  const std::vector<JournalSheet> kept = CrashJournal::Read(CrashJournal::PathFor(path))->sheets;
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].row, 4);
  EXPECT_EQ(kept[1].row, 5);
  w.Save1->trigger();
  EXPECT_FALSE(QFile::exists(CrashJournal::PathFor(path)));
  EXPECT_EQ(WorkbookReader(path).Row(5, 2), QStringList({"b1", " "}));
}

TEST_F(RecoveryTest, NoKeepsTheSheetsInAFileWhoseNameIsShown) {
  const QString path = Made("class.xls", {"head"});
  Crashed(path, {Entry(1, 2, {"a1", "a,2"}), Entry(2, 3, {"b1"})});
  h.ui.answers = {Answer::No};
  bool journalGoneBeforeTheMessage = false;
  h.ui.onMessage = [&](const ShownMessage&) { journalGoneBeforeTheMessage = !QFile::exists(CrashJournal::PathFor(path)); };
  TfrmMain& w = h.Start();
  ASSERT_EQ(h.ui.questions.size(), 1u);
  EXPECT_TRUE(w.CurrentFile.isEmpty());
  ASSERT_EQ(h.ui.messages.size(), 2u) << "the reminder to close spreadsheets, then where the sheets are";
  const QString text = h.ui.messages[1].text;
  EXPECT_EQ(h.ui.messages[1].kind, MessageKind::Information);
  const qsizetype start = text.indexOf(h.StateHome());
  ASSERT_GE(start, 0) << text.toStdString();
  const QString csv = text.mid(start, text.lastIndexOf('\'') - start);
  EXPECT_TRUE(text.startsWith(QStringLiteral("The 2 sheets scanned for '%1' are kept in '").arg(path))) << text.toStdString();
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << csv.toStdString();
  EXPECT_EQ(file.readAll(), "a1,\"a,2\"\r\nb1\r\n");
  EXPECT_FALSE(QFile::exists(CrashJournal::PathFor(path)));
  EXPECT_TRUE(journalGoneBeforeTheMessage) << "killed while the box is open, nothing is asked twice";
  EXPECT_EQ(WorkbookReader(path).Cell(2, 1), "") << "the workbook is left as it was";
  h.Stop();
  EXPECT_TRUE(QFile::exists(csv)) << "declining never destroys them";
}

TEST_F(RecoveryTest, SheetsThatAreInTheFileAfterAllBringNoQuestion) {
  const QString path = Made("saved.xls", {"s1", "s2"});
  Crashed(path, {Entry(1, 1, {"s1"}), Entry(2, 2, {"s2"})});  // saved by the spreadsheet's own question
  TfrmMain& w = h.StartWindow();
  EXPECT_TRUE(h.ui.questions.empty());
  EXPECT_TRUE(w.CurrentFile.isEmpty());
  EXPECT_FALSE(QFile::exists(CrashJournal::PathFor(path)));
}

TEST_F(RecoveryTest, AWorkbookThatIsGoneLeavesItsSheetsInAFile) {
  const QString path = h.tmp.Path("gone.xls");
  Crashed(path, {Entry(1, 1, {"g1"})});
  h.Start();
  EXPECT_TRUE(h.ui.questions.empty());
  ASSERT_EQ(h.ui.messages.size(), 2u);
  EXPECT_TRUE(h.ui.messages[1].text.startsWith(QStringLiteral("The workbook '%1' is gone.  The 1 sheet scanned for").arg(path)))
      << h.ui.messages[1].text.toStdString();
  EXPECT_FALSE(QFile::exists(CrashJournal::PathFor(path)));
}

TEST_F(RecoveryTest, OpeningTheWorkbookLaterOffersItsSheetsBeforeScanningStarts) {
  const QString path = Made("later.xls", {"head"});
  TfrmMain& w = h.StartWindow();  // the journal is not there yet at start
  Crashed(path, {Entry(1, 2, {"l1"})});
  h.ui.answers = {Answer::Yes};
  h.ui.fileNames.push_back(path);
  w.Open1->trigger();
  ASSERT_EQ(h.ui.questions.size(), 1u);
  EXPECT_TRUE(w.ScanningActive);
  EXPECT_EQ(w.CurrentRow, 3) << "the next sheet goes after the one put back";
  EXPECT_EQ(ColumnA(w, 3), QStringList({"head", "l1", ""}));
}

// The program is killed while scanning: after 3 sheets saved and 5 more
// scanned. Started again, it offers the 5 and puts them back in order.
TEST_F(RecoveryTest, KilledWhileScanningEverySheetComesBackAfterARestart) {
  const QString workbook = h.tmp.Path("killed.xls");
  h.MapPorts();
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QStringLiteral(CFW_SCAN_CHILD), {h.tmp.Path(), workbook});
  ASSERT_TRUE(child.waitForStarted());
  const auto readLine = [&child](const QString& prefix) {
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
      if (!child.canReadLine() && !child.waitForReadyRead(100)) continue;
      const QString line = QString::fromUtf8(child.readLine()).trimmed();
      if (line.startsWith(prefix)) return line;
    }
    return QString();
  };
  ASSERT_EQ(readLine("scanning"), "scanning");
  ASSERT_TRUE(h.machine->WaitFor([](const machine_sim::SimulatorStatus& s) { return s.modeChosen; }, std::chrono::seconds(10)));
  const QString journal = CrashJournal::PathFor(workbook);
  const auto journaled = [&journal](size_t n) {
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
      const auto contents = CrashJournal::Read(journal);
      if (contents && contents->sheets.size() >= n) return true;
      QThread::msleep(20);
    }
    return false;
  };
  for (int i = 0; i < 3; ++i) h.machine->DropSheet();
  ASSERT_TRUE(journaled(3));
  child.write("save\n");
  ASSERT_EQ(readLine("saved"), "saved 3");
  ASSERT_FALSE(QFile::exists(journal));
  for (int i = 0; i < 5; ++i) {
    h.machine->DropSheet();
    QThread::msleep(150);  // several sheets within one writer interval, too
  }
  ASSERT_TRUE(journaled(5));
  kill(static_cast<pid_t>(child.processId()), SIGKILL);
  child.waitForFinished();
  ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(h.Settings().ReadString("FEED", "Recent0", ""), workbook) << "the recent list survived the crash";

  const std::vector<machine_sim::ExpectedRow> expected = h.machine->Status().deliveredRows;
  ASSERT_EQ(expected.size(), 8u);
  h.machine.reset();
  h.ui.answers = {Answer::Yes};
  TfrmMain& w = h.StartWindow();
  ASSERT_EQ(h.ui.questions.size(), 1u);
  EXPECT_TRUE(h.ui.questions[0].text.startsWith(QStringLiteral("5 sheets scanned for '%1'").arg(workbook)))
      << h.ui.questions[0].text.toStdString();
  w.Save1->trigger();
  WorkbookReader saved(workbook);
  for (int row = 1; row <= 8; ++row) {
    const QStringList got = saved.Row(row, 66);
    for (int c = 0; c < 66; ++c) ASSERT_EQ(got[c].toStdString(), expected[row - 1][c]) << "row " << row << " column " << c + 1;
  }
  EXPECT_EQ(saved.Cell(9, 1), "");
}

}  // namespace
