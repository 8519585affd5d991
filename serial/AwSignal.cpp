#include "serial/AwSignal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>
#include <array>
#include <cassert>

TApdSignal::~TApdSignal() { Close(); }

bool TApdSignal::Create(Reset kind) {
  Close();
  kind_ = kind;
  fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return fd_ >= 0;
}

void TApdSignal::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TApdSignal::Set() {
  if (fd_ < 0) return;
  const uint64_t one = 1;
  // EAGAIN only when the counter is near its limit: still set then.
  [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void TApdSignal::ResetSignal() {
  if (fd_ < 0) return;
  uint64_t value;
  [[maybe_unused]] const ssize_t n = ::read(fd_, &value, sizeof value);
}

bool TApdSignal::TryTake() {
  if (kind_ == Reset::Manual) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
  }
  uint64_t value;
  return ::read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool TApdSignal::Wait(std::chrono::milliseconds timeout) {
  return WaitAny({this}, timeout) == 0;
}

int TApdSignal::WaitAny(std::initializer_list<TApdSignal*> waitables,
                        std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeout.count() < 0;
  const auto deadline = Clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
  // Fixed storage: the receive path waits here every cycle and must not allocate.
  std::array<pollfd, 4> fds{};
  assert(waitables.size() <= fds.size());
  for (;;) {
    int index = 0;
    for (TApdSignal* s : waitables) {
      if (s->fd_ >= 0 && s->TryTake()) return index;
      fds[static_cast<size_t>(index)] = pollfd{s->fd_, POLLIN, 0};  // poll ignores a negative fd
      ++index;
    }
    int waitMs = -1;
    if (!forever) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return -1;
      waitMs = static_cast<int>(left.count());
    }
    const int r = ::poll(fds.data(), static_cast<nfds_t>(index), waitMs);
    if (r < 0 && errno != EINTR) std::this_thread::yield();
    // Readable or timed out: go round; a second waiter may have taken an
    // auto-reset signal first.
  }
}
