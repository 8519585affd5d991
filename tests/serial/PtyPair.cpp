#include "PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <thread>

PtyPair::PtyPair() {
  int slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  if (::openpty(&master_, &slave, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty");
  path_ = ::ttyname(slave);
  ::close(slave);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() { CloseMaster(); }

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

LockedPty::LockedPty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0) throw std::runtime_error("posix_openpt");
  path_ = ::ptsname(master_);
}

LockedPty::~LockedPty() {
  if (master_ >= 0) ::close(master_);
}

void PtyPair::Write(const std::string& bytes) const {
  Write(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void PtyPair::Write(const std::vector<uint8_t>& bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
    } else {
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

std::vector<uint8_t> PtyPair::Read(size_t count, std::chrono::milliseconds timeout) const {
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  uint8_t buffer[4096];
  while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const ssize_t r = ::read(master_, buffer, sizeof buffer);
    if (r > 0) out.insert(out.end(), buffer, buffer + r);
  }
  return out;
}

int OpenOnPty(TApdBaseDispatcher& d, const PtyPair& pty, uint16_t outSize) {
  return d.OpenDevice(pty.Path(), 19200, lineflag::DtrLevel | lineflag::RtsLevel, outSize, 4096,
                      1, 8, parNone);
}

CloseBeforeLeaving::~CloseBeforeLeaving() {
  d_.CloseDevice();
  // A close asked for during a delivery finishes on the dispatcher thread,
  // which gives up on a handler after 3000 ms.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (d_.DispatcherActive() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool QueuedTarget::Deliver(uint16_t code, uint32_t second, uint32_t,
                           std::chrono::milliseconds timeout) {
  auto item = std::make_shared<Item>(Item{code, second});
  std::unique_lock guard(lock_);
  queue_.push_back(item);
  if (!done_.wait_for(guard, timeout, [&] { return item->done; }) && !item->started) {
    item->abandoned = true;
    return false;
  }
  return true;
}

bool QueuedTarget::Backlogged() const {
  std::lock_guard guard(lock_);
  for (const auto& item : queue_) {
    if (item->abandoned) return true;
  }
  return false;
}

int QueuedTarget::Pump() {
  int ran = 0;
  for (;;) {
    std::shared_ptr<Item> item;
    {
      std::lock_guard guard(lock_);
      if (queue_.empty()) return ran;
      item = queue_.front();
      queue_.pop_front();
      if (item->abandoned) {
        ++dropped_;
        continue;
      }
      item->started = true;
    }
    handler_(item->code, item->second);
    ++ran;
    {
      std::lock_guard guard(lock_);
      item->done = true;
    }
    done_.notify_all();
  }
}

bool QueuedTarget::PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int QueuedTarget::Dropped() const {
  std::lock_guard guard(lock_);
  return dropped_;
}

std::chrono::microseconds ProcessCpuTime() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::microseconds(ts.tv_nsec / 1000);
}
