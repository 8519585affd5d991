#include "serial/AwPosix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <thread>
#include <utility>

#include "serial/AdExcept.h"
#include "serial/AwThreads.h"

namespace {

constexpr std::array<std::pair<uint32_t, speed_t>, 30> kSpeeds{{
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

bool SpeedFor(uint32_t baud, speed_t& speed) {
  for (const auto& [rate, code] : kSpeeds) {
    if (rate == baud) {
      speed = code;
      return true;
    }
  }
  return false;
}

uint32_t BaudFor(speed_t speed) {
  for (const auto& [rate, code] : kSpeeds) {
    if (code == speed) return rate;
  }
  return 0;
}

// The numbers with a text of their own in the message table; another errno
// with the same number would show a misleading text.
bool HasTableText(int n) {
  return n == 2 || n == 3 || n == 4 || n == 5 || n == 6 || n == 8 || n == 15 || n == 18 ||
         (n >= 100 && n <= 105) || (n >= 150 && n <= 162);
}

void MakeRaw(termios& t) {
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

}  // namespace

int OsErrorForOpen(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENOTTY:
    // A /dev/ttyS node with no UART behind it refuses the open this way.
    case EIO:
      return 2;
    case EBUSY:
    case EWOULDBLOCK:
      return 5;
    case EACCES:
    case EPERM:
    case EROFS:
      return -ecode::PermissionDenied;
    case EMFILE:
    case ENFILE:
      return 4;
    case ENOMEM:
      return 8;
    case ELOOP:
    case ENAMETOOLONG:
      return 3;
    default:
      return HasTableText(err) ? 162 : err;
  }
}

int OpenSerialDevice(const std::string& path, int& osError) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    osError = OsErrorForOpen(errno);
    return -1;
  }
  // flock covers other openers in this process and in others; TIOCEXCL
  // also turns away openers that do not lock.
  termios t{};
  if (::flock(fd, LOCK_EX | LOCK_NB) < 0 || ::tcgetattr(fd, &t) < 0) {
    osError = OsErrorForOpen(errno);
    ::close(fd);
    return -1;
  }
  ::ioctl(fd, TIOCEXCL);
  return fd;
}

void CloseSerialDevice(int fd) {
  if (fd < 0) return;
  // Drop undrained output first: close must not wait for the line.
  ::tcflush(fd, TCOFLUSH);
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);
}

TApdPosixDispatcher::TApdPosixDispatcher(TApdCustomComPort* owner) : TApdBaseDispatcher(owner) {}

TApdPosixDispatcher::~TApdPosixDispatcher() {
  DestroyDispatcher();
  ClosePendingDescriptor();
  CloseDescriptor(fd_.exchange(-1));
}

void TApdPosixDispatcher::CloseDescriptor(int fd) { CloseSerialDevice(fd); }

void TApdPosixDispatcher::ClosePendingDescriptor() {
  int fd;
  {
    std::lock_guard guard(closeLock_);
    fd = std::exchange(pendingCloseFd_, -1);
  }
  CloseDescriptor(fd);
}

int TApdPosixDispatcher::DeviceOpen(const std::string& name, uint16_t /*in*/, uint16_t /*out*/) {
  int osError = 0;
  const int fd = OpenSerialDevice(name, osError);
  if (fd < 0) return -osError;
  termios t{};
  ::tcgetattr(fd, &t);
  MakeRaw(t);
  ::tcsetattr(fd, TCSANOW, &t);
  if (!cancelWait_.Create(TApdSignal::Reset::Manual)) {
    CloseDescriptor(fd);
    return ecode::OutOfMemory;
  }
  hungUp_ = false;
  {
    std::lock_guard guard(icountLock_);
    countsValid_ = ::ioctl(fd, TIOCGICOUNT, &lastCounts_) == 0;
  }
  fd_ = fd;
  return 0;
}

int TApdPosixDispatcher::DeviceClose() {
  if (DispatcherActive()) {
    StopWorkersFlag = true;
    cancelWait_.Set();
    CycleDone.Set();
    ThreadSignal.ResetSignal();
  }
  const int fd = fd_.exchange(-1);
  if (fd < 0) return -1;
  if (DispatcherActive()) {
    std::lock_guard guard(closeLock_);
    pendingCloseFd_ = fd;
  } else {
    CloseDescriptor(fd);
  }
  return 0;
}

int TApdPosixDispatcher::DeviceEscape(int function) {
  const int fd = fd_;
  if (fd < 0) return 0;
  int bits = (function == SetDtr || function == ClrDtr) ? TIOCM_DTR : TIOCM_RTS;
  const bool raise = function == SetDtr || function == SetRts;
  if (::ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
  // Pseudo-terminals and some adapters have no modem lines: not a failure.
  return (errno == EINVAL || errno == ENOTTY || errno == EIO) ? 0 : -1;
}

int TApdPosixDispatcher::DevicePurge(bool input) {
  const int fd = fd_;
  if (fd < 0) return 0;
  return ::tcflush(fd, input ? TCIFLUSH : TCOFLUSH) == 0 ? 0 : -errno;
}

uint32_t TApdPosixDispatcher::DeviceErrors(TDeviceStatus& status) {
  status.OutQue = SendCount();
  status.InQue = 0;
  const int fd = fd_;
  if (fd < 0) return 0;
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) status.InQue = static_cast<uint32_t>(waiting);
  serial_icounter_struct now{};
  if (::ioctl(fd, TIOCGICOUNT, &now) != 0) return 0;  // no counters (pseudo-terminal): no change
  std::lock_guard guard(icountLock_);
  uint32_t bits = 0;
  if (countsValid_) {
    if (now.buf_overrun != lastCounts_.buf_overrun) bits |= 1;
    if (now.overrun != lastCounts_.overrun) bits |= 2;
    if (now.parity != lastCounts_.parity) bits |= 4;
    if (now.frame != lastCounts_.frame) bits |= 8;
    if (now.brk != lastCounts_.brk) bits |= 16;
  }
  lastCounts_ = now;
  countsValid_ = true;
  return bits;
}

int TApdPosixDispatcher::DeviceGetState(TLineState& state) {
  const int fd = fd_;
  termios t{};
  if (fd < 0 || ::tcgetattr(fd, &t) != 0) return -1;
  state = shadow_;
  state.BaudRate = BaudFor(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5: state.ByteSize = 5; break;
    case CS6: state.ByteSize = 6; break;
    case CS7: state.ByteSize = 7; break;
    default: state.ByteSize = 8; break;
  }
  if (!(t.c_cflag & PARENB)) {
    state.Parity = parNone;
  } else if (t.c_cflag & CMSPAR) {
    state.Parity = (t.c_cflag & PARODD) ? parMark : parSpace;
  } else {
    state.Parity = (t.c_cflag & PARODD) ? parOdd : parEven;
  }
  if (t.c_cflag & CSTOPB) {
    state.StopBits = state.ByteSize == 5 ? stopOneAndHalf : stopTwo;
  } else {
    state.StopBits = stopOne;
  }
  state.OutX = (t.c_iflag & IXON) != 0;
  state.InX = (t.c_iflag & IXOFF) != 0;
  state.XonChar = t.c_cc[VSTART];
  state.XoffChar = t.c_cc[VSTOP];
  return 0;
}

int TApdPosixDispatcher::DeviceSetState(const TLineState& state) {
  const int fd = fd_;
  termios t{};
  if (fd < 0 || ::tcgetattr(fd, &t) != 0) return -(fd < 0 ? EBADF : errno);
  MakeRaw(t);
  speed_t speed;
  if (!SpeedFor(state.BaudRate, speed)) return ecode::BaudRate;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  switch (state.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return -2003;  // invalid byte size
  }
  switch (state.Parity) {
    case parOdd: t.c_cflag |= PARENB | PARODD; break;
    case parEven: t.c_cflag |= PARENB; break;
    case parMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case parSpace: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // Linux has no 1.5 stop bits; two stop bits stand in for it at 5 data bits.
  if (state.StopBits != stopOne) t.c_cflag |= CSTOPB;
  if (state.OutxCtsFlow || state.RtsControl == TLineControl::Handshake) t.c_cflag |= CRTSCTS;
  if (state.OutX) t.c_iflag |= IXON;
  if (state.InX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = state.XonChar;
  t.c_cc[VSTOP] = state.XoffChar;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return -errno;
  shadow_ = state;
  return 0;
}

int TApdPosixDispatcher::DeviceRead(uint8_t* buffer, size_t n) {
  const int fd = fd_;
  if (fd < 0 || n == 0) return 0;
  const ssize_t got = ::read(fd, buffer, n);
  if (got > 0) return static_cast<int>(got);
  if (got == 0 || errno == EIO) hungUp_ = true;  // the far end or the adapter is gone
  return 0;
}

int TApdPosixDispatcher::DeviceWaitEvent(uint32_t& events) {
  events = 0;
  const int fd = fd_;
  std::array<pollfd, 2> fds{};
  fds[0] = pollfd{cancelWait_.Fd(), POLLIN, 0};
  nfds_t count = 1;
  const bool watchDevice = fd >= 0 && !hungUp_;
  const bool backlog = DriverBacklog;
  if (watchDevice) {
    // With a backlog the driver stays readable until the ring has room:
    // look only for hang-ups then, and let the 50 ms cycle fetch the bytes.
    fds[1] = pollfd{fd, static_cast<short>(backlog ? 0 : POLLIN | POLLPRI), 0};
    count = 2;
  }
  const int r = ::poll(fds.data(), count, backlog ? 50 : -1);
  if (r < 0) return errno == EINTR ? 0 : -1;
  if (fds[0].revents) return 0;
  if (watchDevice) {
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // Wake the dispatcher once for what is left, then wait only for close.
      hungUp_ = true;
      events |= devev::RxChar;
    }
    if (fds[1].revents & (POLLIN | POLLPRI)) events |= devev::RxChar;
  }
  return 0;
}

int TApdPosixDispatcher::DeviceSetupQueues(uint16_t /*in*/, uint16_t /*out*/) {
  return 0;  // Linux drivers keep their own queue sizes.
}

int TApdPosixDispatcher::DeviceModemLines(uint8_t& lines) {
  const int fd = fd_;
  int bits = 0;
  if (fd < 0 || ::ioctl(fd, TIOCMGET, &bits) != 0) return -1;
  lines = static_cast<uint8_t>(((bits & TIOCM_CTS) ? 0x10 : 0) | ((bits & TIOCM_DSR) ? 0x20 : 0) |
                               ((bits & TIOCM_RNG) ? 0x40 : 0) | ((bits & TIOCM_CAR) ? 0x80 : 0));
  return 0;
}

int TApdPosixDispatcher::DeviceTransmit(const uint8_t* data, size_t n) {
  const int fd = fd_;
  if (fd < 0) return -1;
  const ssize_t w = ::write(fd, data, n);
  if (w > 0) return static_cast<int>(w);
  if (w < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (w < 0 && errno == EIO) hungUp_ = true;
  return -1;
}

int TApdPosixDispatcher::DeviceWaitWritable(TApdSignal& stop) {
  const int fd = fd_;
  if (fd < 0) return -1;
  std::array<pollfd, 3> fds{pollfd{stop.Fd(), POLLIN, 0}, pollfd{fd, POLLOUT, 0},
                            pollfd{cancelWait_.Fd(), POLLIN, 0}};
  for (;;) {
    const int r = ::poll(fds.data(), fds.size(), -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (fds[0].revents && stop.Wait(std::chrono::milliseconds(0))) return 0;
    if (fds[2].revents) return 0;
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
    if (fds[1].revents & POLLOUT) return 1;
  }
}

void TApdPosixDispatcher::StartWorkers() {
  {
    std::lock_guard guard(ThreadCtlLock);
    if (DispatcherActive()) throw EAPDException(std::string("Dispatcher already started"));
    dispatcherActive_ = true;
    StopWorkersFlag = false;
    liveThreads_ = 3;
  }
  cancelWait_.ResetSignal();
  auto start = [this](std::unique_ptr<TApdDispatcherThread> thread, TApdDispatcherThread*& ref) {
    {
      std::lock_guard guard(ThreadCtlLock);
      ref = thread.get();
      OwnedThreads.push_back(std::move(thread));
      ref->Start();
    }
    ThreadSignal.Wait(std::chrono::milliseconds(3000));
  };
  start(std::make_unique<TComThread>(*this), ComThreadRef);
  start(std::make_unique<TDispThread>(*this), DispThreadRef);
  start(std::make_unique<TOutThread>(*this), OutThreadRef);
}

void TApdPosixDispatcher::StopWorkers() {
  using std::chrono::milliseconds;
  {
    std::unique_lock guard(ThreadCtlLock);
    if (!DispatcherActive()) return;
    if (StopInProgress) {
      if (StopperThread == std::this_thread::get_id()) return;
      guard.unlock();
      // The ending dispatcher thread is stopping the others; let it finish.
      PumpWait([this] { return LiveThreads() == 0; }, milliseconds(-1));
      return;
    }
    StopInProgress = true;
    StopperThread = std::this_thread::get_id();
  }
  StopWorkersFlag = true;
  OutputStop.Set();
  PumpWait([this] { return IsWorkerGone(OutThreadRef); }, milliseconds(-1));
  cancelWait_.Set();
  CycleDone.Set();
  ThreadSignal.ResetSignal();
  PumpWait([this] { return IsWorkerGone(ComThreadRef); }, milliseconds(-1));
  // About 36 ticks; a delivery in progress can hold it up to 3000 ms.
  if (!PumpWait([this] { return IsWorkerGone(DispThreadRef); }, milliseconds(36 * kMsPerTick))) {
    WakeDispatch.Set();
    PumpWait([this] { return IsWorkerGone(DispThreadRef); }, milliseconds(-1));
  }
  ClosePendingDescriptor();
  {
    std::lock_guard guard(ThreadCtlLock);
    StopInProgress = false;
    StopperThread = {};
  }
}
