// The program with the real LibreOffice Calc behind it: an .xlsx workbook that
// Calc made, rows written while scanning, the office killed in the middle, and
// every sheet offered back when the workbook is opened again.
#include "WorkbookHarness.h"
#include "app/CrashJournal.h"
#include "app/SpreadsheetChoice.h"
#include "libreoffice/LibreOfficeServer.h"

#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QStringList ColumnA(const OleVariant& sheets, int from, int to) {
  QStringList out;
  for (int r = from; r <= to; ++r) out << sheets.Get("Item", {1}).Get("Cells", {r, 1}).Get("Value").ToText();
  return out;
}

TEST(CalcScanning, AnOfficeKilledWhileScanningLosesNoSheet) {
  WorkbookHarness h;
  RegisterLibreOfficeServer();
  const QString path = h.tmp.Path("marks.xlsx");
  {
    const OleVariant calc = CreateOleObject(kCalcServerProgId);
    const OleVariant book = calc.Get("Workbooks").Get("Add");
    calc.Get("Sheets", {1}).Get("Cells", {1, 1}).Put("Value", "Name");
    book.Call("SaveAs", {path});
    calc.Call("Quit");
  }
  TfrmMain& w = h.StartWindow();
  w.OpenWorkbook(path);
  ASSERT_TRUE(w.ScanningActive) << h.ui.Texts().join('|').toStdString();
  EXPECT_EQ(w.CurrentRow, 2);
  h.Tick({"1", "x"});
  h.Tick({"2"});
  EXPECT_EQ(ColumnA(w.WorkSheets, 2, 3), QStringList({"1", "2"}));

  const int64_t office = LibreOfficeProcessId();
  ASSERT_GT(office, 0);
  ASSERT_EQ(::kill(static_cast<pid_t>(office), SIGKILL), 0);
  for (int i = 0; i < 100 && ::kill(static_cast<pid_t>(office), 0) == 0; ++i) QThread::msleep(50);
  h.Tick({"3"});
  h.Tick({"4"});
  ASSERT_EQ(h.ui.messages.size(), 1u) << h.ui.Texts().join('|').toStdString();
  EXPECT_TRUE(h.ui.messages[0].text.startsWith("'marks.xlsx' is no longer open in LibreOffice")) << h.ui.Texts()[0].toStdString();
  EXPECT_TRUE(w.ScanningActive) << "scanning goes on, into the journal";
  const std::vector<JournalSheet> journaled = CrashJournal::Read(CrashJournal::PathFor(path))->sheets;
  ASSERT_EQ(journaled.size(), 4u) << "every sheet, the two after the kill too";

  // Opened again: nothing was saved, so all four come back, in order.
  h.ui.messages.clear();
  h.ui.answers.push_back(Answer::Yes);
  w.OpenWorkbook(path);
  ASSERT_EQ(h.ui.questions.size(), 1u);
  EXPECT_TRUE(h.ui.questions[0].text.startsWith("4 sheets scanned for")) << h.ui.questions[0].text.toStdString();
  EXPECT_EQ(ColumnA(w.WorkSheets, 1, 6), QStringList({"Name", "1", "2", "3", "4", ""}));
  w.Save1->trigger();
  EXPECT_TRUE(h.ui.messages.empty()) << h.ui.Texts().join('|').toStdString();
  EXPECT_FALSE(QFile::exists(CrashJournal::PathFor(path))) << "saved: the journal is retired";

  const OleVariant check = CreateOleObject(kCalcServerProgId);
  check.Get("Workbooks").Call("Open", {path, false});
  EXPECT_EQ(ColumnA(check.Get("ActiveWorkBook").Get("Sheets"), 1, 6), QStringList({"Name", "1", "2", "3", "4", ""}));
  check.Call("Quit");
}

}  // namespace
