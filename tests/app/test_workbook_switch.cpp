// Rows land in the workbook they were scanned for, whatever the user does
// with workbooks meanwhile: a failed open, the previous workbook's question
// about unsaved changes (a nested event loop in which the row writer goes on
// ticking), the question about journaled sheets of the new one.
#include "EventPump.h"
#include "WorkbookHarness.h"
#include "app/CrashJournal.h"
#include "spreadsheet/server/SheetView.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

namespace {

// One sheet whose column 1 reads as the digit, the other columns blank.
std::string Record(int digit) { return std::string("S~") + static_cast<char>(0x40 >> digit) + "E\r\n"; }

class SwitchTest : public ::testing::Test {
 protected:
  // The server asks its questions through the application's boxes while this lives.
  void AskThroughTheBoxes() {
    InstallSheetView();
    asking_ = true;
  }
  ~SwitchTest() override {
    if (asking_) SetServerFrontEnd(nullptr);
  }
  TfrmMain& ScanInto(const QString& path) {
    TfrmMain& w = h.StartWindow();
    w.OpenWorkbook(path);
    EXPECT_TRUE(WaitUntil([&] { return !w.ModeCommandPending; })) << "the machine acknowledged";
    return w;
  }
  void SendAndWait(TfrmMain& w, int digit) {
    const int target = w.CurrentRow + 1;
    h.machine->SendRaw(Record(digit));
    EXPECT_TRUE(WaitUntil([&] { return w.CurrentRow >= target; })) << "row not written";
  }
  QString Made(const QString& name, const QStringList& columnA) {
    const QString path = h.tmp.Path(name);
    MakeWorkbook(path, [&](const OleVariant& s) {
      for (int r = 0; r < columnA.size(); ++r) PutCell(s, r + 1, 1, columnA[r]);
    });
    return path;
  }

  WorkbookHarness h;

 private:
  bool asking_ = false;
};

TEST_F(SwitchTest, AFailedOpenLeavesThePreviousWorkbookCurrentAndScanningGoesOnIntoIt) {
  const QString a = Made("a.xls", {"head"});
  TfrmMain& w = ScanInto(a);
  SendAndWait(w, 1);
  h.tmp.Write("bad.xls", "this is no workbook");
  h.ui.fileNames.push_back(h.tmp.Path("bad.xls"));
  w.Open1->trigger();
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_TRUE(h.ui.messages[0].text.contains("bad.xls")) << h.ui.messages[0].text.toStdString();
  EXPECT_EQ(w.CurrentFile, a);
  EXPECT_TRUE(w.ScanningActive);
  SendAndWait(w, 2);
  w.Save1->trigger();
  EXPECT_EQ(h.ui.messages.size(), 1u) << h.ui.Texts().join('|').toStdString();
  WorkbookReader saved(a);
  EXPECT_EQ(saved.Row(1, 3), QStringList({"head", "", ""}));
  EXPECT_EQ(saved.Row(2, 2), QStringList({"1", " "}));
  EXPECT_EQ(saved.Row(3, 2), QStringList({"2", " "}));
}

TEST_F(SwitchTest, DuringThePreviousWorkbooksSaveQuestionNoRowGoesIntoTheWrongOne) {
  AskThroughTheBoxes();
  const QString a = Made("a.xls", {});
  const QString b = Made("b.xls", {"b1", "b2", "b3"});
  TfrmMain& w = ScanInto(a);
  SendAndWait(w, 1);  // row 1 of A, not saved
  // While A's question is open the machine sends a sheet and the row writer ticks.
  h.ui.onQuestion = [&](const ShownMessage& question) {
    if (!question.text.contains("a.xls")) return;
    // B's scanning has begun: the record may share a read with the machine's
    // answer to "@", and is a row either way.
    h.machine->SendRaw(Record(2));
    // Decoded and waiting, then long enough for the writer to tick on it.
    EXPECT_TRUE(WaitUntil([&] { return w.PendingSheets.Size() == 1; })) << "the sheet arrived";
    ProcessEventsFor(700);
  };
  h.ui.answers = {Answer::DontSave};
  h.ui.fileNames.push_back(b);
  w.Open1->trigger();
  ASSERT_EQ(h.ui.questions.size(), 1u);
  EXPECT_EQ(h.ui.questions[0].text, "Do you want to save the changes you made to 'a.xls'?");
  EXPECT_TRUE(h.ui.messages.empty()) << h.ui.Texts().join('|').toStdString();
  EXPECT_EQ(w.CurrentFile, b);
  EXPECT_TRUE(WaitUntil([&] { return w.CurrentRow == 5; })) << "the sheet went to B's first empty row";
  h.ui.onQuestion = nullptr;
  w.Save1->trigger();
  WorkbookReader savedB(b);
  EXPECT_EQ(savedB.Row(1, 1) + savedB.Row(2, 1) + savedB.Row(3, 1), QStringList({"b1", "b2", "b3"}));
  EXPECT_EQ(savedB.Row(4, 2), QStringList({"2", " "}));
  EXPECT_EQ(WorkbookReader(a).Cell(1, 1), "") << "not saved: the user said so";

  // A's sheet stayed in A's journal: opening A offers it back.
  h.ui.answers = {Answer::Yes};
  w.OpenWorkbook(a);
  ASSERT_EQ(h.ui.questions.size(), 2u);
  EXPECT_EQ(h.ui.questions[1].text, QStringLiteral("1 sheet scanned for '%1' was never saved into the workbook.  "
                                                   "Put it back now, at the first empty rows?").arg(a));
  EXPECT_EQ(w.CurrentRow, 2) << "scanning goes on after the sheet put back";
  EXPECT_EQ(w.WorkSheets.Get("Item", {1}).Get("Cells", {1, 1}).Get("Value").ToText(), "1");
}

TEST_F(SwitchTest, SheetsArrivingBeforeTheNewWorkbooksRowSearchWaitForIt) {
  const QString a = Made("a.xls", {});
  const QString b = Made("b.xls", {"b1"});
  TfrmMain& w = ScanInto(a);
  {
    CrashJournal journal(b);  // two sheets an earlier run kept from B
    journal.Append({1, 2, QDateTime::currentDateTime(), {"j1"}});
    journal.Append({2, 3, QDateTime::currentDateTime(), {"j2"}});
  }
  h.ui.onQuestion = [&](const ShownMessage&) {
    h.machine->SendRaw(Record(3));
    EXPECT_TRUE(WaitUntil([&] { return w.PendingSheets.Size() == 1; })) << "the sheet arrived";
    ProcessEventsFor(700);  // due meanwhile, but B's rows are not known yet
    EXPECT_EQ(w.PendingSheets.Size(), 1u);
  };
  h.ui.answers = {Answer::Yes};
  w.OpenWorkbook(b);
  ASSERT_EQ(h.ui.questions.size(), 1u);
  EXPECT_TRUE(h.ui.questions[0].text.startsWith(QStringLiteral("2 sheets scanned for '%1' were never saved").arg(b)));
  ASSERT_TRUE(WaitUntil([&] { return w.CurrentRow == 5; }));
  const OleVariant sheet = w.WorkSheets.Get("Item", {1});
  QStringList columnA;
  for (int r = 1; r <= 5; ++r) columnA << sheet.Get("Cells", {r, 1}).Get("Value").ToText();
  EXPECT_EQ(columnA, QStringList({"b1", "j1", "j2", "3", ""}));
  EXPECT_EQ(WorkbookReader(a).Cell(1, 1), "") << "nothing went to A";
}

TEST_F(SwitchTest, ASheetWaitingWhenTheWorkbookChangesGoesIntoItsOwnWorkbook) {
  const QString a = Made("a.xls", {"a-head"});
  const QString b = Made("b.xls", {});
  TfrmMain& w = ScanInto(a);
  w.PendingSheets.Add({"late"}, SheetQueue::Clock::now());  // its 500 ms not up yet
  w.ArmRowWriter();
  h.ui.fileNames.push_back(b);
  w.Open1->trigger();
  EXPECT_TRUE(w.PendingSheets.Empty());
  EXPECT_EQ(w.CurrentRow, 1) << "B starts at its own first empty row";
  const std::vector<JournalSheet> journaled = CrashJournal::Read(CrashJournal::PathFor(a))->sheets;
  ASSERT_EQ(journaled.size(), 1u);
  EXPECT_EQ(journaled[0].row, 2);
  EXPECT_EQ(journaled[0].values, QStringList({"late"}));

  // The same for File New.
  w.PendingSheets.Add({"later"}, SheetQueue::Clock::now());
  h.NewWorkbook(h.tmp.Path("c.xls"));
  EXPECT_EQ(CrashJournal::Read(CrashJournal::PathFor(b))->sheets.front().values, QStringList({"later"}));
  EXPECT_EQ(w.CurrentFile, h.tmp.Path("c.xls"));
  EXPECT_FALSE(w.RowKnown) << "nothing is written into C before its row search";
}

TEST_F(SwitchTest, AFullWorkbookOpenedWhileSheetsWaitKeepsThemApart) {
  const QString a = Made("a.xls", {});
  const QString full = h.tmp.Path("full.xls");
  MakeWorkbook(full, [](const OleVariant& s) {
    for (int r = 1; r < 65500; ++r) PutCell(s, r, 1, "x");
  });
  TfrmMain& w = ScanInto(a);
  h.ui.onQuestion = nullptr;
  // A sheet decoded after the switch, before the search that fails.
  h.spy->failWhen = [&w](const QString& member, CallKind, const std::vector<OleVariant>&) {
    if (member == "Unprotect" && w.PendingSheets.Empty()) w.PendingSheets.Add({"stray"}, SheetQueue::Clock::now());
    return false;
  };
  h.ui.fileNames.push_back(full);
  w.Open1->trigger();
  h.spy->failWhen = nullptr;
  EXPECT_TRUE(w.PendingSheets.Empty());
  ASSERT_EQ(h.ui.messages.size(), 2u) << h.ui.Texts().join('|').toStdString();
  EXPECT_TRUE(h.ui.messages[0].text.contains("cannot be written into 'full.xls': Import sheet is full"))
      << h.ui.messages[0].text.toStdString();
  EXPECT_EQ(h.ui.messages[1].text, "Import sheet is full, cannot enter scanning mode.");
  QFile kept(KeptSheetsPath(full, "unwritten sheets"));
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "stray\r\n");
}

}  // namespace
