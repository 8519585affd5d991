// Sheets into rows through the real built-in spreadsheet server: one sheet
// one row, journaled first; a sheet that can never be written is kept apart
// and holds nothing up; journaled sheets go back at the first empty rows,
// never over data.
#include "AutomationSpy.h"
#include "TempDir.h"
#include "app/CrashJournal.h"
#include "app/JournalRecovery.h"
#include "app/RowDelivery.h"
#include "app/SheetRowWriter.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using Clock = SheetQueue::Clock;

QStringList Numbered(int n, const QString& prefix = {}) {
  QStringList out;
  for (int i = 1; i <= n; ++i) out << prefix + QString::number(i);
  return out;
}

// The state folder in a scratch folder, before anything asks where it is.
class ScratchState {
 public:
  ScratchState() : previous_(qgetenv("XDG_STATE_HOME")) { qputenv("XDG_STATE_HOME", QFile::encodeName(tmp.Path("state"))); }
  ~ScratchState() { qputenv("XDG_STATE_HOME", previous_); }
  TempDir tmp;

 private:
  QByteArray previous_;
};

// A new workbook in the server.
class RowsTest : public ::testing::Test, protected ScratchState {
 protected:
  RowsTest() {
    RegisterSpreadsheetServer();
    app = CreateOleObject("Excel.Application");
    app.Get("Workbooks").Get("Add");
    sheets = app.Get("ActiveWorkbook").Get("Sheets");
  }
  ~RowsTest() override { app.Call("Quit"); }
  QString Cell(int row, int col) const {
    return sheets.Get("Item", {1}).Get("Cells", {row, col}).Get("Value").ToText();
  }
  QStringList Row(int row, int columns) const {
    QStringList out;
    for (int c = 1; c <= columns; ++c) out << Cell(row, c);
    return out;
  }
  void Put(int row, int col, const QString& text) { sheets.Get("Item", {1}).Get("Cells", {row, col}).Put("Value", text); }
  RowTarget Target() { return {sheets, path, row, journal, gone}; }
  // The fixture's workbook made anew in the server behind a spy, whose rules the test sets.
  std::shared_ptr<AutomationSpy> Spied() {
    auto spy = AutomationSpy::Install("Excel.Application", &CreateSpreadsheetApplication);
    app.Call("Quit");
    app = CreateOleObject("Excel.Application");
    app.Get("Workbooks").Get("Add");
    sheets = app.Get("ActiveWorkbook").Get("Sheets");
    return spy;
  }

  OleVariant app;
  OleVariant sheets;
  QString path = tmp.Path("rows.xls");
  int row = 3;
  bool gone = false;
  CrashJournal journal{path};
  QStringList reports;
  RowDelivery delivery{[this](const QString& m) { reports << m; }};
};

TEST_F(RowsTest, EachDueSheetIsItsOwnJournaledRowAndTheRestWait) {
  SheetQueue queue;
  const Clock::time_point t0 = Clock::now();
  queue.Add({"1", "2"}, t0);
  queue.Add({"3"}, t0);
  queue.Add({"4"}, t0 + std::chrono::milliseconds(300));
  EXPECT_EQ(queue.MsUntilDue(t0), 500);
  delivery.WriteDue(queue, Target(), t0 + std::chrono::milliseconds(499));  // a timer a millisecond early
  EXPECT_EQ(row, 5);
  EXPECT_EQ(queue.Size(), 1u);
  EXPECT_EQ(queue.MsUntilDue(t0 + std::chrono::milliseconds(500)), 300);
  EXPECT_EQ(Row(3, 3), QStringList({"1", "2", " "}));
  EXPECT_EQ(Row(4, 2), QStringList({"3", " "}));
  EXPECT_EQ(Cell(4, 66), " ");
  EXPECT_EQ(Cell(4, 67), "");
  const std::vector<JournalSheet> journaled = CrashJournal::Read(journal.FilePath())->sheets;
  ASSERT_EQ(journaled.size(), 2u);
  EXPECT_EQ(journaled[0].row, 3);
  EXPECT_EQ(journaled[1].values, QStringList({"3"}));
  delivery.WriteAll(queue, Target());  // due or not
  EXPECT_EQ(Row(5, 1), QStringList({"4"}));
  EXPECT_TRUE(reports.isEmpty());
}

TEST_F(RowsTest, ASheetThatCanNeverBeWrittenIsKeptApartReportedOnceAndHoldsNothingUp) {
  SheetQueue queue;
  const Clock::time_point t0 = Clock::now() - std::chrono::seconds(1);
  queue.Add(Numbered(264), t0);  // four sheets joined, or line noise: beyond column 256
  queue.Add({"next"}, t0);
  delivery.WriteDue(queue, Target(), Clock::now());
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(Row(3, 2), QStringList({"next", " "})) << "the next sheet takes the row";
  EXPECT_EQ(row, 4);
  ASSERT_EQ(reports.size(), 1);
  EXPECT_TRUE(reports[0].startsWith("Sheet 1 (scanned at ")) << reports[0].toStdString();
  EXPECT_TRUE(reports[0].contains("cannot be written into row 3 of 'rows.xls': the sheet has 264 values")) << reports[0].toStdString();
  const QString kept = KeptSheetsPath(path, "unwritten sheets");
  EXPECT_TRUE(reports[0].contains(kept)) << reports[0].toStdString();
  QFile csv(kept);
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll(), Numbered(264).join(',').toUtf8() + "\r\n");
  EXPECT_EQ(CrashJournal::Read(journal.FilePath())->sheets.size(), 1u) << "only the written one";

  // A workbook that is gone: every sheet kept apart, one message each, none retried.
  app.Call("Quit");
  queue.Add({"a"}, t0);
  queue.Add({"b"}, t0);
  delivery.WriteDue(queue, Target(), Clock::now());
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(reports.size(), 3);
  EXPECT_TRUE(reports[2].contains("quit")) << reports[2].toStdString();
  app = CreateOleObject("Excel.Application");  // for the fixture's own Quit
}

TEST_F(RowsTest, APassingFailureIsReportedOnceTriedAgainAndKeptAfterTheLastTry) {
  const auto spy = Spied();
  bool failing = true;
  spy->failWhen = [&failing](const QString& member, CallKind kind, const std::vector<OleVariant>&) {
    return failing && kind == CallKind::Put && member == "Value";
  };
  SheetQueue queue;
  Clock::time_point now = Clock::now();
  queue.Add({"1"}, now - std::chrono::seconds(1));
  queue.Add({"2"}, now - std::chrono::seconds(1));
  for (int attempt = 1; attempt < RowDelivery::kWriteAttempts; ++attempt) {
    delivery.WriteDue(queue, Target(), now);
    EXPECT_EQ(queue.Size(), 2u) << "the sheets behind it wait, in order";
    EXPECT_FALSE(queue.FrontDue(now)) << "not again at once";
    now += queue.Delay();
  }
  EXPECT_EQ(reports.size(), 1) << "one message, not one per try";
  failing = false;
  delivery.WriteDue(queue, Target(), now);
  EXPECT_EQ(Row(3, 1), QStringList({"1"}));
  EXPECT_EQ(Row(4, 1), QStringList({"2"}));
  EXPECT_EQ(CrashJournal::Read(journal.FilePath())->sheets.size(), 2u) << "journaled once each";

  failing = true;
  queue.Add({"3"}, now);
  for (int attempt = 0; attempt < RowDelivery::kWriteAttempts; ++attempt) delivery.WriteDue(queue, Target(), now += queue.Delay());
  EXPECT_TRUE(queue.Empty()) << "after the last try it is kept apart";
  EXPECT_EQ(reports.size(), 3);
  EXPECT_TRUE(reports.back().contains("Injected failure of Value.")) << reports.back().toStdString();
  RegisterSpreadsheetServer();
}

TEST_F(RowsTest, AJournalThatCannotBeWrittenIsReportedOnceAndRowsStillGoIn) {
  QFile::remove(tmp.Path("state"));
  tmp.Write("state", "not a folder");
  SheetQueue queue;
  for (int i = 0; i < 3; ++i) queue.Add({QString::number(i)}, Clock::now() - std::chrono::seconds(1));
  // The message box's nested event loop lets the row writer tick meanwhile.
  RowDelivery boxed([&](const QString& m) {
    reports << m;
    boxed.WriteDue(queue, Target(), Clock::now());
  });
  boxed.WriteDue(queue, Target(), Clock::now());
  EXPECT_EQ(row, 6);
  EXPECT_EQ(Row(3, 1) + Row(4, 1) + Row(5, 1) + Row(6, 1), QStringList({"0", "1", "2", ""})) << "each sheet once, in order";
  ASSERT_EQ(reports.size(), 1);
  EXPECT_TRUE(reports[0].contains("save it often")) << reports[0].toStdString();
}

TEST_F(RowsTest, WhatTheWorkbookLacksGoesBackInOrderNeverOverData) {
  Put(1, 1, "head");
  Put(2, 1, "11");
  Put(2, 2, "12");
  const std::vector<JournalSheet> journaled{
      {1, 2, {}, {"11", "12"}},  // in the workbook where it was written
      {2, 3, {}, {"21"}},        // lost with the crash
      {3, 4, {}, {"31", "32"}},
      {4, 5, {}, {}},            // a record without values: a row of blanks
  };
  std::vector<JournalSheet> missing = SheetsMissingFrom(sheets, journaled);
  ASSERT_EQ(missing.size(), 3u);
  EXPECT_EQ(missing[0].number, 2);
  EXPECT_EQ(missing[2].number, 4);

  // Meanwhile someone wrote into the workbook: row 3 has data, row 4 has
  // column A empty but a note in column 40, row 5 is free, row 6 is taken.
  Put(3, 1, "typed");
  Put(4, 40, "note");
  Put(6, 1, "later");
  const std::vector<JournalSheet> restored = RestoreSheets(sheets, missing);
  EXPECT_EQ(restored[0].row, 5);
  EXPECT_EQ(restored[1].row, 7);
  EXPECT_EQ(restored[2].row, 8);
  EXPECT_EQ(Row(5, 2), QStringList({"21", " "}));
  EXPECT_EQ(Row(7, 3), QStringList({"31", "32", " "}));
  EXPECT_EQ(Row(8, 1), QStringList({" "}));
  EXPECT_EQ(Cell(3, 1), "typed");
  EXPECT_EQ(Cell(4, 1), "");
  EXPECT_EQ(Cell(4, 40), "note");
  EXPECT_EQ(Cell(6, 1), "later");
  EXPECT_TRUE(SheetsMissingFrom(sheets, restored).empty()) << "now they are where the journal says";
  EXPECT_EQ(CountOfSheets(1), "1 sheet");
  EXPECT_EQ(CountOfSheets(5), "5 sheets");
}

TEST_F(RowsTest, ARowNeverGoesOverWhatWasTypedIntoColumnAMeanwhileAndTheJournalSaysWhereItWent) {
  Put(3, 1, "typed");
  Put(4, 1, "typed too");
  Put(5, 2, "a note beside an empty column A");
  SheetQueue queue;
  queue.Add({"1"}, Clock::now() - std::chrono::seconds(1));
  queue.Add({"2"}, Clock::now() - std::chrono::seconds(1));
  delivery.WriteDue(queue, Target(), Clock::now());
  EXPECT_EQ(Cell(3, 1), "typed");
  EXPECT_EQ(Cell(4, 1), "typed too");
  EXPECT_EQ(Row(5, 2), QStringList({"1", " "})) << "column A decides, as for the first empty row";
  EXPECT_EQ(Row(6, 1), QStringList({"2"}));
  EXPECT_EQ(row, 7);
  const std::vector<JournalSheet> journaled = CrashJournal::Read(journal.FilePath())->sheets;
  ASSERT_EQ(journaled.size(), 2u);
  EXPECT_EQ(journaled[0].row, 5);
  EXPECT_EQ(journaled[1].row, 6);
  EXPECT_TRUE(SheetsMissingFrom(sheets, journaled).empty());
  EXPECT_TRUE(reports.isEmpty());
}

TEST_F(RowsTest, AWorkbookThatLeftItsServerIsToldOnceItsSheetsWaitInTheJournalAndComeBack) {
  const auto spy = Spied();
  Put(1, 1, "heading");
  Put(2, 1, "names");
  SheetQueue queue;
  queue.Add({"written"}, Clock::now() - std::chrono::seconds(1));
  delivery.WriteDue(queue, Target(), Clock::now());

  // The user closed the workbook's window: every call fails from now on.
  spy->goneWhen = [](const QString&, CallKind, const std::vector<OleVariant>&) { return true; };
  for (int i = 1; i <= 3; ++i) queue.Add({"s" + QString::number(i)}, Clock::now() - std::chrono::seconds(1));
  delivery.WriteDue(queue, Target(), Clock::now());
  queue.Add({"s4"}, Clock::now() - std::chrono::seconds(1));
  delivery.WriteDue(queue, Target(), Clock::now());
  EXPECT_TRUE(queue.Empty()) << "nothing held up";
  ASSERT_EQ(reports.size(), 1) << reports.join("\n").toStdString();
  EXPECT_TRUE(reports[0].startsWith("The workbook is no longer open in the spreadsheet.  ")) << reports[0].toStdString();
  EXPECT_TRUE(reports[0].contains("are kept, and are offered back when it is opened again.")) << reports[0].toStdString();
  EXPECT_FALSE(QFile::exists(KeptSheetsPath(path, "unwritten sheets"))) << "the journal keeps them, not a side file";

  // Opened again: what the journal holds beyond the workbook comes back, in order.
  spy->goneWhen = nullptr;
  const std::vector<JournalSheet> journaled = CrashJournal::Read(journal.FilePath())->sheets;
  ASSERT_EQ(journaled.size(), 5u);
  std::vector<JournalSheet> missing = SheetsMissingFrom(sheets, journaled);
  ASSERT_EQ(missing.size(), 4u);
  EXPECT_EQ(missing.front().values, QStringList({"s1"}));
  const std::vector<JournalSheet> restored = RestoreSheets(sheets, missing);
  EXPECT_EQ(Row(1, 1) + Row(3, 1) + Row(4, 1) + Row(5, 1) + Row(6, 1) + Row(7, 1),
            QStringList({"heading", "written", "s1", "s2", "s3", "s4"}));
  EXPECT_TRUE(SheetsMissingFrom(sheets, restored).empty());
  RegisterSpreadsheetServer();
}

TEST_F(RowsTest, RestoringIntoAFullSheetStopsWithAnError) {
  for (int r = 1; r < kRowSearchLimit; ++r) Put(r, 1, "x");
  EXPECT_THROW(RestoreSheets(sheets, {{1, 1, {}, {"1"}}}), std::runtime_error);
  EXPECT_EQ(Cell(kRowSearchLimit, 1), "");
}

}  // namespace
