// Scanning end to end: the machine (simulated on a pseudo-terminal) talks to
// the real serial component, records are decoded by the main window and
// written by the row writer into a workbook of the built-in server.
#include "EventPump.h"
#include "WorkbookHarness.h"
#include "tests/spreadsheet/SpreadsheetTestSupport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

using machine_sim::MachineSimulator;
using machine_sim::SimulatorStatus;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

QStringList Padded(QStringList values) {
  while (values.size() < 66) values << " ";
  return values;
}

// The first `columns` cells of a row of the workbook's first sheet.
QStringList CellsOf(TfrmMain& w, int row, int columns) {
  QStringList out;
  for (int c = 1; c <= columns; ++c) out << w.ExcelApp.Get("Sheets", {1}).Get("Cells", {row, c}).Get("Value").ToText();
  return out;
}

class ScanningTest : public ::testing::Test {
 protected:
  // A new workbook, scanning started and acknowledged by the machine.
  TfrmMain& StartScanning(bool single = false) {
    TfrmMain& w = h.StartWindow();
    if (single) w.SingleBubbleMode1->trigger();
    h.NewWorkbook(h.tmp.Path("scan.xls"));
    w.StartScanning1->trigger();
    EXPECT_TRUE(w.ScanningActive);
    EXPECT_TRUE(WaitUntil([&] { return !w.ModeCommandPending; })) << "the machine acknowledged \"@\"";
    EXPECT_TRUE(Machine().WaitFor([](const SimulatorStatus& s) { return s.modeChosen; }, std::chrono::seconds(10)));
    return w;
  }
  MachineSimulator& Machine() { return *h.machine; }
  // Sends raw bytes and waits until the row writer has moved on by `rows`.
  void SendAndWaitForRows(TfrmMain& w, const std::string& bytes, int rows = 1) {
    const int target = w.CurrentRow + rows;
    Machine().SendRaw(bytes);
    EXPECT_TRUE(WaitUntil([&] { return w.CurrentRow >= target; })) << "row not written";
  }
  QStringList RowOf(TfrmMain& w, int row, int columns = 66) { return CellsOf(w, row, columns); }
  WorkbookHarness h;
};

TEST_F(ScanningTest, StartScanningSendsAttentionAndOneModeCommand) {
  TfrmMain& w = StartScanning();
  EXPECT_EQ(Machine().Status().received, "@m");
  w.StopScanning1->trigger();
  w.SingleBubbleMode1->trigger();
  w.StartScanning1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Machine().Status().received == "@m@g"; })) << Machine().Status().received;
  // A further acknowledgement only resets the cursor.
  Machine().SendRaw("K");
  ProcessEventsFor(200);
  w.StopScanning1->trigger();
  ProcessEventsFor(100);
  EXPECT_EQ(Machine().Status().received, "@m@g");
}

TEST_F(ScanningTest, WorkedExamplesLandInTheRightCells) {
  TfrmMain& w = StartScanning();
  const int first = w.CurrentRow;
  SendAndWaitForRows(w, Bytes({0x53, 0x31, 0x7E, 0x21, 0x00, 0x0C, 0x45}));
  SendAndWaitForRows(w, Bytes({0x53, 0x7E, 0x3F, 0xC0, 0x45, 0x0D, 0x0A}));
  // The framing example: the record comes in two events.
  Machine().SendRaw(Bytes({0x53, 0x31, 0x7E}));
  ProcessEventsFor(100);
  SendAndWaitForRows(w, Bytes({0x21, 0x45, 0x0D, 0x0A}));
  EXPECT_EQ(RowOf(w, first), Padded({"34", " ", "16"}));
  EXPECT_EQ(RowOf(w, first + 1), Padded({" ", "123456"}));
  EXPECT_EQ(RowOf(w, first + 2), Padded({"16"}));

  w.StopScanning1->trigger();
  w.SingleBubbleMode1->trigger();
  w.StartScanning1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return !w.ModeCommandPending; }));
  SendAndWaitForRows(w, Bytes({0x53, 0x7E, 0x41, 0x42, 0x43, 0x45}));
  SendAndWaitForRows(w, Bytes({0x53, 0x7E, 0x31, 0x20, 0x45}));
  EXPECT_EQ(RowOf(w, first + 3), Padded({"C", " ", "A"}));
  EXPECT_EQ(RowOf(w, first + 4), Padded({" ", "1"}));
}

TEST_F(ScanningTest, BurstsAndRecordEdgeCases) {
  TfrmMain& w = StartScanning();
  const int first = w.CurrentRow;
  // Two complete records in one event: two sheets, two rows, in order.
  SendAndWaitForRows(w, "S~\x10\x20" "E\r\nS~\x08" "E\r\n", 2);
  EXPECT_EQ(RowOf(w, first, 3), QStringList({"1", "2", " "}));
  EXPECT_EQ(RowOf(w, first + 1, 2), QStringList({"3", " "}));
  // Cut at the first 0x45; no "~": the lead byte is the last column.
  SendAndWaitForRows(w, Bytes({0x53, 0x7E, 0x20, 0x45, 0x10, 0x45, 0x0D, 0x0A}));
  SendAndWaitForRows(w, Bytes({0x53, 0x20, 0x10, 0x45}));
  EXPECT_EQ(RowOf(w, first + 2, 2), QStringList({"1", " "}));
  EXPECT_EQ(RowOf(w, first + 3, 4), QStringList({"2", "1", "256", " "}));
}

// The machine's answer to "@" and a sheet's record reach the application in
// one read (a USB adapter's chunk, or a busy desktop's one notification).
// Whatever the answer, each sheet is exactly one row and the mode command goes
// out once per start.
TEST(ReplyAndRecordInOneRead, AtStartScanningEachSheetIsOneRow) {
  struct Case { const char* what; std::string answer; std::vector<QStringList> rows; };
  const Case cases[] = {
      {"K and a record", "KS0001~\x21\x0C" "E\r\n", {{"34", "16"}}},
      {"K, CR LF and a record", "K\r\nS0002~\x20" "E\r\n", {{"1"}}},
      {"a longer reply without a record", "K READY E\r\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WorkbookHarness h;
    machine_sim::SimulatorConfig config;
    config.protocol.acknowledgement = c.answer;
    h.AttachMachine(3, config);
    TfrmMain& w = h.StartWindow();
    h.NewWorkbook(h.tmp.Path("burst.xls"));
    const int rows = static_cast<int>(c.rows.size());
    int first = 0;
    // Twice: each start gets its answer, and with it its record.
    for (int start = 1; start <= 2; ++start) {
      w.StartScanning1->trigger();
      if (start == 1) first = w.CurrentRow;
      ASSERT_TRUE(WaitUntil([&] { return !w.ModeCommandPending; })) << "the answer was seen";
      EXPECT_TRUE(WaitUntil([&] { return w.CurrentRow >= first + start * rows; })) << "row not written";
      ProcessEventsFor(700);  // time for a second row to appear
      EXPECT_EQ(w.CurrentRow, first + start * rows) << "one row per sheet";
      EXPECT_EQ(h.machine->Status().received, start == 1 ? "@m" : "@m@m");
    }
    for (int i = 0; i < 2 * rows; ++i) {
      const QStringList& want = c.rows[static_cast<size_t>(i % rows)];
      EXPECT_EQ(CellsOf(w, first + i, static_cast<int>(want.size()) + 1), want + QStringList{" "});
    }
    EXPECT_TRUE(h.ui.messages.empty()) << h.ui.Texts().join('|').toStdString();
  }
}

TEST_F(ScanningTest, ALateReplyWithARecordBehindItIsNotLost) {
  TfrmMain& w = StartScanning();
  const int first = w.CurrentRow;
  SendAndWaitForRows(w, "KS0003~\x10" "E\r\n");
  SendAndWaitForRows(w, ".\r\nS0004~\x08" "E\r\n");
  ProcessEventsFor(700);
  EXPECT_EQ(w.CurrentRow, first + 2) << "one row per sheet";
  EXPECT_EQ(RowOf(w, first, 2), QStringList({"2", " "}));
  EXPECT_EQ(RowOf(w, first + 1, 2), QStringList({"3", " "}));
  EXPECT_EQ(Machine().Status().received, "@m") << "a late acknowledgement sends no second mode command";
}

TEST(ReplyAndRecordInOneRead, HalfARecordBehindTheAnswerIsCompletedByTheNextRead) {
  WorkbookHarness h;
  machine_sim::SimulatorConfig config;
  config.protocol.acknowledgement = "KS0005~\x20\x10";
  h.AttachMachine(3, config);
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("half.xls"));
  w.StartScanning1->trigger();
  const int first = w.CurrentRow;
  ASSERT_TRUE(WaitUntil([&] { return !w.ModeCommandPending; }));
  EXPECT_EQ(w.ReplyBuffer, QByteArray("S0005~\x20\x10")) << "the unfinished record waits";
  h.machine->SendRaw("\x08" "E\r\n");
  ASSERT_TRUE(WaitUntil([&] { return w.CurrentRow == first + 1; }));
  ProcessEventsFor(700);
  EXPECT_EQ(w.CurrentRow, first + 1);
  EXPECT_EQ(CellsOf(w, first, 4), QStringList({"3", "2", "1", " "}));
  EXPECT_EQ(h.machine->Status().received, "@m");
}

TEST_F(ScanningTest, TwoRecordsWithinOneIntervalGetARowEachHalfASecondAfterTheirRecord) {
  TfrmMain& w = StartScanning();
  const int first = w.CurrentRow;
  std::vector<SheetQueue::Clock::time_point> written;
  QObject::connect(w.tmrInputVal, &QTimer::timeout, [&] {
    while (static_cast<int>(written.size()) < w.CurrentRow - first) written.push_back(SheetQueue::Clock::now());
  });
  const auto sent = SheetQueue::Clock::now();
  Machine().SendRaw("S~\x20" "E\r\n");
  ASSERT_TRUE(WaitUntil([&] { return w.PendingSheets.Size() == 1; })) << "the first sheet arrived";
  ProcessEventsFor(200);
  SendAndWaitForRows(w, "S~\x10" "E\r\n", 2);
  EXPECT_EQ(RowOf(w, first, 2), QStringList({"1", " "}));
  EXPECT_EQ(RowOf(w, first + 1, 2), QStringList({"2", " "}));
  ASSERT_EQ(written.size(), 2u);
  // Each row waits its own 500 ms; the second is not written with the first
  // (in one tick both would be stamped alike). A busy machine may delay the
  // first tick, so the gap is only asked to be clearly more than none.
  EXPECT_GE(written[0] - sent, std::chrono::milliseconds(480));
  EXPECT_GE(written[1] - written[0], std::chrono::milliseconds(50));
}

TEST_F(ScanningTest, FourSheetsInOneBurstAreFourRowsAndANoisyOverlongRecordHoldsNothingUp) {
  TfrmMain& w = StartScanning();
  const int first = w.CurrentRow;
  std::string burst;
  for (int i = 0; i < 4; ++i) burst += "S000" + std::to_string(i) + "~" + std::string(66, static_cast<char>(0x20 >> i)) + "E\r\n";
  SendAndWaitForRows(w, burst, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(RowOf(w, first + i, 67), Padded(QStringList(66, QString::number(i + 1))) + QStringList{""});
  // A record stretched by line noise to 264 columns: one message, kept apart,
  // and the next sheet takes the row.
  SendAndWaitForRows(w, "S~" + std::string(264, '\x20') + "E\r\nS~\x04" "E\r\n", 1);
  ProcessEventsFor(700);
  EXPECT_EQ(w.CurrentRow, first + 5);
  EXPECT_EQ(RowOf(w, first + 4, 2), QStringList({"4", " "}));
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_TRUE(h.ui.messages[0].text.contains(QStringLiteral("cannot be written into row %1 of 'scan.xls'").arg(first + 4)))
      << h.ui.messages[0].text.toStdString();
  EXPECT_TRUE(h.ui.messages[0].text.contains("264 values")) << h.ui.messages[0].text.toStdString();
  QFile kept(h.StateHome() + "/CellfeedWizard/scan.xls unwritten sheets.csv");
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), QByteArray("1,").repeated(263) + "1\r\n");
}

TEST_F(ScanningTest, NothingIsDecodedWhileScanningIsStopped) {
  TfrmMain& w = StartScanning();
  w.StopScanning1->trigger();
  const int row = w.CurrentRow;
  Machine().SendRaw("S~\x20" "E\r\n");
  ProcessEventsFor(800);
  EXPECT_EQ(w.CurrentRow, row);
  EXPECT_TRUE(w.PendingSheets.Empty());
  EXPECT_TRUE(w.ReplyBuffer.isEmpty());
}

TEST_F(ScanningTest, APortErrorAtStartLeavesScanningNotActive) {
  h.ports.erase(3);  // port 3 now names a device that does not exist
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("x.xls"));
  w.StartScanning1->trigger();
  EXPECT_EQ(h.ui.Texts(), QStringList({"ie_BadId - Specified comport doesn't exist."}));
  EXPECT_FALSE(w.ScanningActive);
  EXPECT_EQ(w.lblMode->text(), "Scanning Not Active");
}

// 200 sheets through the machine with records split into pieces and noise
// between them; the saved file read by an independent reader holds exactly the
// sheets' rows. The writer's interval is shortened to keep the run short (its
// own 500 ms is a design value, checked with the window).
void RunSheets(ScanningTest* test, WorkbookHarness& h, bool single) {
  machine_sim::SimulatorConfig config;
  config.seed = single ? 7 : 3;
  config.shape.maxPieces = 4;
  config.shape.noisePercent = 30;
  config.protocol.initialMode = single ? machine_sim::BubbleMode::Single : machine_sim::BubbleMode::Multiple;
  h.AttachMachine(3, config);
  TfrmMain& w = h.StartWindow();
  if (single) w.SingleBubbleMode1->trigger();
  const QString path = h.tmp.Path("run.xls");
  h.NewWorkbook(path);
  w.PendingSheets.SetDelay(std::chrono::milliseconds(60));
  w.StartScanning1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return !w.ModeCommandPending; }));
  for (int i = 0; i < 200; ++i) {
    const int target = w.CurrentRow + 1;
    h.machine->DropSheet();
    ASSERT_TRUE(WaitUntil([&] { return w.CurrentRow >= target; })) << "sheet " << i;
    ProcessEventsFor(5);
  }
  ProcessEventsFor(100);  // trailing noise
  w.Save1->trigger();
  ASSERT_TRUE(h.ui.messages.empty()) << h.ui.Texts().join('|').toStdString();
  const std::vector<machine_sim::ExpectedRow> expected = h.machine->Status().deliveredRows;
  ASSERT_EQ(expected.size(), 200u);

  const QJsonArray sheets = SheetTest::ProbeJson({"values", path}).array();
  const QJsonObject sheet = sheets[0].toObject();
  EXPECT_EQ(sheet["nrows"].toInt(), 200);
  EXPECT_EQ(sheet["ncols"].toInt(), 66);
  std::vector<std::vector<QString>> got(200, std::vector<QString>(66));
  for (const QJsonValue& cell : sheet["cells"].toArray()) {
    const QJsonArray c = cell.toArray();
    ASSERT_LT(c[0].toInt(), 200);
    ASSERT_LT(c[1].toInt(), 66);
    got[c[0].toInt()][c[1].toInt()] = SheetTest::CellText(c);
  }
  for (size_t r = 0; r < 200; ++r) {
    for (size_t c = 0; c < 66; ++c)
      ASSERT_EQ(got[r][c], SheetTest::AsStored(QString::fromStdString(expected[r][c])))
          << "row " << r + 1 << " column " << c + 1;
  }
  (void)test;
}

TEST_F(ScanningTest, TwoHundredSheetsInMultipleBubbleMode) { RunSheets(this, h, false); }
TEST_F(ScanningTest, TwoHundredSheetsInSingleBubbleMode) { RunSheets(this, h, true); }

}  // namespace
