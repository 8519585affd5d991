// Shared by the serial latency benchmarks (our port, the poll()+read()
// floor and the Qt 5 QSerialPort baseline): a raw pseudo-terminal whose
// master plays the machine, a sender that writes single bytes on a fixed
// schedule, and the latency figures. Standard library and POSIX only, so
// the Qt 5 program can use it too.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace bench {

inline int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct Pty {
  int master = -1;
  std::string slavePath;
};

inline Pty OpenPty() {
  Pty p;
  int slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&p.master, &slave, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty");
  p.slavePath = ttyname(slave);
  close(slave);
  return p;
}

struct Figures {
  double medianUs = 0;
  double p99Us = 0;
  double maxUs = 0;
  size_t received = 0;
};

// One run: `count` single bytes written to the master `gapUs` apart; the
// receiver under test calls Received() for every byte it gets.
class LatencyRun {
 public:
  LatencyRun(int master, size_t count, int gapUs)
      : master_(master), gapNs_(int64_t(gapUs) * 1000), sent_(count), recv_(count) {}
  ~LatencyRun() {
    if (sender_.joinable()) sender_.join();
  }

  void Start() {
    sender_ = std::thread([this] {
      timespec next{};
      clock_gettime(CLOCK_MONOTONIC, &next);
      for (size_t k = 0; k < sent_.size(); ++k) {
        next.tv_nsec += gapNs_;
        while (next.tv_nsec >= 1'000'000'000) {
          next.tv_nsec -= 1'000'000'000;
          ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        const uint8_t byte = uint8_t(k);
        sent_[k] = NowNs();
        while (write(master_, &byte, 1) != 1) std::this_thread::yield();
      }
    });
  }

  // Called on the receiving thread for each arriving byte, in order.
  void Received(size_t n) {
    const int64_t now = NowNs();
    for (size_t i = 0; i < n && count_ < recv_.size(); ++i) recv_[count_++] = now;
    done_.store(count_ >= recv_.size(), std::memory_order_release);
  }
  bool Done() const { return done_.load(std::memory_order_acquire); }

  // Waits for the sender and computes the figures of what arrived.
  Figures Finish() {
    if (sender_.joinable()) sender_.join();
    std::vector<double> us;
    for (size_t k = 0; k < count_; ++k) us.push_back(double(recv_[k] - sent_[k]) / 1000.0);
    Figures f;
    f.received = us.size();
    if (us.empty()) return f;
    std::sort(us.begin(), us.end());
    f.medianUs = us[us.size() / 2];
    f.p99Us = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    f.maxUs = us.back();
    return f;
  }

 private:
  int master_;
  int64_t gapNs_;
  std::vector<int64_t> sent_;
  std::vector<int64_t> recv_;
  size_t count_ = 0;  // receiving thread only
  std::atomic<bool> done_{false};
  std::thread sender_;
};

inline void PrintFigures(const char* name, const Figures& f) {
  std::printf("%-34s %8.1f %8.1f %9.1f %7zu\n", name, f.medianUs, f.p99Us, f.maxUs, f.received);
}

}  // namespace bench
