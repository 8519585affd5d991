// The main window's links to the machine beyond scanning: the setup dialog it
// opens and the presence monitor that ends the run when the machine is gone.
#include "EventPump.h"
#include "WorkbookHarness.h"
#include "serial/AdPort.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// Runs `step` on the open setup dialog every few milliseconds until it says it is done.
void WhileSetupOpen(std::function<bool(TfrmSetup&)> step) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, step] {
    auto* setup = qobject_cast<TfrmSetup*>(QApplication::activeModalWidget());
    if (setup == nullptr || !step(*setup)) return;
    poll->stop();
    poll->deleteLater();
  });
  poll->start(10);
}

const QString kGone = QStringLiteral(
    "Orvane machine not found on comm port 3\r\n"
    "The application cannot continue if the machine is unplugged.  This application will close.");

TEST(PresenceMonitor, StartsWithTheFirstScanAndPassesWhileThePortIsThere) {
  WorkbookHarness h;
  h.AttachMachine(1);  // another port present as well
  h.AttachMachine(3);
  TfrmMain& w = h.StartWindow();
  EXPECT_FALSE(w.tmrCommDetect->isActive()) << "not before the machine is in use";
  h.NewWorkbook(h.tmp.Path("p.xls"));
  w.StartScanning1->trigger();
  EXPECT_TRUE(w.tmrCommDetect->isActive());
  w.tmrCommDetectTimer();
  EXPECT_TRUE(h.ui.messages.empty());
  EXPECT_TRUE(w.tmrCommDetect->isActive()) << "started again after each check";
}

TEST(PresenceMonitor, AnUnpluggedMachineEndsTheRunAndNothingIsLost) {
  WorkbookHarness h;
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("u.xls"));
  w.StartScanning1->trigger();
  w.SingleBubbleMode1->setChecked(true);
  bool checkRunning = true;
  h.ui.onMessage = [&](const ShownMessage&) { checkRunning = w.tmrCommDetect->isActive(); };
  w.tmrCommDetect->setInterval(100);  // 5000 ms in the product
  h.machine->Unplug();
  QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
  EXPECT_EQ(QCoreApplication::exec(), 0) << "the monitor asked the application to end";
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(h.ui.messages[0].text, kGone);
  EXPECT_FALSE(checkRunning) << "no second check while the box is open";
  h.Stop();
  const IniFile ini = h.Settings();
  EXPECT_EQ(ini.ReadString("Main", "ScanMode", ""), "SINGLE");
  EXPECT_EQ(ini.ReadString("FEED", "Recent0", ""), h.tmp.Path("u.xls"));
  EXPECT_EQ(h.spy->Count("Quit"), 1);
}

TEST(PresenceMonitor, RestsWhileSetupIsOpenAndWatchesTheConfiguredPort) {
  WorkbookHarness h;
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("m.xls"));
  w.StartScanning1->trigger();
  // The machine's answer to the mode command comes first, so that the dialog
  // does not take a late one for the answer to its own probe.
  ASSERT_TRUE(WaitUntil([&] { return !w.ModeCommandPending; }));
  w.StopScanning1->trigger();  // Setup refuses while scanning
  ASSERT_TRUE(w.tmrCommDetect->isActive());
  w.tmrCommDetect->setInterval(50);  // 5000 ms in the product
  bool restedInSetup = true;
  QElapsedTimer shown, open;
  WhileSetupOpen([&](TfrmSetup& setup) {
    if (!shown.isValid()) shown.start();
    if (!open.isValid()) {
      // The dialog first probes the configured port; on a busy machine that
      // can outlast a few polls, and choosing another port would cut it short.
      if (h.ui.messages.empty() && shown.elapsed() < 10000) return false;
      open.start();
      setup.cbComPort->setCurrentIndex(4);  // port 5: no device there
      emit setup.cbComPort->activated(4);
      return false;
    }
    restedInSetup = restedInSetup && !w.tmrCommDetect->isActive();
    if (open.elapsed() < 500) return false;  // ten of the monitor's intervals
    if (h.ui.messages.size() < 2 && open.elapsed() < 10000) return false;  // the probe of port 5 has answered
    setup.reject();
    return true;
  });
  w.Setup1->trigger();
  EXPECT_TRUE(restedInSetup);
  // The dialog's own words (the machine on port 3, nothing on port 5), none from the monitor.
  EXPECT_EQ(h.ui.Texts(), QStringList({"Orvane machine found on COM port 3.", "ie_BadId - Specified comport doesn't exist."}))
      << h.ui.Texts().join('|').toStdString();
  h.ui.messages.clear();
  EXPECT_TRUE(w.tmrCommDetect->isActive()) << "watching again once the dialog has gone";
  EXPECT_EQ(w.ApdComPort1->ComNumber(), 5) << "the cancelled dialog leaves its last port";
  ProcessEventsFor(300);
  EXPECT_TRUE(h.ui.messages.empty()) << "the configured port 3 is there: " << h.ui.Texts().join('|').toStdString();

  // It is port 3 that is watched: unplugged, the check says so.
  h.machine->Unplug();
  w.tmrCommDetect->stop();
  w.tmrCommDetectTimer();
  EXPECT_EQ(h.ui.Texts(), QStringList{kGone});
}

TEST(SetupCommand, CancelKeepsThePortAndGivesTheDataBack) {
  WorkbookHarness h;
  TfrmMain& w = h.StartWindow();
  WhileSetupOpen([&](TfrmSetup& setup) {
    if (!setup.MachineWasFound()) return false;
    setup.reject();
    return true;
  });
  w.Setup1->trigger();
  ASSERT_TRUE(h.ui.Texts().contains("Orvane machine found on COM port 3.")) << h.ui.Texts().join('|').toStdString();
  EXPECT_EQ(w.PortNumber, 3);
  EXPECT_EQ(h.Settings().ReadInteger("Main", "PortNo", -1), 3);
  // The main window's handler is back: scanning gets its acknowledgement.
  h.NewWorkbook(h.tmp.Path("c.xls"));
  w.StartScanning1->trigger();
  EXPECT_TRUE(WaitUntil([&] { return !w.ModeCommandPending; }));
}

TEST(SetupCommand, OkStoresThePortNumber) {
  WorkbookHarness h;
  h.machine.reset();
  h.ports.clear();
  h.WriteSettings("[Main]\nPortNo=0\n");
  TfrmMain& w = h.StartWindow();  // the first run's search finds nothing and is cancelled
  ASSERT_EQ(w.PortNumber, 0);
  h.AttachMachine(3);
  h.ports[5] = h.ports[3];  // the same machine, also known as port 5
  h.MapPorts();
  WhileSetupOpen([](TfrmSetup& setup) {
    if (!setup.MachineWasFound()) return false;  // autodetection finds it on port 3
    setup.cbComPort->setCurrentIndex(4);
    emit setup.cbComPort->activated(4);
    setup.accept();
    return true;
  });
  w.Setup1->trigger();
  EXPECT_EQ(w.PortNumber, 5);
  EXPECT_EQ(h.Settings().ReadInteger("Main", "PortNo", 0), 5);
}

}  // namespace
