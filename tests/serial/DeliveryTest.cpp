// The data-available rule and its peek-and-consume accounting, delivery
// time-outs, and closing while a delivery runs.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "PtyPair.h"
#include "serial/AdExcept.h"

using namespace std::chrono_literals;

namespace {

// Records what each notification brought and what its handler read.
struct Log {
  std::mutex lock;  // guards everything below: written by the handler's thread
  std::vector<uint32_t> counts;
  std::string read;
  int emptyReads = 0;

  size_t Notifications() {
    std::lock_guard g(lock);
    return counts.size();
  }
  std::string Read() {
    std::lock_guard g(lock);
    return read;
  }
};

// Reads up to `limit(count)` bytes; notes -3007 results.
void ReadSome(TApdBaseDispatcher& d, Log& log, uint32_t count, uint32_t want) {
  std::lock_guard g(log.lock);
  log.counts.push_back(count);
  for (uint32_t i = 0; i < want; ++i) {
    uint8_t b = 0;
    const int rc = d.ReadByte(b);
    if (rc == ecode::BufferIsEmpty) {
      ++log.emptyReads;
    } else {
      log.read += static_cast<char>(b);
    }
  }
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

class Delivery : public ::testing::Test {
 protected:
  void Open() {
    ASSERT_EQ(OpenOnPty(d, pty), 0);
    d.SetAvailThreshold(1);
  }
  // The guard closes the port before t and what its handler touches go.
  [[nodiscard]] CloseBeforeLeaving Install(INotifyTarget& t) {
    d.AddWindowHandler(&t);
    d.UpdateNotifyFlags(1);
    return CloseBeforeLeaving(d);
  }
  PtyPair pty;
  TApdPosixDispatcher d{nullptr};
  Log log;
};

}  // namespace

TEST_F(Delivery, HandlerReadingFewerLeavesTheRestForTheNextByte) {
  Open();
  std::atomic<int> calls{0};
  DirectTarget t([&](uint16_t, uint32_t count) {
    ReadSome(d, log, count, ++calls == 1 ? 2 : count);
  });
  const auto closes = Install(t);
  pty.Write("ABCDE");
  ASSERT_TRUE(WaitFor([&] { return log.Notifications() == 1; }));
  ASSERT_TRUE(WaitFor([&] { return d.RecvCount() == 3; }));
  std::this_thread::sleep_for(200ms);  // several idle cycles: nothing new is reported
  EXPECT_EQ(log.Notifications(), 1u);
  pty.Write("F");
  ASSERT_TRUE(WaitFor([&] { return log.Notifications() == 2; }));
  std::lock_guard g(log.lock);
  EXPECT_EQ(log.counts[0], 5u);
  EXPECT_EQ(log.counts[1], 4u);  // the three left over and the new one
  EXPECT_EQ(log.read, "ABCDEF");
  EXPECT_EQ(d.RecvCount(), 0u);
}

TEST_F(Delivery, ReadingMoreThanCountGetsBufferIsEmpty) {
  Open();
  DirectTarget t([&](uint16_t, uint32_t count) { ReadSome(d, log, count, count + 2); });
  const auto closes = Install(t);
  pty.Write("XYZ");
  ASSERT_TRUE(WaitFor([&] { return log.Read().size() == 3; }));
  std::lock_guard g(log.lock);
  EXPECT_EQ(log.read, "XYZ");
  EXPECT_EQ(log.emptyReads, 2);
  EXPECT_EQ(d.RecvCount(), 0u);
}

TEST_F(Delivery, TwoHandlersPeekFromTheSameStartAndTheLargerReadIsConsumed) {
  Open();
  Log second;
  DirectTarget t1([&](uint16_t, uint32_t count) { ReadSome(d, log, count, 1); });
  DirectTarget t2([&](uint16_t, uint32_t count) { ReadSome(d, second, count, 3); });
  d.AddWindowHandler(&t1);
  d.AddWindowHandler(&t2);  // two windows: delivered without an owner handler
  const CloseBeforeLeaving closes(d);
  pty.Write("12345");
  ASSERT_TRUE(WaitFor([&] { return second.Notifications() == 1; }));
  ASSERT_TRUE(WaitFor([&] { return d.RecvCount() == 2; }));
  EXPECT_EQ(log.Read(), "1");
  EXPECT_EQ(second.Read(), "123");
  uint8_t b = 0;
  ASSERT_EQ(d.ReadByte(b), 0);
  EXPECT_EQ(b, '4');
}

TEST_F(Delivery, WithoutHandlersNothingIsConsumedAndTheNextByteReportsAll) {
  Open();
  pty.Write("XYZ");
  ASSERT_TRUE(WaitFor([&] { return d.RecvCount() == 3; }));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(d.RecvCount(), 3u);
  DirectTarget t([&](uint16_t, uint32_t count) { ReadSome(d, log, count, count); });
  const auto closes = Install(t);
  std::this_thread::sleep_for(150ms);  // the waiting bytes were already seen
  EXPECT_EQ(log.Notifications(), 0u);
  pty.Write("W");
  ASSERT_TRUE(WaitFor([&] { return log.Notifications() == 1; }));
  std::lock_guard g(log.lock);
  EXPECT_EQ(log.counts[0], 4u);
  EXPECT_EQ(log.read, "XYZW");
}

// A full ring's worth of bytes brings the write position back to where the
// last notification left it; the bytes must still be reported.
TEST_F(Delivery, ExactlyAFullRingIsStillReported) {
  Open();
  d.SetAvailThreshold(kRecvRingSize);
  DirectTarget t([&](uint16_t, uint32_t count) { ReadSome(d, log, count, count); });
  const auto closes = Install(t);
  pty.Write(std::string(kRecvRingSize, 'r'));
  ASSERT_TRUE(WaitFor([&] { return log.Notifications() == 1; }));
  std::lock_guard g(log.lock);
  EXPECT_EQ(log.counts[0], kRecvRingSize);
  EXPECT_EQ(log.read.size(), kRecvRingSize);
  EXPECT_EQ(d.RecvCount(), 0u);
}

TEST_F(Delivery, OwnerHandlerOffWithOneWindowDeliversNothing) {
  Open();
  DirectTarget t([&](uint16_t, uint32_t count) { ReadSome(d, log, count, count); });
  d.AddWindowHandler(&t);
  const CloseBeforeLeaving closes(d);
  d.UpdateNotifyFlags(2);  // no trigger event assigned
  pty.Write("AB");
  ASSERT_TRUE(WaitFor([&] { return d.RecvCount() == 2; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(log.Notifications(), 0u);
  d.UpdateNotifyFlags(1);
  pty.Write("C");
  ASSERT_TRUE(WaitFor([&] { return log.Read() == "ABC"; }));
}

// The dispatcher waits 3000 ms for a handler; what it read by then counts
// as consumed and the dispatcher goes on.
TEST_F(Delivery, SlowHandlerIsNoLongerWaitedForAndItsReadsCount) {
  Open();
  std::atomic<int> calls{0};
  QueuedTarget t([&](uint16_t, uint32_t count) {
    if (++calls == 1) {
      ReadSome(d, log, count, 2);
      std::this_thread::sleep_for(3500ms);
    } else {
      ReadSome(d, log, count, count);
    }
  });
  const auto closes = Install(t);
  pty.Write("ABCDE");
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(t.PumpUntil([&] { return calls == 1; }, 5s));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 3000ms);
  EXPECT_EQ(d.RecvCount(), 3u);
  pty.Write("F");
  ASSERT_TRUE(t.PumpUntil([&] { return log.Notifications() == 2; }, 5s));
  EXPECT_EQ(log.Read(), "ABCDEF");
}

// Nobody runs the receiving thread's queue past the dispatcher's wait: the
// delivery is given up before it starts. The dispatcher keeps taking bytes
// in but raises nothing more while that delivery is still queued; once the
// queue runs, the stale one is dropped and all waiting bytes are reported
// in one notification, each read once.
TEST_F(Delivery, MissedNotificationIsRaisedAgainOnceTheReceiverIsBack) {
  Open();
  QueuedTarget t([&](uint16_t, uint32_t count) { ReadSome(d, log, count, count); });
  const auto closes = Install(t);
  pty.Write("ABC");
  ASSERT_TRUE(WaitFor([&] { return d.HandlersRunning(); }));
  ASSERT_TRUE(WaitFor([&] { return !d.HandlersRunning(); }, 10s));
  EXPECT_TRUE(t.Backlogged());
  pty.Write("D");
  ASSERT_TRUE(WaitFor([&] { return d.RecvCount() == 4; }, 10s));
  EXPECT_FALSE(d.HandlersRunning());
  ASSERT_TRUE(t.PumpUntil([&] { return log.Read() == "ABCD"; }, 10s));
  t.PumpUntil([] { return false; }, 200ms);
  EXPECT_EQ(t.Dropped(), 1);
  EXPECT_FALSE(t.Backlogged());
  std::lock_guard g(log.lock);
  EXPECT_EQ(log.counts, std::vector<uint32_t>{4});
  EXPECT_EQ(log.read, "ABCD");
  EXPECT_EQ(log.emptyReads, 0);
  EXPECT_EQ(d.RecvCount(), 0u);
}

TEST_F(Delivery, CloseFromInsideAHandlerCompletesAfterItReturns) {
  Open();
  std::atomic<bool> closedInside{false};
  QueuedTarget t([&](uint16_t, uint32_t count) {
    ReadSome(d, log, count, 1);
    d.CloseDevice();
    closedInside = d.ClosePending();
  });
  d.SetPumpHook([&] { t.Pump(); });
  const auto closes = Install(t);
  pty.Write("Q");
  ASSERT_TRUE(t.PumpUntil([&] { return log.Notifications() == 1; }, 5s));
  EXPECT_TRUE(closedInside);
  ASSERT_TRUE(t.PumpUntil([&] { return !d.DispatcherActive(); }, 5s));
  EXPECT_EQ(d.LiveThreads(), 0);
  EXPECT_EQ(log.Read(), "Q");
}

// The dispatcher thread is blocked in a delivery when the port is torn
// down; the teardown's waits let the delivery run to its end.
TEST_F(Delivery, DestroyingWhileADeliveryWaitsLetsItFinish) {
  std::atomic<int> ran{0};
  PtyPair far;
  std::unique_ptr<TApdPosixDispatcher> local;
  TApdPosixDispatcher* raw = nullptr;  // unique_ptr::reset clears itself before deleting
  QueuedTarget t([&](uint16_t, uint32_t count) {
    ReadSome(*raw, log, count, count);
    ++ran;
  });
  local = std::make_unique<TApdPosixDispatcher>(nullptr);
  raw = local.get();
  local->SetPumpHook([&] { t.Pump(); });
  ASSERT_EQ(OpenOnPty(*local, far), 0);
  local->SetAvailThreshold(1);
  local->AddWindowHandler(&t);
  local->UpdateNotifyFlags(1);
  far.Write("Z");
  ASSERT_TRUE(WaitFor([&] { return local->HandlersRunning(); }));
  local->CloseDevice();  // deferred: a delivery runs
  EXPECT_TRUE(local->ClosePending());
  // The destructor stops the workers, pumping the queued delivery.
  const auto t0 = std::chrono::steady_clock::now();
  local.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2500ms);  // well inside the 3000 ms limit
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(log.Read(), "Z");
}

TEST_F(Delivery, DataTriggerReportsTheBytesBeforeTheMatchThenTheMatch) {
  Open();
  std::mutex lock;  // guards events
  std::vector<std::pair<uint16_t, uint32_t>> events;
  const int handle = d.AddDataTrigger("ok", true);
  ASSERT_GT(handle, 0);
  DirectTarget t([&](uint16_t code, uint32_t second) {
    {
      std::lock_guard g(lock);
      events.emplace_back(code, second);
    }
    if (code == TriggerAvailMsg) ReadSome(d, log, second, second);
  });
  const auto closes = Install(t);
  pty.Write("abcOK");
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard g(lock);
    return events.size() >= 2;
  }));
  std::lock_guard g(lock);
  EXPECT_EQ(events[0], std::make_pair(TriggerAvailMsg, 3u));
  EXPECT_EQ(events[1], std::make_pair(TriggerDataMsg, static_cast<uint32_t>(handle)));
  EXPECT_EQ(log.Read().substr(0, 3), "abc");
}

TEST_F(Delivery, SavedTriggersComeBackWithTheThreshold) {
  Open();
  const int timer = d.AddTimerTrigger();
  ASSERT_GT(timer, 0);
  TSavedTriggers saved;
  d.SaveTriggers(saved);
  d.SetAvailThreshold(7);
  ASSERT_EQ(d.RemoveTrigger(static_cast<uint16_t>(timer)), 0);
  EXPECT_EQ(d.RemoveTrigger(static_cast<uint16_t>(timer)), ecode::BadTriggerHandle);
  d.RestoreTriggers(saved);
  EXPECT_EQ(d.AvailThreshold(), 1u);
  EXPECT_EQ(d.SetTimerTrigger(static_cast<uint16_t>(timer), 1, true), 0);
  std::atomic<int> fired{0};
  d.AddProcHandler([&](uint16_t code, uint32_t second, uint32_t third) {
    if (code == TriggerTimerMsg && second == static_cast<uint32_t>(timer) &&
        (third & 0xFFFF) == static_cast<uint32_t>(timer) && (third >> 16) == d.Handle()) {
      ++fired;
    }
  });
  const CloseBeforeLeaving closes(d);
  ASSERT_TRUE(WaitFor([&] { return fired == 1; }, 10s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(fired, 1);  // one-shot until re-armed
}

// With a window registered but no handler wanted, the program may read the
// waiting bytes itself: each byte must come out once, however the reads
// interleave with the dispatcher's cycles.
TEST_F(Delivery, ReadsOutsideAnyHandlerConsumeEachByteOnce) {
  Open();
  DirectTarget t([&](uint16_t, uint32_t count) { ReadSome(d, log, count, count); });
  d.AddWindowHandler(&t);
  const CloseBeforeLeaving closes(d);
  d.UpdateNotifyFlags(2);
  std::string sent, got;
  for (int i = 0; i < 400; ++i) sent += static_cast<char>('a' + i % 26);
  std::thread writer([&] {
    for (size_t i = 0; i < sent.size(); i += 4) {
      pty.Write(sent.substr(i, 4));
      std::this_thread::sleep_for(1ms);
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (got.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
    uint8_t b;
    if (d.ReadByte(b) == 0) got += static_cast<char>(b);
  }
  writer.join();
  EXPECT_EQ(got, sent);
  EXPECT_EQ(log.Notifications(), 0u);
}
