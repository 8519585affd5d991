// The port component: opening on first use, port-number changes, the trace
// and log files written at close, the errors it raises, and its settings.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>

#include <stdexcept>

#include "PortTestKit.h"
#include "serial/AdExcept.h"

using namespace std::chrono_literals;

namespace {

class ComPort : public ::testing::Test {
 protected:
  ComPort() {
    scratch.Map(5, a.Path());
    scratch.Map(6, b.Path());
    port.SetTraceName("APD.TRC");
    port.SetLogName("APD.LOG");
  }
  PtyPair a, b;
  PortScratch scratch;
  TApdComPort port;
};

}  // namespace

TEST_F(ComPort, DefaultsAreThoseOfTheForm) {
  EXPECT_EQ(port.DeviceLayer(), dlWin32);
  EXPECT_EQ(port.ComNumber(), 0);
  EXPECT_EQ(port.Baud(), 19200);
  EXPECT_TRUE(port.PromptForPort());
  EXPECT_EQ(port.Parity(), pNone);
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.StopBits(), 1);
  EXPECT_EQ(port.InSize(), 4096);
  EXPECT_EQ(port.OutSize(), 4096);
  EXPECT_TRUE(port.AutoOpen());
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.HWFlowOptions(), 0);
  EXPECT_EQ(port.SWFlowOptions(), swfNone);
  EXPECT_EQ(port.XOnChar(), 17);
  EXPECT_EQ(port.XOffChar(), 19);
  EXPECT_EQ(port.TraceSize(), 10000u);
  EXPECT_EQ(port.LogSize(), 10000u);
  EXPECT_TRUE(port.TraceHex());
  EXPECT_FALSE(port.TraceAllHex());
  EXPECT_TRUE(port.UseEventWord());
  EXPECT_EQ(port.CommNotificationLevel(), 10);
  EXPECT_EQ(port.TapiMode(), tmAuto);
  EXPECT_TRUE(port.DTR());
  EXPECT_TRUE(port.RTS());
  EXPECT_EQ(port.AvailThreshold(), 1u);
  EXPECT_EQ(port.LinkState(), lsClosed);
}

TEST_F(ComPort, FlowThresholdRulesFillAndClamp) {
  port.SetBufferFull(3686);
  port.SetBufferResume(409);
  EXPECT_EQ(port.BufferFull(), 3686);  // the form's values are taken unchanged
  EXPECT_EQ(port.BufferResume(), 409);
  port.SetBufferFull(5000);
  EXPECT_EQ(port.BufferFull(), 3686);  // above InSize: InSize * 0.9
  port.SetBufferResume(4000);
  EXPECT_EQ(port.BufferResume(), 368);  // above BufferFull: BufferFull * 0.1

  TApdComPort hw;
  hw.SetRS485Mode(true);
  hw.SetHWFlowOptions(hwfUseRTS);
  EXPECT_EQ(hw.BufferFull(), 3686);
  EXPECT_EQ(hw.BufferResume(), 409);
  EXPECT_FALSE(hw.RS485Mode());

  TApdComPort sw;
  sw.SetSWFlowOptions(swfBoth);
  EXPECT_EQ(sw.BufferFull(), 3072);
  EXPECT_EQ(sw.BufferResume(), 1024);
  sw.SetTraceSize(5'000'000);
  EXPECT_EQ(sw.TraceSize(), 4'000'000u);
  sw.SetLogSize(20'000'000);
  EXPECT_EQ(sw.LogSize(), 16'000'000u);
}

TEST_F(ComPort, SettingTheNumberWhileClosedDoesNotOpenButAnEmptyWriteDoes) {
  port.SetComNumber(5);
  EXPECT_EQ(port.LinkState(), lsClosed);
  EXPECT_EQ(port.Dispatcher(), nullptr);
  port.WriteString("");
  EXPECT_EQ(port.LinkState(), lsOpen);
  EXPECT_TRUE(port.Open());
  ASSERT_NE(port.Dispatcher(), nullptr);
  EXPECT_EQ(port.Dispatcher()->ComName(), "COM5");
  port.WriteString("@");
  EXPECT_EQ(a.Read(1, 10s), std::vector<uint8_t>{'@'});
}

TEST_F(ComPort, SameNumberAgainDoesNothing) {
  port.SetComNumber(5);
  port.SetTracing(tlOn);
  port.SetLogging(tlOn);
  port.WriteString("x");
  TApdBaseDispatcher* before = port.Dispatcher();
  port.SetComNumber(5);
  EXPECT_EQ(port.Dispatcher(), before);
  EXPECT_EQ(port.LinkState(), lsOpen);
  EXPECT_FALSE(scratch.Exists("APD.TRC"));
  EXPECT_FALSE(scratch.Exists("APD.LOG"));
}

TEST_F(ComPort, ChangingTheNumberWhileOpenWritesBothFilesAndRecordingGoesOn) {
  port.SetComNumber(5);
  port.SetTracing(tlOn);
  port.SetLogging(tlOn);
  port.WriteString("AB");
  ASSERT_EQ(a.Read(2, 10s).size(), 2u);
  port.SetComNumber(6);
  EXPECT_EQ(scratch.ReadFile("APD.TRC"), "Transmit: \nAB");
  const std::string firstLog = scratch.ReadFile("APD.LOG");
  EXPECT_NE(firstLog.find("Device: COM5"), std::string::npos);
  EXPECT_NE(firstLog.find("WriteCom"), std::string::npos);
  EXPECT_EQ(port.LinkState(), lsOpen);
  EXPECT_EQ(port.Tracing(), tlOn);
  EXPECT_EQ(port.Logging(), tlOn);
  port.WriteString("CD");
  ASSERT_EQ(b.Read(2, 10s).size(), 2u);
  port.SetOpen(false);
  EXPECT_EQ(scratch.ReadFile("APD.TRC"), "Transmit: \nCD");  // only what the new port recorded
  EXPECT_NE(scratch.ReadFile("APD.LOG").find("Device: COM6"), std::string::npos);
  EXPECT_EQ(port.Tracing(), tlOff);
}

TEST_F(ComPort, DestroyingTheOpenComponentWritesBothFiles) {
  ReadingHandler handler;
  {
    TApdComPort local;
    local.SetTraceName("APD.TRC");
    local.SetLogName("APD.LOG");
    local.SetComNumber(5);
    local.SetLogging(tlOn);
    local.SetTracing(tlOn);
    handler.Install(local);
    local.WriteString("hi");
    a.Write("AB C");
    ASSERT_TRUE(PumpUntil([&] { return handler.received.size() == 4; }, 10s));
  }
  const std::string trace = scratch.ReadFile("APD.TRC");
  EXPECT_EQ(trace, "Transmit: \nhi\r\n\nReceive: \nAB[20]C");
  const std::string log = scratch.ReadFile("APD.LOG");
  EXPECT_EQ(log.rfind("SERIX v4.06\n", 0), 0u);
  for (const char* part : {"TrgHdAlc  Window", "TrDatChg  Avail", "Dispatch  WriteCom", "Dispatch  ReadCom",
                           "Trigger   Avail"}) {
    EXPECT_NE(log.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(log.find("TrgHdDsp"), std::string::npos);  // removed after the dump
}

TEST_F(ComPort, TraceSwitchFollowsItsStateTableWhileOpen) {
  port.SetComNumber(5);
  port.SetTracing(tlOn);
  port.WriteString("a");
  port.SetTracing(tlPause);
  EXPECT_EQ(port.Tracing(), tlPause);
  port.WriteString("b");  // not recorded while paused
  port.SetTracing(tlOn);
  port.WriteString("c");
  port.SetTracing(tlDump);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_EQ(scratch.ReadFile("APD.TRC"), "Transmit: \nac");
  port.SetTracing(tlOn);
  port.WriteString("d");
  port.SetTracing(tlClear);
  EXPECT_EQ(port.Tracing(), tlOn);
  port.WriteString("e");
  port.SetTracing(tlAppend);
  EXPECT_EQ(scratch.ReadFile("APD.TRC"), "Transmit: \nac\nTransmit: \ne");
  port.SetTracing(tlDump);  // off already: nothing written
  EXPECT_EQ(scratch.ReadFile("APD.TRC"), "Transmit: \nac\nTransmit: \ne");

  TApdComPort closed;
  closed.SetTracing(tlDump);  // stored as off while closed
  EXPECT_EQ(closed.Tracing(), tlOff);
}

TEST_F(ComPort, EmptyTraceLeavesAnExistingFileAlone) {
  {
    QFile f(QString::fromStdString(scratch.Path("APD.TRC")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old");
  }
  port.SetComNumber(5);
  port.SetTracing(tlOn);
  port.WriteString("");
  port.SetOpen(false);
  EXPECT_EQ(scratch.ReadFile("APD.TRC"), "old");
}

TEST_F(ComPort, UnwritableTraceFileRaisesAnIoErrorAndTheCloseStillCompletes) {
  port.SetTraceName(scratch.Path("no-such-folder/APD.TRC"));
  port.SetComNumber(5);
  port.SetTracing(tlOn);
  port.WriteString("z");
  try {
    port.SetOpen(false);
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 3);
    EXPECT_STREQ(e.what(), "Path not found");
  }
  EXPECT_EQ(port.LinkState(), lsClosed);
  EXPECT_FALSE(port.Open());
}

TEST_F(ComPort, OpenErrorsAreRaisedAndLeaveThePortClosed) {
  scratch.Map(7, "/dev/cfw-no-such-port");
  port.SetComNumber(7);
  EXPECT_THROW(port.WriteString("x"), EBadId);
  EXPECT_EQ(port.LinkState(), lsClosed);
  EXPECT_EQ(port.Dispatcher(), nullptr);
  EXPECT_EQ(port.ComNumber(), 7);

  TApdComPort holder;
  holder.SetComNumber(5);
  holder.WriteString("");
  port.SetComNumber(5);
  try {
    port.WriteString("x");
    FAIL() << "second opener not refused";
  } catch (const EAlreadyOpen& e) {
    EXPECT_STREQ(e.what(), "ie_Open - device already open");
  }
  EXPECT_FALSE(port.Open());

  port.SetPromptForPort(false);
  port.SetComNumber(0);
  EXPECT_THROW(port.WriteString("x"), ENoPortSelected);
  port.SetComNumber(6);
  port.SetDeviceLayer(dlWinsock);
  EXPECT_THROW(port.WriteString("x"), ENullApi);
}

TEST_F(ComPort, PortNodeWithoutADeviceIsReportedAsMissing) {
  LockedPty node;
  scratch.Map(7, node.Path());
  port.SetComNumber(7);
  try {
    port.WriteString("x");
    FAIL() << "opened a node with no device behind it";
  } catch (const EBadId& e) {
    EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
  }
  EXPECT_EQ(port.LinkState(), lsClosed);
}

// The open handler is part of the open: when it fails the port is not left
// open (another opener gets the device) and the error reaches the caller.
TEST_F(ComPort, FailingOpenHandlerLeavesThePortClosed) {
  port.SetComNumber(5);
  ReadingHandler h;
  h.Install(port);
  int opens = 0;
  port.SetOnPortOpen([&](TApdCustomComPort&) {
    if (++opens == 1) throw std::runtime_error("open handler failed");
  });
  EXPECT_THROW(port.WriteString("lost"), std::runtime_error);
  EXPECT_EQ(port.LinkState(), lsClosed);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.Dispatcher(), nullptr);
  {
    TApdComPort other;
    other.SetComNumber(5);
    EXPECT_NO_THROW(other.WriteString(""));
    EXPECT_EQ(other.LinkState(), lsOpen);
  }
  EXPECT_TRUE(a.Read(4, 200ms).empty());  // the failed call sent nothing
  port.WriteString("sent");  // the next use opens it again
  EXPECT_EQ(port.LinkState(), lsOpen);
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(a.Read(4, 10s), (std::vector<uint8_t>{'s', 'e', 'n', 't'}));
  a.Write("K");
  ASSERT_TRUE(PumpUntil([&] { return h.received == "K"; }, 10s));
}

TEST_F(ComPort, PermissionDeniedNamesTheDevice) {
  ASSERT_EQ(::chmod(a.Path().c_str(), 0600), 0);
  ASSERT_EQ(::chmod(scratch.Path(".").c_str(), 0755), 0);  // the settings file maps COM5
  port.SetComNumber(5);
  // Root opens any device: try it as an unprivileged user in a child.
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    try {
      port.WriteString("x");
    } catch (const EPermissionDenied& e) {
      ::_exit(std::string(e.what()).find(a.Path()) != std::string::npos ? 0 : 3);
    } catch (...) {
      ::_exit(4);
    }
    ::_exit(5);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ComPort, ReadAndWriteOutsideHandlersFollowTheRing) {
  port.SetComNumber(5);
  port.SetAutoOpen(false);
  EXPECT_THROW(port.ReadChar(), ECommNotOpen);
  EXPECT_THROW(port.WriteString("x"), ECommNotOpen);
  port.SetOpen(true);
  a.Write("Q");
  ASSERT_TRUE(PumpUntil([&] { return port.Dispatcher()->RecvCount() == 1; }, 10s));
  EXPECT_EQ(port.ReadChar(), 'Q');
  EXPECT_THROW(port.ReadChar(), EBufferIsEmpty);
  EXPECT_THROW(port.WriteString(std::string(5000, 'x')), EOutputBufferTooSmall);
}
