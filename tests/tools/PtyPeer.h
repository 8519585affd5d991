#pragma once
// The application's end of the simulator's device, for tests: opens the slave
// raw, writes commands and collects what arrives, with the arrival time of
// each read.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class PtyPeer {
 public:
  using Clock = std::chrono::steady_clock;
  struct Arrival {
    std::string bytes;
    Clock::time_point at;
  };

  explicit PtyPeer(const std::string& device) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~PtyPeer() { Close(); }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool Write(std::string_view bytes) {
    return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Reads until `done` holds for everything received so far, or the time is up.
  bool ReadUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!done(received_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) return false;
      // In short slices: `done` may also watch something besides the bytes.
      ReadOnce(static_cast<int>(std::min<long>(left.count(), 20)));
    }
    return true;
  }
  bool ReadAtLeast(std::size_t bytes, std::chrono::milliseconds timeout) {
    return ReadUntil([bytes](const std::string& s) { return s.size() >= bytes; }, timeout);
  }
  bool ReadUntilContains(std::string_view text, std::chrono::milliseconds timeout) {
    return ReadUntil([text](const std::string& s) { return s.find(text) != std::string::npos; }, timeout);
  }
  // Collects whatever arrives within the time.
  void ReadFor(std::chrono::milliseconds time) { ReadUntil([](const std::string&) { return false; }, time); }

  // Sends a command and returns its answer: what arrives until the line has
  // been quiet for `quiet` after the first byte. Empty if nothing comes within
  // `firstByte`.
  std::string Ask(std::string_view command, std::chrono::milliseconds firstByte = std::chrono::milliseconds(10000),
                  std::chrono::milliseconds quiet = std::chrono::milliseconds(60)) {
    Take();
    Write(command);
    if (!ReadAtLeast(1, firstByte)) return {};
    for (std::size_t seen = 0; seen != received_.size();) {
      seen = received_.size();
      ReadFor(quiet);
    }
    return Take();
  }

  const std::string& Received() const { return received_; }
  const std::vector<Arrival>& Arrivals() const { return arrivals_; }
  std::string Take() {
    arrivals_.clear();
    return std::exchange(received_, {});
  }
  // True after the master has gone (read gives 0 or EIO).
  bool HungUp() const { return hungUp_; }

 private:
  void ReadOnce(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return;
    char buf[4096];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      received_.append(buf, static_cast<std::size_t>(n));
      arrivals_.push_back({std::string(buf, static_cast<std::size_t>(n)), Clock::now()});
    } else if (n == 0 || errno == EIO) {
      hungUp_ = true;
      ::usleep(5000);  // a hung-up descriptor polls readable for ever
    }
  }

  int fd_ = -1;
  std::string received_;
  std::vector<Arrival> arrivals_;
  bool hungUp_ = false;
};
