// The calibration dialog against a simulated machine, alone and as the setup
// dialog opens it; the 5000 ms pause before storing is real.
#include "DialogHarness.h"
#include "forms/fmCalibrate.h"
#include "forms/fmSetup.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using machine_sim::SimulatorConfig;

const QString kInstruction8 =
    "To calibrate your Orvane machine you will need  to drop 8 blank test sheets through your machine.  ";

SimulatorConfig Machine(const std::string& firmware, int sheetMs = 30) {
  SimulatorConfig config;
  config.protocol.firmware = firmware;
  config.calibrationInterval = std::chrono::milliseconds(sheetMs);
  return config;
}

class CalibrateTest : public ::testing::Test {
 protected:
  // The dialog as the setup dialog shows it, but not modally, so the test can look on.
  TfrmCalibrate& Show(double version) {
    dlg = std::make_unique<TfrmCalibrate>(nullptr);
    dlg->ComPort = h.port.get();
    h.port->SetComNumber(3);
    dlg->ConfigureSheetCount(version);
    QObject::connect(dlg.get(), &QDialog::finished, [this] { closed = true; });
    dlg->show();
    return *dlg;
  }
  DialogHarness h;
  std::unique_ptr<TfrmCalibrate> dlg;
  bool closed = false;
};

TEST(CalibrateSheets, CountAndTextsFollowTheFirmwareVersion) {
  DialogHarness h;
  struct Case { double version; bool four; };
  for (const Case c : {Case{0, false}, {-1, false}, {3.1, true}, {2.5, true}, {0.01, true}, {3.1000001, false}, {4.0, false}}) {
    TfrmCalibrate d(nullptr);
    d.ConfigureSheetCount(c.version);
    EXPECT_EQ(d.IsFourSheetMode(), c.four) << c.version;
    EXPECT_EQ(d.lblTtl->text(), c.four ? "of 4" : "of 8") << c.version;
    QString expected = kInstruction8;
    if (c.four) expected.replace("drop 8", "drop 4");
    EXPECT_EQ(d.lblInst->text(), expected);
    EXPECT_EQ(d.windowTitle(), "Calibrate Orvane Machine");
  }
  DialogHarness generic(QStringLiteral("scan"));
  TfrmCalibrate g(nullptr);
  g.ConfigureSheetCount(2.5);
  EXPECT_EQ(g.windowTitle(), "Calibrate Data Machine");
  EXPECT_TRUE(g.lblInst->text().startsWith("To calibrate your Data Collection machine"));
}

TEST_F(CalibrateTest, RepliesAreReadAsTheTableSays) {
  SimulatorConfig quiet;
  quiet.protocol.silentToAttention = true;  // the machine stays out of the way
  auto& m = h.Attach(3, quiet);
  TfrmCalibrate& d = Show(0);
  ASSERT_TRUE(WaitUntil([&] { return h.Received(3) == "@"; })) << "activation sends \"@\"";
  EXPECT_FALSE(d.btnStore->isEnabled());
  const auto reply = [&](const std::string& bytes) {
    m.SendRaw(bytes);
    ProcessEventsFor(120);
  };
  reply("B");
  EXPECT_EQ(d.lblNumber->text(), "6");
  EXPECT_EQ(d.lblText->text(), "Please drop the sixth sheet through now.");
  reply("a");
  EXPECT_EQ(d.lblNumber->text(), "1");
  reply("b\r\n");  // not the whole reply: ignored
  EXPECT_EQ(d.lblNumber->text(), "1");
  reply("e");
  EXPECT_EQ(d.lblText->text(), "Please drop the fifth sheet through now.");
  reply("D");
  EXPECT_EQ(d.lblNumber->text(), "8");
  reply("K");  // neither flag set: the calibration is started (again)
  EXPECT_TRUE(WaitUntil([&] { return h.Received(3) == "@c"; }));
  reply("gone wrong?");  // "g" first, whatever follows: stored
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_EQ(h.ui.messages[0].text, "Calibration data stored successfully!");
  EXPECT_TRUE(closed);
  EXPECT_TRUE(WaitUntil([&] { return h.Received(3) == "@c@"; })) << "one more \"@\" on its way out";
}

TEST_F(CalibrateTest, FourSheetModeNumbersTheUpperRepliesTwoToFour) {
  SimulatorConfig quiet;
  quiet.protocol.silentToAttention = true;
  auto& m = h.Attach(3, quiet);
  TfrmCalibrate& d = Show(2.5);
  ProcessEventsFor(50);
  m.SendRaw("B");
  ProcessEventsFor(120);
  EXPECT_EQ(d.lblNumber->text(), "2");
  EXPECT_EQ(d.lblText->text(), "Please drop the second sheet through now.");
}

TEST_F(CalibrateTest, CancelWithASilentMachineDoesNotClose) {
  SimulatorConfig quiet;
  quiet.protocol.silentToAttention = true;
  h.Attach(3, quiet);
  TfrmCalibrate& d = Show(0);
  ProcessEventsFor(50);
  d.btnCancel->click();
  ProcessEventsFor(300);
  EXPECT_FALSE(closed);
  EXPECT_TRUE(d.IsCancelRequested());
  EXPECT_EQ(h.Received(3), "@@");
  d.close();  // the close box closes at once and sends nothing
  EXPECT_TRUE(closed);
  ProcessEventsFor(100);
  EXPECT_EQ(h.Received(3), "@@");
}

TEST_F(CalibrateTest, ASilentMachineTimesOutAndTheDialogGivesUp) {
  SimulatorConfig quiet;
  quiet.protocol.silentToAttention = true;
  h.Attach(3, quiet);
  TfrmCalibrate& d = Show(0);
  d.Timer1->setInterval(150);  // 30 s in the product
  ASSERT_TRUE(WaitUntil([&] { return h.ui.messages.size() == 1; }));
  EXPECT_EQ(h.ui.messages[0].text, "Timed out.  Calibration will be cancelled.");
  EXPECT_TRUE(d.IsCancelRequested());
  EXPECT_TRUE(WaitUntil([&] { return closed; })) << "still silent after Cancel: closed";
}

// A whole calibration as the user starts it from the setup dialog; returns the
// dialogs opened.
int RunFromSetup(DialogHarness& h) {
  TfrmSetup setup(nullptr);
  setup.ComPort = h.port.get();
  setup.SetPortNumber(3);
  setup.show();
  EXPECT_TRUE(WaitUntil([&] { return h.ui.messages.size() == 1; }));  // found
  int opened = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    static QWidget* last = nullptr;
    QWidget* modal = QApplication::activeModalWidget();
    if (qobject_cast<TfrmCalibrate*>(modal) && modal != last) ++opened;
    last = modal;
  });
  watch.start(5);
  setup.btnCalibrate->click();
  // The calibration runs by itself inside the setup dialog's handler.
  EXPECT_TRUE(WaitUntil([&] { return h.ui.messages.size() >= 2 && QApplication::activeModalWidget() == nullptr; }, 30000));
  ProcessEventsFor(700);  // time for a late acknowledgement to do harm
  return opened;
}

TEST(CalibrationRun, EightSheetsAsSeenOnTheLine) {
  DialogHarness h;
  auto& m = h.Attach(3, Machine("4.0"));
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(RunFromSetup(h), 1);
  EXPECT_GE(clock.elapsed(), 5000) << "the pause before storing";
  EXPECT_EQ(h.ui.messages.back().text, "Calibration data stored successfully!");
  EXPECT_EQ(h.Received(3), "@@v@c@s@") << "no \"v\" or \"c\" after the calibration";
  EXPECT_EQ(m.Status().sent, "KKVersion 4.0 (C) 1998 Orvane.\r\nKAbcdeBCDEKGK");
  EXPECT_EQ(ScreenCursor::Current(), Qt::ArrowCursor);
}

TEST(CalibrationRun, FourSheetsAsSeenOnTheLine) {
  DialogHarness h;
  auto& m = h.Attach(3, Machine("2.5"));
  EXPECT_EQ(RunFromSetup(h), 1);
  EXPECT_EQ(h.Received(3), "@@v@c@s@");
  EXPECT_EQ(m.Status().sent, "KKVersion 2.5 (C) 1998 Orvane.\r\nKABCDEKGK");
}

// A machine that sends a sheet's record right behind each acknowledgement: the
// record's "E" is no "calibration complete", and the run is as usual.
TEST(CalibrationRun, ARecordBehindEachAcknowledgementIsNotAReply) {
  DialogHarness h;
  SimulatorConfig config = Machine("2.5");
  config.protocol.acknowledgement = "KS0001~\x20" "E\r\n";
  h.Attach(3, config);
  EXPECT_EQ(RunFromSetup(h), 1);
  EXPECT_EQ(h.ui.messages.back().text, "Calibration data stored successfully!");
  EXPECT_EQ(h.Received(3), "@@v@c@s@");
}

TEST(CalibrationRun, FailedStoreCancelsAndStaysFinished) {
  DialogHarness h;
  SimulatorConfig config = Machine("2.5");
  config.protocol.storeFails = true;
  h.Attach(3, config);
  EXPECT_EQ(RunFromSetup(h), 1);
  EXPECT_EQ(h.ui.messages.back().kind, MessageKind::Error);
  EXPECT_EQ(h.ui.messages.back().text, "Error, calibration data failed to store.  Machine MUST be re-calibrated.");
  EXPECT_EQ(h.Received(3), "@@v@c@s@@");
  EXPECT_EQ(ScreenCursor::Current(), Qt::ArrowCursor) << "the busy cursor of storing goes with the dialog";
}

TEST(CalibrationRun, TimedOutStartIsReportedAndStaysFinished) {
  DialogHarness h;
  SimulatorConfig config = Machine("2.5");
  config.protocol.calibrationTimesOut = true;
  h.Attach(3, config);
  EXPECT_EQ(RunFromSetup(h), 1);
  EXPECT_EQ(h.ui.messages.back().text, "Timed out starting the calibration.  Try again.");
  EXPECT_EQ(h.Received(3), "@@v@c@");
}

}  // namespace
