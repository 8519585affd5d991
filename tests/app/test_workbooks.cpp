// Workbook handling and the row writer of the main window, through the real
// built-in spreadsheet server and real files.
#include "WorkbookHarness.h"
#include "app/SheetRowWriter.h"
#include "spreadsheet/server/SheetView.h"
#include "tests/spreadsheet/SpreadsheetTestSupport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>

#include <gtest/gtest.h>

namespace {

const QString kFull = QStringLiteral("Import sheet is full, cannot enter scanning mode.");

QStringList Spaces(int n) { return QStringList(n, QStringLiteral(" ")); }

QStringList Numbered(int n) {
  QStringList out;
  for (int i = 1; i <= n; ++i) out << QString::number(i);
  return out;
}

void FillColumnA(const OleVariant& sheet, int lastRow) {
  for (int r = 1; r <= lastRow; ++r) PutCell(sheet, r, 1, QStringLiteral("n%1").arg(r));
}

class WorkbookTest : public ::testing::Test {
 protected:
  WorkbookHarness h;
};

TEST_F(WorkbookTest, WorkedExampleCellByCell) {
  const QString path = h.tmp.Path("class.xls");
  MakeWorkbook(path, [](const OleVariant& s) {
    PutCell(s, 1, 1, "Results");
    PutCell(s, 2, 1, "Ann");
    PutCell(s, 3, 1, "Bob");
  });
  TfrmMain& w = h.StartWindow();
  w.OpenWorkbook(path);
  EXPECT_TRUE(w.ScanningActive);
  EXPECT_EQ(w.CurrentRow, 4);
  h.Tick({"2", "15", " ", "4"});
  EXPECT_EQ(w.CurrentRow, 5);
  EXPECT_TRUE(w.PendingSheets.Empty());
  h.Tick({"1"});
  EXPECT_EQ(w.CurrentRow, 6);
  w.StopScanning1->trigger();
  w.StartScanning1->trigger();
  EXPECT_EQ(w.CurrentRow, 6);
  w.Save1->trigger();
  EXPECT_TRUE(h.ui.messages.empty()) << h.ui.Texts().join('|').toStdString();

  WorkbookReader saved(path);
  EXPECT_EQ(saved.Row(4, 67), QStringList({"2", "15", " ", "4"}) + Spaces(62) + QStringList{""});
  EXPECT_EQ(saved.Row(5, 67), QStringList({"1"}) + Spaces(65) + QStringList{""});
  EXPECT_EQ(saved.Cell(3, 1), "Bob");
  EXPECT_EQ(saved.Cell(6, 1), "");
}

TEST_F(WorkbookTest, RowSearchLimits) {
  struct Case { int filledRows; bool fillRow65500; int expected; };
  const Case cases[] = {{65498, false, 65499}, {65499, false, 0}, {65499, true, 0}};
  for (const Case& c : cases) {
    const QString path = h.tmp.Path(QStringLiteral("limit%1.xls").arg(c.filledRows + c.fillRow65500));
    MakeWorkbook(path, [&](const OleVariant& s) {
      FillColumnA(s, c.filledRows);
      if (c.fillRow65500) PutCell(s, 65500, 1, "x");
    });
    OleVariant app = CreateOleObject(kProgId);
    app.Get("Workbooks").Call("Open", {path, false});
    OleVariant sheets;
    if (c.expected > 0) {
      EXPECT_EQ(FindFirstEmptyRow(app, sheets), c.expected);
    } else {
      EXPECT_THROW(FindFirstEmptyRow(app, sheets), EImportSheetFull);
    }
    app.Call("Quit");
  }
}

TEST_F(WorkbookTest, EmptySheetStartsAtRowOneAndFullSheetRefusesWithoutChangingState) {
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("new.xls"));
  EXPECT_FALSE(w.ScanningActive) << "New leaves scanning stopped";
  w.StartScanning1->trigger();
  EXPECT_EQ(w.CurrentRow, 1);

  const QString full = h.tmp.Path("full.xls");
  MakeWorkbook(full, [](const OleVariant& s) { FillColumnA(s, 65499); });
  w.StopScanning1->trigger();
  w.CurrentRow = 17;
  h.ui.messages.clear();
  QMenu* recent = w.Recent1;
  (void)recent;
  w.Open1->trigger();  // no file chosen: nothing happens
  EXPECT_TRUE(h.ui.messages.empty());
  h.ui.fileNames.push_back(full);
  w.Open1->trigger();
  ASSERT_EQ(h.ui.Texts(), QStringList({kFull}));
  EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Exception);
  EXPECT_EQ(w.CurrentFile, full) << "the workbook is open";
  EXPECT_EQ(w.RecentFiles.Paths().back(), full);
  EXPECT_EQ(w.CurrentRow, 17);
  EXPECT_FALSE(w.ScanningActive);
  EXPECT_TRUE(w.ModeCommandPending);
  EXPECT_FALSE(w.MultipleBubbleMode1->isEnabled()) << "items stay disabled until Stop Scanning";
  EXPECT_EQ(w.lblMode->text(), "Scanning Not Active");
}

TEST_F(WorkbookTest, AFullSheetWhileScanningStopsScanning) {
  const QString full = h.tmp.Path("full.xls");
  MakeWorkbook(full, [](const OleVariant& s) { FillColumnA(s, 65499); });
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("a.xls"));
  w.StartScanning1->trigger();
  ASSERT_TRUE(w.ScanningActive);
  h.ui.fileNames.push_back(full);
  w.Open1->trigger();
  EXPECT_EQ(h.ui.Texts(), QStringList({kFull}));
  EXPECT_FALSE(w.ScanningActive);
  EXPECT_EQ(w.lblMode->text(), "Scanning Not Active");
  EXPECT_TRUE(w.SingleBubbleMode1->isEnabled());
}

TEST_F(WorkbookTest, RowWidthRules) {
  const QString path = h.tmp.Path("rows.xls");
  MakeWorkbook(path, [](const OleVariant& s) {
    PutCell(s, 1, 1, "head");
    for (int c = 2; c <= 68; ++c) PutCell(s, 2, c, "old");  // column A of row 2 stays empty
  });
  TfrmMain& w = h.StartWindow();
  w.OpenWorkbook(path);
  ASSERT_EQ(w.CurrentRow, 2);
  h.Tick({"x"});     // overwrites columns 1-66 of row 2 only
  h.Tick(Numbered(66));
  h.Tick(Numbered(70));
  h.Tick({});        // no values: 66 spaces, and the row still advances
  EXPECT_EQ(w.CurrentRow, 6);
  w.Save1->trigger();

  WorkbookReader saved(path);
  EXPECT_EQ(saved.Row(2, 68), QStringList({"x"}) + Spaces(65) + QStringList({"old", "old"}));
  EXPECT_EQ(saved.Row(3, 67), Numbered(66) + QStringList{""});
  EXPECT_EQ(saved.Row(4, 71), Numbered(70) + QStringList{""});
  EXPECT_EQ(saved.Row(5, 67), Spaces(66) + QStringList{""});
}

TEST_F(WorkbookTest, AFailedCellWriteIsTriedAgainAsItsOwnRowAndReportedOnce) {
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("f.xls"));
  w.StartScanning1->trigger();
  int puts = 0;
  h.spy->failWhen = [&puts](const QString& member, CallKind kind, const std::vector<OleVariant>&) {
    return kind == CallKind::Put && member == "Value" && ++puts == 3;
  };
  h.Tick({"a", "b", "c"});
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_TRUE(h.ui.messages[0].text.contains("could not be written into row 1 of 'f.xls': Injected failure of Value."))
      << h.ui.messages[0].text.toStdString();
  EXPECT_EQ(w.CurrentRow, 1);
  EXPECT_EQ(w.PendingSheets.Size(), 1u);
  h.Tick({"next"});  // waits behind the sheet that failed: rows keep their order
  EXPECT_EQ(w.CurrentRow, 1);
  ASSERT_TRUE(WaitUntil([&] { return w.CurrentRow == 3; })) << "tried again by the timer";
  EXPECT_EQ(h.ui.messages.size(), 1u) << "reported once";
  w.Save1->trigger();
  WorkbookReader saved(w.CurrentFile);
  EXPECT_EQ(saved.Row(1, 3), QStringList({"a", "b", "c"}));
  EXPECT_EQ(saved.Row(2, 2), QStringList({"next", " "}));
}

TEST_F(WorkbookTest, ARecordDecodedWhileTheTickWaitsGetsARowOfItsOwnHalfASecondLater) {
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("late.xls"));
  w.StartScanning1->trigger();
  w.PendingSheets.Add({"1"}, SheetQueue::Clock::now() - std::chrono::milliseconds(500));
  // What the data handler does for a record that the tick's event step delivers.
  SheetQueue::Clock::time_point lateArrival;
  QTimer::singleShot(0, &w, [&w, &lateArrival] {
    lateArrival = SheetQueue::Clock::now();
    w.PendingSheets.Add({"2"}, lateArrival);
    if (!w.tmrInputVal->isActive()) w.ArmRowWriter();
  });
  w.tmrInputValTimer();
  EXPECT_EQ(w.CurrentRow, 2) << "only the sheet that was due";
  EXPECT_TRUE(w.tmrInputVal->isActive()) << "the late sheet keeps the writer armed";
  ASSERT_TRUE(WaitUntil([&] { return w.CurrentRow == 3; }));
  EXPECT_GE(SheetQueue::Clock::now() - lateArrival, std::chrono::milliseconds(450)) << "written 500 ms after its record";
  ProcessEventsFor(700);
  EXPECT_EQ(w.CurrentRow, 3) << "no row of blanks for a tick without a record";
  w.Save1->trigger();
  WorkbookReader saved(w.CurrentFile);
  EXPECT_EQ(saved.Row(1, 2), QStringList({"1", " "}));
  EXPECT_EQ(saved.Row(2, 2), QStringList({"2", " "}));
  EXPECT_EQ(saved.Cell(3, 1), "");
}

TEST_F(WorkbookTest, SaveDuringScanningProtectsSheetOneAndScanningGoesOn) {
  TfrmMain& w = h.StartWindow();
  const QString path = h.tmp.Path("s.xls");
  h.NewWorkbook(path);
  w.StartScanning1->trigger();
  h.Tick({"1", "2"});
  w.Save1->trigger();
  EXPECT_TRUE(w.ScanningActive);
  h.Tick({"3"});
  w.Save1->trigger();
  EXPECT_EQ(h.spy->Count("Protect"), 1) << "already protected: not protected again";
  w.StopScanning1->trigger();
  w.StartScanning1->trigger();  // unprotects again
  EXPECT_EQ(w.CurrentRow, 3);

  const auto values = SheetTest::ProbeJson({"values", path}).array();
  ASSERT_EQ(values.size(), 1);
  const QJsonArray cells = values[0].toObject()["cells"].toArray();
  EXPECT_EQ(cells.size(), 132);
  EXPECT_EQ(SheetTest::CellText(cells[0].toArray()), "1");
  EXPECT_EQ(SheetTest::CellText(cells[66].toArray()), "3");
  EXPECT_EQ(SheetTest::ProbeJson({"protection", path}).array()[0].toBool(), true);
}

TEST_F(WorkbookTest, OpenOfAMissingFileKeepsThePreviousWorkbook) {
  const QString gone = h.tmp.Path("gone.xls");
  h.WriteSettings(("[Main]\nPortNo=3\n[FEED]\nRecent0=" + gone + "\n").toUtf8());
  const QString path = h.tmp.Path("kept.xls");
  MakeWorkbook(path, [](const OleVariant& s) { PutCell(s, 1, 1, "kept"); });
  TfrmMain& w = h.StartWindow();
  w.OpenWorkbook(path);
  w.StopScanning1->trigger();
  ASSERT_EQ(w.Recent1->actions().size(), 1);
  w.Recent1->actions()[0]->trigger();
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_TRUE(h.ui.messages[0].text.contains("gone.xls")) << h.ui.messages[0].text.toStdString();
  EXPECT_EQ(w.CurrentFile, path);
  EXPECT_EQ(w.WorkSheets.Get("Item", {1}).Get("Cells", {1, 1}).Get("Value").ToText(), "kept");
  EXPECT_TRUE(w.RecentFiles.Paths().contains(gone));
  EXPECT_FALSE(w.ScanningActive);
}

TEST_F(WorkbookTest, ElevenWorkbooksInARunTheTenNewestAreStored) {
  TfrmMain& w = h.StartWindow();
  for (int i = 0; i < 11; ++i) h.NewWorkbook(h.tmp.Path(QStringLiteral("w%1.xls").arg(i)));
  w.OpenWorkbook(h.tmp.Path("w0.xls"));  // used again: moves to the end
  EXPECT_EQ(w.RecentFiles.Count(), 11);
  EXPECT_EQ(w.RecentFiles.Paths().back(), h.tmp.Path("w0.xls"));
  h.Stop();
  const IniFile ini = h.Settings();
  EXPECT_EQ(ini.ReadString("FEED", "Recent0", ""), h.tmp.Path("w2.xls"));
  EXPECT_EQ(ini.ReadString("FEED", "Recent9", ""), h.tmp.Path("w0.xls"));
}

TEST_F(WorkbookTest, NewCancelledDoesNotStopScanning) {
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("a.xls"));
  w.StartScanning1->trigger();
  h.ui.fileNames.push_back(std::nullopt);
  w.New1->trigger();
  EXPECT_TRUE(w.ScanningActive);
}

TEST_F(WorkbookTest, TheServerIsToldToQuitOnlyWhenAWorkbookWasUsed) {
  h.StartWindow();
  h.Stop();
  EXPECT_EQ(h.spy->instances, 0);
  EXPECT_EQ(h.spy->Count("Quit"), 0);

  WorkbookHarness used;
  used.StartWindow();
  used.NewWorkbook(used.tmp.Path("q.xls"));
  used.Stop();
  EXPECT_EQ(used.spy->Count("Quit"), 1);
}

TEST_F(WorkbookTest, ASheetStillWaitingAtExitIsWrittenBeforeTheSaveQuestion) {
  InstallSheetView();  // the server asks about unsaved work; the responder answers Save
  TfrmMain& w = h.StartWindow();
  const QString path = h.tmp.Path("exit.xls");
  h.NewWorkbook(path);
  w.StartScanning1->trigger();
  w.PendingSheets.Add({"7"}, SheetQueue::Clock::now());
  w.ArmRowWriter();
  h.Stop();
  SetServerFrontEnd(nullptr);
  ASSERT_EQ(h.ui.questions.size(), 1u);
  WorkbookReader saved(path);
  EXPECT_EQ(saved.Row(1, 2), QStringList({"7", " "}));
}

TEST_F(WorkbookTest, OpenOfAWorkbookWithAPasswordAsksForItAndTheSaveKeepsItEncrypted) {
  InstallSheetView();  // the server asks for the password through the application's boxes
  const QString path = h.tmp.Path("class.xls");
  ASSERT_TRUE(QFile::copy(SheetTest::FixturesDir() + "/encrypted-calc-password.xls", path));
  QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  TfrmMain& w = h.StartWindow();
  h.ui.passwords = {QStringLiteral("klasse7a"), QStringLiteral("Klasse7a")};
  h.ui.fileNames.push_back(path);
  w.Open1->trigger();
  EXPECT_EQ(h.ui.passwordRequests.size(), 2u);
  EXPECT_EQ(w.CurrentFile, path);
  EXPECT_TRUE(w.ScanningActive);
  EXPECT_EQ(w.CurrentRow, 7);
  h.Tick({"9", "8"});
  w.Save1->trigger();
  SetServerFrontEnd(nullptr);
  ASSERT_EQ(h.ui.messages.size(), 1u) << h.ui.Texts().join('|').toStdString();
  EXPECT_TRUE(h.ui.messages[0].text.startsWith("The password you supplied is not correct."));

  EXPECT_THROW(Workbook::Open(path), WorkbookError);  // still needs its password
  const auto saved = Workbook::Open(path, [](const QString&, bool) { return std::optional<QString>("Klasse7a"); });
  const auto shown = [&saved](uint32_t col) {
    const CellValue value = saved->Sheet(0).Cell(6, col);
    return value.type == CellValue::Type::Number ? OleVariant(value.number).ToText() : value.text;
  };
  EXPECT_EQ(shown(0), "9");
  EXPECT_EQ(shown(1), "8");
  EXPECT_TRUE(saved->Sheet(0).Protected());
}

TEST_F(WorkbookTest, SaveWithoutAWorkbookIsAnInvalidVariantOperation) {
  TfrmMain& w = h.StartWindow();
  w.Save1->trigger();
  EXPECT_EQ(h.ui.Texts(), QStringList({"Invalid variant operation."}));
}

TEST_F(WorkbookTest, FileDialogsAskForXlsFirstWithoutChecks) {
  TfrmMain& w = h.StartWindow();
  h.ui.fileNames.push_back(std::nullopt);
  w.Open1->trigger();
  h.ui.fileNames.push_back(std::nullopt);
  w.New1->trigger();
  ASSERT_EQ(h.ui.fileRequests.size(), 2u);
  EXPECT_FALSE(h.ui.fileRequests[0].save);
  EXPECT_TRUE(h.ui.fileRequests[1].save);
  for (const auto& r : h.ui.fileRequests) {
    EXPECT_EQ(r.defaultSuffix, "xls");
    EXPECT_EQ(r.filter, "Excel Files (*.xls)|*.xls|Excel Workbook (*.xlsx)|*.xlsx|OpenDocument Spreadsheet (*.ods)|*.ods");
    EXPECT_EQ(UiServices::ToToolkitFilter(r.filter),
              "Excel Files (*.xls);;Excel Workbook (*.xlsx);;OpenDocument Spreadsheet (*.ods)")
        << ".xls first, the default";
  }
}

}  // namespace
