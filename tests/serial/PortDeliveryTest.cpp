// OnTriggerAvail on the user-interface thread: handlers swapped and
// cleared, closed and re-entered from inside handlers, exceptions, and the
// port-choice dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QMessageBox>
#include <QTimer>

#include <thread>

#include "PortTestKit.h"
#include "serial/AdExcept.h"
#include "serial/AdNotify.h"
#include "serial/AdSelCom.h"

using namespace std::chrono_literals;

namespace {

class PortDelivery : public ::testing::Test {
 protected:
  PortDelivery() {
    scratch.Map(5, a.Path());
    scratch.Map(6, b.Path());
  }
  void OpenOn5() {
    port.SetComNumber(5);
    port.WriteString("");
    ASSERT_EQ(port.LinkState(), lsOpen);
  }
  PtyPair a, b;
  PortScratch scratch;
  TApdComPort port;
};

// Keeps the thread busy (no events run) until pred() holds or the time is up.
bool WaitBusy(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return pred();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Calls `act` on the modal widget of type W once one is shown.
template <typename W>
void WhenModal(std::function<void(W&)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(*w);
    }
  });
  timer->start();
}

}  // namespace

TEST_F(PortDelivery, HandlerRunsOnTheUserInterfaceThreadWithTheCount) {
  OpenOn5();
  ReadingHandler h;
  h.Install(port);
  a.Write("K");
  ASSERT_TRUE(PumpUntil([&] { return h.received == "K"; }, 10s));
  EXPECT_EQ(h.counts, std::vector<uint16_t>{1});
}

TEST_F(PortDelivery, ClearedHandlerLeavesBytesWaitingAndTheNextByteReportsAll) {
  OpenOn5();
  ReadingHandler h;
  h.Install(port);
  a.Write("1");
  ASSERT_TRUE(PumpUntil([&] { return h.received == "1"; }, 10s));
  port.SetOnTriggerAvail(nullptr);
  a.Write("234");
  ASSERT_TRUE(PumpUntil([&] { return port.Dispatcher()->RecvCount() == 3; }, 10s));
  PumpFor(150ms);
  h.Install(port);
  PumpFor(150ms);
  EXPECT_EQ(h.counts.size(), 1u);  // nothing until a new byte arrives
  a.Write("5");
  ASSERT_TRUE(PumpUntil([&] { return h.received == "12345"; }, 10s));
  EXPECT_EQ(h.counts, (std::vector<uint16_t>{1, 4}));
}

TEST_F(PortDelivery, HandlerChangingTheNumberSeesNothingUntilTheCloseCompletes) {
  OpenOn5();
  std::vector<uint8_t> readsAfterChange;
  bool changed = false;
  port.SetOnTriggerAvail([&](TApdCustomComPort& cp, uint16_t count) {
    if (changed) return;
    for (uint16_t i = 0; i < count; ++i) cp.ReadChar();
    cp.SetComNumber(6);
    changed = true;
    readsAfterChange.push_back(cp.ReadChar());
    cp.WriteString("lost");  // does nothing while the close completes
    EXPECT_EQ(cp.LinkState(), lsClosing);
  });
  a.Write("go");
  ASSERT_TRUE(PumpUntil([&] { return changed && port.LinkState() == lsClosed; }, 5s));
  EXPECT_EQ(readsAfterChange, std::vector<uint8_t>{0});
  EXPECT_EQ(port.ComNumber(), 6);
  EXPECT_TRUE(a.Read(4, 200ms).empty());
  port.WriteString("new");
  EXPECT_EQ(port.LinkState(), lsOpen);
  EXPECT_EQ(port.Dispatcher()->ComName(), "COM6");
  EXPECT_EQ(b.Read(3, 10s), (std::vector<uint8_t>{'n', 'e', 'w'}));
}

// A handler that shows a modal box is no longer waited for after 3000 ms;
// the next notification enters the handler again from inside the box's
// event loop. Every byte is read exactly once, in order.
TEST_F(PortDelivery, ModalBoxInAHandlerIsReenteredAndNoByteIsLostOrRepeated) {
  OpenOn5();
  std::string received;
  int depth = 0, maxDepth = 0, calls = 0;
  port.SetOnTriggerAvail([&](TApdCustomComPort& cp, uint16_t count) {
    ++depth;
    ++calls;
    maxDepth = std::max(maxDepth, depth);
    for (uint16_t i = 0; i < count; ++i) received += static_cast<char>(cp.ReadChar());
    if (calls == 1) {
      WhenModal<QMessageBox>([&](QMessageBox& box) {
        a.Write("more");
        auto* closer = new QTimer(&box);
        QObject::connect(closer, &QTimer::timeout, [&box, &received] {
          if (received == "firstmore") box.accept();
        });
        closer->start(20);
      });
      QMessageBox box(QMessageBox::Information, "Information", "Sheet jammed");
      box.exec();
    }
    --depth;
  });
  a.Write("first");
  ASSERT_TRUE(PumpUntil([&] { return calls >= 2 && depth == 0; }, 10s));
  EXPECT_EQ(received, "firstmore");
  EXPECT_EQ(maxDepth, 2);
  a.Write("!");
  ASSERT_TRUE(PumpUntil([&] { return received == "firstmore!"; }, 10s));
}

TEST_F(PortDelivery, EscapingExceptionIsShownAndDeliveryGoesOn) {
  RecordingResponder responder;
  OpenOn5();
  std::string received;
  port.SetOnTriggerAvail([&](TApdCustomComPort& cp, uint16_t count) {
    for (uint16_t i = 0; i < count; ++i) received += static_cast<char>(cp.ReadChar());
    if (received == "a") cp.ReadChar();  // one more than Count: Buffer is empty
  });
  a.Write("a");
  ASSERT_TRUE(PumpUntil([&] { return !responder.boxes.empty(); }, 10s));
  EXPECT_EQ(responder.boxes[0].kind, MessageKind::Exception);
  EXPECT_EQ(responder.boxes[0].text, "Buffer is empty.");
  EXPECT_EQ(port.LinkState(), lsOpen);
  a.Write("b");
  ASSERT_TRUE(PumpUntil([&] { return received == "ab"; }, 10s));
}

// The user-interface thread is busy past the dispatcher's wait (a slow save)
// when a record arrives, so its delivery is given up before it starts. Once
// the thread is free the record is reported, whole and once, with no later
// byte to bring it.
TEST_F(PortDelivery, RecordArrivingWhileTheThreadIsBusyIsReportedOnceItIsFree) {
  OpenOn5();
  ReadingHandler h;
  h.Install(port);
  const std::string record = "S0001~ABCDE\r\n";
  a.Write(record);
  // Busy without running the event loop until the dispatcher gave up.
  TApdBaseDispatcher* d = port.Dispatcher();
  ASSERT_TRUE(WaitBusy([&] { return d->HandlersRunning(); }, 5s));
  ASSERT_TRUE(WaitBusy([&] { return !d->HandlersRunning(); }, 10s));
  EXPECT_TRUE(h.counts.empty());
  ASSERT_TRUE(PumpUntil([&] { return h.received == record; }, 10s));
  PumpFor(200ms);
  EXPECT_EQ(h.received, record);
  EXPECT_EQ(h.counts, std::vector<uint16_t>{static_cast<uint16_t>(record.size())});
  EXPECT_EQ(d->RecvCount(), 0u);
}

TEST_F(PortDelivery, LateDeliveryIsDroppedWhenItArrives) {
  // A delivery whose waiter gave up before it started must not run.
  int calls = 0;
  const TApdNotifyWindow::Owner window(
      new TApdNotifyWindow([&](uint16_t, uint32_t, uint32_t) { ++calls; }));
  bool heard = true;
  std::thread dispatcher([&] { heard = window->Deliver(TriggerAvailMsg, 1, 0, 20ms); });
  dispatcher.join();  // timed out: nothing pumped the events
  EXPECT_FALSE(heard);
  EXPECT_TRUE(window->Backlogged());
  PumpFor(50ms);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(window->DroppedDeliveries(), 1);
  EXPECT_FALSE(window->Backlogged());
  std::thread second([&] { heard = window->Deliver(TriggerAvailMsg, 1, 0, 3000ms); });
  ASSERT_TRUE(PumpUntil([&] { return calls == 1; }, 10s));
  second.join();
  EXPECT_TRUE(heard);
}

TEST_F(PortDelivery, CancelledPortChoiceRaisesAndStaysClosed) {
  WhenModal<TComSelectForm>([](TComSelectForm& form) { form.reject(); });
  EXPECT_THROW(port.WriteString("x"), ENoPortSelected);
  EXPECT_EQ(port.LinkState(), lsClosed);
  EXPECT_EQ(port.Dispatcher(), nullptr);
}

TEST_F(PortDelivery, PortChoiceListsMappedDevicesSkipsMissingOnesAndOpensTheChoice) {
  PtyPair c;
  scratch.Map(30, c.Path());
  scratch.Map(31, "/dev/cfw-no-such-port");
  QStringList listed;
  WhenModal<TComSelectForm>([&](TComSelectForm& form) {
    EXPECT_EQ(form.windowTitle(), "Select Port");
    EXPECT_EQ(form.lblNotValid->text(), "The configured serial port is not valid.");
    EXPECT_EQ(form.lblChoose->text(), "Please choose another port.");
    for (int i = 0; i < form.cbPorts->count(); ++i) listed << form.cbPorts->itemText(i);
    form.cbPorts->setCurrentIndex(form.cbPorts->findText("COM30"));
    form.btnOK->click();
  });
  port.WriteString("hello");
  EXPECT_TRUE(listed.contains("COM5"));
  EXPECT_TRUE(listed.contains("COM30"));
  EXPECT_FALSE(listed.contains("COM31"));
  EXPECT_EQ(port.ComNumber(), 30);
  EXPECT_EQ(port.LinkState(), lsOpen);
  EXPECT_EQ(c.Read(5, 10s).size(), 5u);
}

TEST_F(PortDelivery, CloseRequestedInsideAHandlerCompletesLater) {
  OpenOn5();
  bool closedInside = false;
  port.SetOnTriggerAvail([&](TApdCustomComPort& cp, uint16_t) {
    cp.SetOpen(false);
    closedInside = cp.LinkState() == lsClosing && cp.Open();
  });
  a.Write("x");
  ASSERT_TRUE(PumpUntil([&] { return port.LinkState() == lsClosed; }, 5s));
  EXPECT_TRUE(closedInside);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.Dispatcher(), nullptr);
  port.WriteString("again");  // AutoOpen after the close completed
  EXPECT_EQ(port.LinkState(), lsOpen);
}

// A handler that moves the port to another number and then keeps a modal box
// open past the dispatcher's wait: the close completes inside the box's loop
// while that handler is still on the stack. The endpoint it runs in must
// outlive it.
TEST_F(PortDelivery, HandlerThatChangesTheNumberAndStaysModalOutlivesTheClose) {
  OpenOn5();
  std::string received;
  bool boxShown = false, closedInsideBox = false;
  port.SetOnTriggerAvail([&](TApdCustomComPort& cp, uint16_t count) {
    for (uint16_t i = 0; i < count; ++i) received += static_cast<char>(cp.ReadChar());
    if (boxShown) return;
    boxShown = true;
    cp.SetComNumber(6);
    WhenModal<QMessageBox>([&](QMessageBox& box) {
      auto* closer = new QTimer(&box);
      QObject::connect(closer, &QTimer::timeout, [&, closer] {
        if (port.LinkState() != lsClosed) return;
        // The close has completed; give the loop a few more turns to run
        // whatever it left queued, then leave.
        closedInsideBox = true;
        closer->stop();
        QTimer::singleShot(200, &box, &QMessageBox::accept);
      });
      closer->start(20);
    });
    QMessageBox box(QMessageBox::Information, "Information", "Moving to another port");
    box.exec();
  });
  a.Write("old");
  ASSERT_TRUE(PumpUntil([&] { return boxShown && QApplication::activeModalWidget() == nullptr; }, 15s));
  EXPECT_TRUE(closedInsideBox);
  EXPECT_EQ(port.ComNumber(), 6);
  port.WriteString("");  // opens the new number
  ASSERT_EQ(port.LinkState(), lsOpen);
  EXPECT_EQ(port.Dispatcher()->ComName(), "COM6");
  b.Write("new");
  ASSERT_TRUE(PumpUntil([&] { return received == "oldnew"; }, 10s));
}
