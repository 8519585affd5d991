// Exclusive open and its error outcomes, a vanished far end, and the
// trigger bookkeeping that needs no device.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "PtyPair.h"
#include "serial/AdExcept.h"
#include "serial/AwThreads.h"

using namespace std::chrono_literals;

namespace {

// Exit code of a child process that tries to open `path`, optionally after
// dropping to an unprivileged user: 0 opened, else its OS error number
// (2013 reported as 13 to fit an exit code).
int OpenInChild(const std::string& path, bool dropPrivileges) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (dropPrivileges && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    int err = 0;
    const int fd = OpenSerialDevice(path, err);
    ::_exit(fd >= 0 ? 0 : err == -ecode::PermissionDenied ? 13 : err);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(PosixOpen, MissingDeviceIsNoSuchPort) {
  TApdPosixDispatcher d(nullptr);
  EXPECT_EQ(d.OpenDevice("/dev/cfw-no-such-port", 19200, 3, 4096, 4096, 1, 8, parNone), -2);
  EXPECT_FALSE(d.DispatcherActive());
  EXPECT_FALSE(d.DeviceIsOpen());
}

TEST(PosixOpen, NodeWithoutADeviceBehindItIsNoSuchPort) {
  LockedPty node;
  int err = 0;
  EXPECT_LT(OpenSerialDevice(node.Path(), err), 0);
  EXPECT_EQ(err, 2);
  TApdPosixDispatcher d(nullptr);
  EXPECT_EQ(d.OpenDevice(node.Path(), 19200, 3, 4096, 4096, 1, 8, parNone), -2);
  EXPECT_FALSE(d.DispatcherActive());
}

TEST(PosixOpen, SecondOpenerInThisProcessIsRefusedAsBusy) {
  PtyPair pty;
  TApdPosixDispatcher first(nullptr);
  ASSERT_EQ(OpenOnPty(first, pty), 0);
  {
    TApdPosixDispatcher second(nullptr);
    EXPECT_EQ(OpenOnPty(second, pty), -5);
    EXPECT_FALSE(second.DispatcherActive());
  }
  first.CloseDevice();
  TApdPosixDispatcher third(nullptr);
  EXPECT_EQ(OpenOnPty(third, pty), 0);  // free again once closed
}

TEST(PosixOpen, OpenerInAnotherProcessIsRefusedAsBusy) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  EXPECT_EQ(OpenInChild(pty.Path(), false), 5);
  d.CloseDevice();
  EXPECT_EQ(OpenInChild(pty.Path(), false), 0);
}

TEST(PosixOpen, DeviceWithoutPermissionSaysSo) {
  PtyPair pty;
  ASSERT_EQ(::chmod(pty.Path().c_str(), 0600), 0);
  if (::geteuid() == 0) {
    EXPECT_EQ(OpenInChild(pty.Path(), true), 13);
  } else {
    ASSERT_EQ(::chmod(pty.Path().c_str(), 0), 0);
    TApdPosixDispatcher d(nullptr);
    EXPECT_EQ(OpenOnPty(d, pty), ecode::PermissionDenied);
  }
}

TEST(PosixOpen, OpenErrorsMapToTheirOutcomes) {
  EXPECT_EQ(OsErrorForOpen(ENOENT), 2);
  EXPECT_EQ(OsErrorForOpen(ENODEV), 2);
  EXPECT_EQ(OsErrorForOpen(ENXIO), 2);
  EXPECT_EQ(OsErrorForOpen(EBUSY), 5);
  EXPECT_EQ(OsErrorForOpen(EWOULDBLOCK), 5);
  EXPECT_EQ(OsErrorForOpen(EACCES), -ecode::PermissionDenied);
  EXPECT_EQ(OsErrorForOpen(EPERM), -ecode::PermissionDenied);
  EXPECT_EQ(OsErrorForOpen(EIO), 2);  // a port node with no device behind it
  EXPECT_EQ(OsErrorForOpen(ETIMEDOUT), ETIMEDOUT);
}

// An unplugged adapter: the far end goes away while the port is open. No
// thread may spin on it, and the port still closes.
TEST(PosixDevice, VanishedFarEndLeavesThreadsIdleAndCloseWorks) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  const uint8_t hello[] = {'h', 'i'};
  ASSERT_EQ(d.WriteBlock(hello, sizeof hello), 0);
  pty.Read(2, 10s);
  pty.CloseMaster();
  // The device thread notices the hang-up at its next wake; a busy machine may delay it.
  const auto hangUpDeadline = std::chrono::steady_clock::now() + 10s;
  while (!d.DeviceHungUp() && std::chrono::steady_clock::now() < hangUpDeadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(d.DeviceHungUp());
  const auto cpu0 = ProcessCpuTime();
  std::this_thread::sleep_for(2s);
  const auto used = ProcessCpuTime() - cpu0;
  EXPECT_LT(used, 150ms) << "CPU time over 2 s after the hang-up";
  // Output to a dead device is dropped, not retried forever.
  EXPECT_EQ(d.WriteBlock(hello, sizeof hello), 0);
  const auto t0 = std::chrono::steady_clock::now();
  d.CloseDevice();
  EXPECT_FALSE(d.DispatcherActive());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
}

TEST(PosixDevice, IdleOpenPortUsesAlmostNoCpu) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  const auto cpu0 = ProcessCpuTime();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(ProcessCpuTime() - cpu0, 100ms);
}

TEST(Triggers, DataMatchFollowsOverlappingPrefixesAndCase) {
  TDataTrigger t;
  t.Match = "aab";
  std::string hits;
  for (char c : std::string("aaab-aab")) hits += AdvanceDataMatch(t, static_cast<uint8_t>(c)) ? '1' : '0';
  EXPECT_EQ(hits, "00010001");
  TDataTrigger nocase;
  nocase.Match = "Ok";
  nocase.IgnoreCase = true;
  EXPECT_FALSE(AdvanceDataMatch(nocase, 'o'));
  EXPECT_TRUE(AdvanceDataMatch(nocase, 'K'));
}

TEST(Triggers, TimerExpiresAfterItsTicksAndAcrossAClockWrap) {
  TApdTimer t;
  t.StartTicks = 100;
  t.ExpireTicks = 110;
  EXPECT_FALSE(TimerExpired(t, 105));
  EXPECT_FALSE(TimerExpired(t, 110));
  EXPECT_TRUE(TimerExpired(t, 111));
  TApdTimer wrapped;
  wrapped.StartTicks = 0x7FFFFFF0;
  wrapped.ExpireTicks = 0x7FFFFFF0 + 5;
  EXPECT_FALSE(TimerExpired(wrapped, 0x7FFFFFF2));
}

TEST(Triggers, StatusTriggersFireOnceByKindAndHandlesCarryTheKind) {
  TTriggerSet set;
  const int modem = set.AddStatusTrigger(stModem);
  const int sent = set.AddStatusTrigger(stOutSent);
  ASSERT_GT(modem, 0);
  EXPECT_EQ(modem & 7, stModem);
  EXPECT_EQ(sent & 7, stOutSent);
  EXPECT_EQ(set.SetStatusTrigger(static_cast<uint16_t>(modem), 0x01, true), 0);
  EXPECT_EQ(set.SetStatusTrigger(static_cast<uint16_t>(sent), 0, true), 0);
  TStatusInputs in;
  EXPECT_EQ(set.TakeFiredStatus(in), 0);
  in.BlockWritten = true;
  EXPECT_EQ(set.TakeFiredStatus(in), sent);
  EXPECT_EQ(set.TakeFiredStatus(in), 0);  // disarmed after firing
  in.ModemDelta = 0x01;
  EXPECT_EQ(set.TakeFiredStatus(in), modem);
  EXPECT_TRUE(set.AnyStatusHit());
  EXPECT_EQ(set.SetStatusTrigger(999, 0, true), ecode::BadTriggerHandle);
  EXPECT_EQ(set.AddDataTrigger("", false), ecode::TriggerTooLong);
}

namespace {
class FailingWaitDispatcher : public TApdPosixDispatcher {
 public:
  FailingWaitDispatcher() : TApdPosixDispatcher(nullptr) {}
  ~FailingWaitDispatcher() override { DestroyDispatcher(); }

 protected:
  int DeviceWaitEvent(uint32_t&) override { throw std::runtime_error("device wait failed"); }
};
}  // namespace

// The device thread dies of an exception: it is reported, the thread still
// leaves through its exit step, and the dispatcher thread keeps fetching
// bytes on its 50 ms cycle.
TEST(PosixDevice, ExceptionEscapingAWorkerIsReportedAndDataStillFlows) {
  std::mutex lock;  // guards seen: written by the worker, read here
  std::string seen;
  SetWorkerExceptionHandler([&](const std::exception& e) {
    std::lock_guard g(lock);
    seen = e.what();
  });
  PtyPair pty;
  {
    FailingWaitDispatcher d;
    ASSERT_EQ(OpenOnPty(d, pty), 0);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (d.LiveThreads() != 2 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(d.LiveThreads(), 2);
    pty.Write("x");
    while (d.RecvCount() != 1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(d.RecvCount(), 1u);
    d.CloseDevice();
    EXPECT_EQ(d.LiveThreads(), 0);
    EXPECT_FALSE(d.DispatcherActive());
  }
  SetWorkerExceptionHandler(nullptr);
  std::lock_guard g(lock);
  EXPECT_EQ(seen, "device wait failed");
}

// Nobody reads: the ring fills and the rest waits in the driver. That must
// not make the device thread spin on a readable device, and the waiting
// bytes come in once reads free space.
TEST(PosixDevice, FullRingLeavesTheRestInTheDriverWithoutSpinning) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  std::vector<uint8_t> sent(kRecvRingSize + 3000);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7 + i / 256);
  pty.Write(sent);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (d.RecvCount() < kRecvRingSize && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(d.RecvCount(), kRecvRingSize);
  const auto cpu0 = ProcessCpuTime();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(ProcessCpuTime() - cpu0, 100ms);
  EXPECT_EQ(d.RecvCount(), kRecvRingSize);
  std::vector<uint8_t> got;
  while (got.size() < sent.size() && std::chrono::steady_clock::now() < deadline + 5s) {
    uint8_t b;
    if (d.ReadByte(b) == 0) {
      got.push_back(b);
    } else {
      std::this_thread::sleep_for(1ms);
    }
  }
  EXPECT_EQ(got, sent);
}
