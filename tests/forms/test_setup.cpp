// The setup dialog against simulated machines on pseudo-terminals; the 4000 ms
// probe waits are real.
#include "DialogHarness.h"
#include "forms/fmCalibrate.h"
#include "forms/fmSetup.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

machine_sim::SimulatorConfig Silent() {
  machine_sim::SimulatorConfig config;
  config.protocol.silentToAttention = true;
  return config;
}

class SetupTest : public ::testing::Test {
 protected:
  TfrmSetup& Show(int savedPort) {
    dlg = std::make_unique<TfrmSetup>(nullptr);
    dlg->ComPort = h.port.get();
    dlg->SetPortNumber(savedPort);
    dlg->show();
    ProcessEventsFor(50);
    return *dlg;
  }
  size_t Boxes() const { return h.ui.messages.size(); }

  DialogHarness h;
  std::unique_ptr<TfrmSetup> dlg;
};

TEST_F(SetupTest, LayoutAndBranding) {
  TfrmSetup& d = Show(3);
  EXPECT_EQ(d.windowTitle(), "Orvane Setup");
  EXPECT_EQ(d.btnCalibrate->text(), "&Calibrate Orvane Machine");
  EXPECT_EQ(d.cbComPort->count(), 24);
  EXPECT_EQ(d.cbComPort->itemText(0), "Port 1");
  EXPECT_EQ(d.cbComPort->itemText(23), "Port 24");
  EXPECT_EQ(d.cbComPort->currentIndex(), 2);
  EXPECT_EQ(d.size(), QSize(255, 178));
  EXPECT_TRUE(d.btnOK->isDefault());
  EXPECT_EQ(d.Timer1->interval(), 4000);

  DialogHarness generic(QStringLiteral("scan"));
  TfrmSetup g(nullptr);
  g.ComPort = generic.port.get();
  g.SetPortNumber(30);  // above 24: nothing selected
  EXPECT_EQ(g.cbComPort->currentIndex(), -1);
  EXPECT_EQ(g.GetPortNumber(), 0);
  g.show();
  ProcessEventsFor(50);
  EXPECT_EQ(g.windowTitle(), "Data Machine Setup");
  EXPECT_EQ(g.btnCalibrate->text(), "&Calibrate Data Machine");
}

TEST_F(SetupTest, SavedPortZeroStartsAutodetectionAtOnce) {
  h.Attach(1, Silent());
  TfrmSetup& d = Show(0);
  EXPECT_EQ(ScreenCursor::Current(), Qt::WaitCursor);
  EXPECT_TRUE(d.lblCheck->isVisible());
  EXPECT_EQ(d.lblCheck->text(), "Checking Port 1");
  EXPECT_TRUE(d.Timer1->isActive());
  EXPECT_FALSE(d.btnOK->isEnabled());
  EXPECT_FALSE(d.btnCalibrate->isEnabled());
  EXPECT_TRUE(WaitUntil([&] { return h.Received(1) == "@"; }));
}

TEST_F(SetupTest, SavedPortThatAnswersIsReportedFoundWithoutUserAction) {
  h.Attach(3);
  TfrmSetup& d = Show(3);
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 1; }));
  EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(h.ui.messages[0].text, "Orvane machine found on COM port 3.");
  EXPECT_TRUE(d.btnOK->isEnabled());
  EXPECT_TRUE(d.btnCalibrate->isEnabled());
  EXPECT_TRUE(d.MachineWasFound());
  EXPECT_EQ(h.Received(3), "@");
}

TEST_F(SetupTest, SilentSavedPortLeavesOkAndCalibrateDisabled) {
  h.Attach(3, Silent());
  TfrmSetup& d = Show(3);
  ProcessEventsFor(500);
  EXPECT_EQ(Boxes(), 0u);
  EXPECT_FALSE(d.btnOK->isEnabled());
  EXPECT_FALSE(d.btnCalibrate->isEnabled());
  EXPECT_FALSE(d.Timer1->isActive()) << "no timer for the probe on show";
  // Picking an entry enables both.
  d.cbComPort->setCurrentIndex(2);
  emit d.cbComPort->activated(2);
  EXPECT_TRUE(d.btnOK->isEnabled());
  EXPECT_TRUE(d.btnCalibrate->isEnabled());
  EXPECT_TRUE(WaitUntil([&] { return h.Received(3) == "@@"; }));
}

TEST_F(SetupTest, NoPortsAtAllEndsAfterOneWait) {
  QElapsedTimer clock;
  clock.start();
  TfrmSetup& d = Show(0);
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 1; }, 10000));
  EXPECT_GE(clock.elapsed(), 3800);
  EXPECT_LT(clock.elapsed(), 8000) << "one 4000 ms wait, not one per port";
  EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(h.ui.messages[0].text,
            "Error!  Could not detect Orvane machine.\r\nCheck all cable and driver installations.");
  EXPECT_EQ(ScreenCursor::Current(), Qt::ArrowCursor);
  EXPECT_FALSE(d.lblCheck->isVisible());
  EXPECT_EQ(h.port->ComNumber(), 24);
}

TEST_F(SetupTest, MachineOnPortSevenIsFoundAfterSixSilentPorts) {
  for (int n = 1; n <= 6; ++n) h.Attach(n, Silent());
  h.Attach(7);
  QElapsedTimer clock;
  clock.start();
  TfrmSetup& d = Show(0);
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 1; }, 40000));
  EXPECT_GE(clock.elapsed(), 6 * 4000 - 300);
  EXPECT_EQ(h.ui.messages[0].text, "Orvane machine found on COM port 7.");
  EXPECT_EQ(d.cbComPort->currentText(), "Port 7");
  EXPECT_EQ(d.GetPortNumber(), 7);
  EXPECT_EQ(h.port->ComNumber(), 7);
  for (int n = 1; n <= 7; ++n) EXPECT_EQ(h.Received(n), "@") << "port " << n;
}

TEST_F(SetupTest, APickedPortSurvivesAFailedSearch) {
  TfrmSetup& d = Show(5);  // the probe on show fails: port 5 does not exist
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 1; }));
  EXPECT_EQ(h.ui.messages[0].text, "ie_BadId - Specified comport doesn't exist.");
  d.cbComPort->setCurrentIndex(4);
  emit d.cbComPort->activated(4);
  d.btnAutodetect->click();
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 3; }, 10000));
  EXPECT_TRUE(h.ui.messages[2].text.startsWith("Error!  Could not detect"));
  EXPECT_EQ(d.GetPortNumber(), 5);
  EXPECT_EQ(h.port->ComNumber(), 24);
}

TEST_F(SetupTest, RepliesAreRecognisedOnlyWhenComplete) {
  auto& machine = h.Attach(3);
  TfrmSetup& d = Show(3);
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 1; }));
  machine.SendRaw("xK");  // "K" after the first character is no acknowledgement
  ProcessEventsFor(150);
  EXPECT_EQ(d.Reply(), "xK");
  EXPECT_EQ(Boxes(), 1u);
  machine.SendRaw("{\r\n");  // ... but "{\r\n" anywhere is
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 2; }));
  EXPECT_TRUE(d.Reply().isEmpty());
  for (const char* thrownAway : {"T12", "@@", "Yes"}) {
    machine.SendRaw(thrownAway);
    ProcessEventsFor(100);
    EXPECT_TRUE(d.Reply().isEmpty()) << thrownAway;
  }
  machine.SendRaw("Q");
  ProcessEventsFor(100);
  machine.SendRaw("R");
  ProcessEventsFor(100);
  EXPECT_EQ(d.Reply(), "QR") << "other text is kept and grows";
}

TEST_F(SetupTest, AVersionReplyInPiecesOpensTheCalibrationOnceComplete) {
  auto& machine = h.Attach(3);
  TfrmSetup& d = Show(3);
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 1; }));
  machine.SendRaw("Version 3.1 (C) 1998 Orvane");
  ProcessEventsFor(150);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  QString total;
  int opened = 0;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* c = qobject_cast<TfrmCalibrate*>(QApplication::activeModalWidget())) {
      ++opened;
      total = c->lblTtl->text();
      EXPECT_EQ(d.frmCalibrate, c);
      c->close();  // the close box: at once, nothing sent
    }
  });
  closer.start(20);
  machine.SendRaw(".\r\n");
  ASSERT_TRUE(WaitUntil([&] { return opened == 1 && QApplication::activeModalWidget() == nullptr; }));
  EXPECT_EQ(total, "of 4");
  EXPECT_EQ(d.frmCalibrate, nullptr);
  EXPECT_TRUE(d.Reply().isEmpty());
}

// Bytes behind an acknowledgement in the same read: a record the machine sent
// right after its answer is not this dialog's, and an older version reply is
// superseded by the "v" that the acknowledgement sends; neither is kept to
// hide the next acknowledgement, nor read as a second version reply.
TEST_F(SetupTest, BytesBehindAnAcknowledgementAreDroppedWithIt) {
  machine_sim::SimulatorConfig config;
  config.protocol.acknowledgement = "KS0001~!\x0c" "E\r\n";
  auto& machine = h.Attach(3, config);
  TfrmSetup& d = Show(3);
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 1; }));
  EXPECT_TRUE(d.Reply().isEmpty());
  d.cbComPort->setCurrentIndex(2);
  emit d.cbComPort->activated(2);
  ASSERT_TRUE(WaitUntil([&] { return Boxes() == 2; })) << "the next acknowledgement is seen as well";
  EXPECT_EQ(h.ui.messages[1].text, "Orvane machine found on COM port 3.");

  machine.SetSilentToAttention(true);
  d.btnCalibrate->click();
  ASSERT_TRUE(WaitUntil([&] { return h.Received(3) == "@@@"; }));
  int opened = 0;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* c = qobject_cast<TfrmCalibrate*>(QApplication::activeModalWidget())) {
      ++opened;
      EXPECT_EQ(c->lblTtl->text(), "of 4");
      c->close();  // the close box: at once, nothing sent
    }
  });
  closer.start(20);
  machine.SendRaw("KVersion 3.1 (C) 1998 Orvane.\r\n");
  ASSERT_TRUE(WaitUntil([&] { return opened == 1 && QApplication::activeModalWidget() == nullptr; }));
  ProcessEventsFor(300);
  EXPECT_EQ(opened, 1) << "one calibration for the one version reply asked for";
  // (the calibration dialog may have sent its "@" before it was closed)
  EXPECT_EQ(QString::fromStdString(h.Received(3)).remove('@'), "v");
  EXPECT_TRUE(h.Received(3).starts_with("@@@v"));
  EXPECT_TRUE(d.Reply().isEmpty());
}

TEST(SetupTraceBox, OnlyForTheExactArgument) {
  for (const auto& [arg, shown] : {std::pair{"TRACE", true}, {"trace", false}, {"/TRACE", false}}) {
    DialogHarness h(QStringLiteral("OrvaneCellfeedWizard"), {QString::fromLatin1(arg)});
    h.Attach(3);
    TfrmSetup d(nullptr);
    d.ComPort = h.port.get();
    d.SetPortNumber(3);
    d.show();
    ASSERT_TRUE(WaitUntil([&] { return h.ui.messages.size() == 1; }));
    EXPECT_EQ(d.memTrace->isVisible(), shown) << arg;
    if (shown) {
      EXPECT_TRUE(d.memTrace->toPlainText().contains("*****\nK")) << d.memTrace->toPlainText().toStdString();
    }
  }
}

TEST(ParseFirmwareVersion, Examples) {
  EXPECT_DOUBLE_EQ(TfrmSetup::ParseFirmwareVersion("Version 2.5 (C) 1998 Orvane.\r\n"), 2.5);
  EXPECT_DOUBLE_EQ(TfrmSetup::ParseFirmwareVersion("Version 2.5 1998 Orvane.\r\n"), 0.0);
  EXPECT_DOUBLE_EQ(TfrmSetup::ParseFirmwareVersion(" 3.1 (C) x.\r\n"), 3.1);
  EXPECT_DOUBLE_EQ(TfrmSetup::ParseFirmwareVersion("Version 4e0(C)"), 4.0);
  EXPECT_DOUBLE_EQ(TfrmSetup::ParseFirmwareVersion("Version x2.5 (C)"), 0.0);
  EXPECT_DOUBLE_EQ(TfrmSetup::ParseFirmwareVersion("Version (C)"), 0.0);
  EXPECT_DOUBLE_EQ(TfrmSetup::ParseFirmwareVersion("Version -1 (C)"), -1.0);
}

}  // namespace
