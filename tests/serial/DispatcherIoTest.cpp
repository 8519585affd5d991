// Bytes in and out of the dispatcher over a pseudo-terminal, and the line
// settings it puts on the device.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "PtyPair.h"
#include "serial/AdExcept.h"

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + seed + i / 253) & 0xFF);
  return v;
}

// The slave's termios as another opener sees it.
termios SlaveTermios(const PtyPair& pty) {
  termios t{};
  const int fd = ::open(pty.Path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  ::tcgetattr(fd, &t);
  ::close(fd);
  return t;
}

class CountingDispatcher : public TApdPosixDispatcher {
 public:
  CountingDispatcher() : TApdPosixDispatcher(nullptr) {}
  // The workers call our override: stop them before this part goes.
  ~CountingDispatcher() override { DestroyDispatcher(); }
  std::atomic<int> stateWrites{0};
  TLineState lastWritten;  // written and read on the test's thread only

 protected:
  int DeviceSetState(const TLineState& s) override {
    ++stateWrites;
    lastWritten = s;
    return TApdPosixDispatcher::DeviceSetState(s);
  }
};

}  // namespace

TEST(DispatcherIo, BytesFromTheFarEndArriveInOrderAndComplete) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  std::mutex lock;  // guards got: filled on the dispatcher thread, read here
  std::vector<uint8_t> got;
  DirectTarget target([&](uint16_t code, uint32_t count) {
    ASSERT_EQ(code, TriggerAvailMsg);
    std::lock_guard guard(lock);
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t b = 0;
      ASSERT_EQ(d.ReadByte(b), 0);
      got.push_back(b);
    }
  });
  d.AddWindowHandler(&target);
  const CloseBeforeLeaving closes(d);
  d.UpdateNotifyFlags(1);
  d.SetAvailThreshold(1);
  const auto sent = Pattern(20000, 3);
  pty.Write(sent);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    {
      std::lock_guard guard(lock);
      if (got.size() >= sent.size() || std::chrono::steady_clock::now() > deadline) break;
    }
    std::this_thread::sleep_for(5ms);
  }
  std::lock_guard guard(lock);
  EXPECT_EQ(got, sent);
  EXPECT_EQ(d.RecvCount(), 0u);
}

TEST(DispatcherIo, QueuedBlocksReachTheFarEndInOrder) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  const auto block = Pattern(3000, 9);
  ASSERT_EQ(d.WriteBlock(block.data(), block.size()), 0);
  EXPECT_EQ(d.WriteBlock(block.data(), 0), 0);
  EXPECT_EQ(pty.Read(block.size(), 5s), block);
}

// With the far end not reading, the send ring backs up; further blocks
// wrap it. An exact fit fills it, one byte more is refused whole, and every
// accepted byte still arrives in order.
TEST(DispatcherIo, BackedUpSendRingWrapsRefusesOverflowAndKeepsOrder) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  constexpr uint16_t kRing = 64;
  ASSERT_EQ(OpenOnPty(d, pty, kRing), 0);
  // Fill the line's own buffer from a second writer so the send thread stalls.
  std::vector<uint8_t> expected;
  {
    const int filler = ::open(pty.Path().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(filler, 0);
    const std::vector<uint8_t> dots(512, '.');
    // The kernel moves queued bytes on to the far end's reader in the
    // background, which frees room again: fill until it stays full.
    for (int round = 0; round < 100; ++round) {
      for (size_t chunk : {dots.size(), size_t{1}}) {
        for (ssize_t w; (w = ::write(filler, dots.data(), chunk)) > 0;) {
          expected.insert(expected.end(), dots.begin(), dots.begin() + w);
        }
      }
      std::this_thread::sleep_for(20ms);
      if (::write(filler, dots.data(), 1) == 1) {
        expected.push_back('.');
        continue;
      }
      break;
    }
    ::close(filler);
  }
  for (unsigned seed = 0; seed < 2; ++seed) {
    const auto block = Pattern(24, seed);
    ASSERT_EQ(d.WriteBlock(block.data(), block.size()), 0);
    expected.insert(expected.end(), block.begin(), block.end());
  }
  std::this_thread::sleep_for(50ms);
  const uint32_t queued = d.SendCount();
  ASSERT_GT(queued, 0u);
  const uint32_t room = kRing - queued;
  const auto tooBig = Pattern(room + 1, 77);
  EXPECT_EQ(d.WriteBlock(tooBig.data(), tooBig.size()), ecode::OutputBufferTooSmall);
  const auto exact = Pattern(room, 78);
  EXPECT_EQ(d.WriteBlock(exact.data(), exact.size()), 0);
  EXPECT_EQ(d.SendCount(), kRing);
  expected.insert(expected.end(), exact.begin(), exact.end());
  // Drain the far end while queuing more blocks, which now wrap the ring.
  std::vector<uint8_t> received;
  for (int round = 0; round < 200; ++round) {
    const auto part = pty.Read(4096, 5ms);
    received.insert(received.end(), part.begin(), part.end());
    const auto block = Pattern(40, 100 + round);
    if (d.WriteBlock(block.data(), block.size()) == 0) {
      expected.insert(expected.end(), block.begin(), block.end());
    }
  }
  const auto rest = pty.Read(expected.size() - std::min(expected.size(), received.size()), 5s);
  received.insert(received.end(), rest.begin(), rest.end());
  ASSERT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
}

TEST(DispatcherIo, OpenPutsTheProgramsLineOnTheDevice) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  const termios t = SlaveTermios(pty);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  const TLineState s = d.CurrentLineState();
  EXPECT_EQ(s.BaudRate, 19200u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, parNone);
  EXPECT_EQ(s.StopBits, stopOne);
}

TEST(DispatcherIo, UnchangedLineSettingsNeitherWriteNorWait) {
  PtyPair pty;
  CountingDispatcher d;
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  const int before = d.stateWrites;
  EXPECT_EQ(d.ApplyLineSettings(19200, parNone, 1, 8), 0);
  EXPECT_EQ(d.ApplyLineSettings(0, parKeep, 3, 9), 0);  // "keep" in every field
  EXPECT_EQ(d.stateWrites, before);
  // A change writes once, after letting 18 characters at 19200 leave (10 ms).
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(d.ApplyLineSettings(9600, parEven, 2, 7), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 10ms);
  EXPECT_EQ(d.stateWrites, before + 1);
  EXPECT_EQ(d.lastWritten.BaudRate, 9600u);
  EXPECT_EQ(d.lastWritten.ByteSize, 7);
  EXPECT_EQ(d.lastWritten.Parity, parEven);
  EXPECT_EQ(d.lastWritten.StopBits, stopTwo);
  EXPECT_TRUE(d.lastWritten.Binary);
  EXPECT_FALSE(d.lastWritten.ParityCheck);
  // A pseudo-terminal keeps the speed (it forces 8 data bits, no parity).
  const termios t = SlaveTermios(pty);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
}

TEST(DispatcherIo, UnsupportedBaudIsReportedAndLeavesTheLine) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  EXPECT_EQ(d.ApplyLineSettings(12345, parNone, 1, 8), ecode::BaudRate);
  EXPECT_EQ(d.CurrentLineState().BaudRate, 19200u);
}

TEST(DispatcherIo, FlowControlSettersCheckThresholds) {
  PtyPair pty;
  TApdPosixDispatcher d(nullptr);
  ASSERT_EQ(OpenOnPty(d, pty), 0);
  EXPECT_EQ(d.SetHardwareFlow(100, 200, 0), ecode::BadArgument);   // full below resume
  EXPECT_EQ(d.SetHardwareFlow(5000, 10, 0), ecode::BadArgument);   // above the queue
  EXPECT_EQ(d.SetSoftwareFlow(100, 200, 3), ecode::BadArgument);
  EXPECT_EQ(d.SetHardwareFlow(3686, 409, 0), 0);
  TLineState s = d.CurrentLineState();
  EXPECT_EQ(s.XoffLim, 410);
  EXPECT_EQ(s.XonLim, 409);
  EXPECT_EQ(s.DtrControl, TLineControl::Enable);
  EXPECT_FALSE(s.OutxCtsFlow);
  EXPECT_FALSE(SlaveTermios(pty).c_cflag & CRTSCTS);

  EXPECT_EQ(d.SetSoftwareFlow(3000, 1000, 3), 0);
  EXPECT_TRUE(SlaveTermios(pty).c_iflag & IXON);
  EXPECT_TRUE(SlaveTermios(pty).c_iflag & IXOFF);
  EXPECT_EQ(d.SetFlowChars('Q', 'S'), 0);
  EXPECT_EQ(SlaveTermios(pty).c_cc[VSTART], 'Q');
  EXPECT_EQ(d.ClearSoftwareFlow(), 0);
  EXPECT_FALSE(SlaveTermios(pty).c_iflag & (IXON | IXOFF));

  // Under hardware handshake the program's DTR level is not applied.
  EXPECT_EQ(d.SetHardwareFlow(3686, 409, 1 | 8), 0);
  EXPECT_EQ(d.SetDTRLevel(false), 1);
  EXPECT_EQ(d.SetRTSLevel(false), 0);
  EXPECT_TRUE(SlaveTermios(pty).c_cflag & CRTSCTS);
}
