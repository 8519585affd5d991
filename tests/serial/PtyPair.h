// Test helpers: a pseudo-terminal standing in for a serial line, and
// notification targets that play the user-interface thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/AwPosix.h"

// The far end is the master; the dispatcher opens the slave by its path.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  const std::string& Path() const { return path_; }
  int MasterFd() const { return master_; }
  void Write(const std::string& bytes) const;
  void Write(const std::vector<uint8_t>& bytes) const;
  // Reads until `count` bytes arrived or the time is up.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds timeout) const;
  // Closes the far end, as an unplugged adapter would.
  void CloseMaster();

 private:
  int master_ = -1;
  std::string path_;
};

// A pseudo-terminal whose far end never unlocked it: the node exists, but
// opening it fails with EIO, as a port node with no device behind it does.
class LockedPty {
 public:
  LockedPty();
  ~LockedPty();
  const std::string& Path() const { return path_; }

 private:
  int master_ = -1;
  std::string path_;
};

// Opens `d` on the pty at 19200 8N1 with DTR and RTS raised and the
// program's queue sizes; returns OpenDevice's result.
int OpenOnPty(TApdBaseDispatcher& d, const PtyPair& pty, uint16_t outSize = 4096);

// Closes the port and waits for the dispatcher thread to end. Declared after
// a test's own targets and the locals their handlers touch, it stops that
// thread before they go out of scope: it may still be calling them.
class CloseBeforeLeaving {
 public:
  explicit CloseBeforeLeaving(TApdBaseDispatcher& d) : d_(d) {}
  ~CloseBeforeLeaving();
  CloseBeforeLeaving(const CloseBeforeLeaving&) = delete;
  CloseBeforeLeaving& operator=(const CloseBeforeLeaving&) = delete;

 private:
  TApdBaseDispatcher& d_;
};

// Calls the handler straight away on the dispatcher thread.
class DirectTarget : public INotifyTarget {
 public:
  using Handler = std::function<void(uint16_t code, uint32_t second)>;
  explicit DirectTarget(Handler h) : handler_(std::move(h)) {}
  bool Deliver(uint16_t code, uint32_t second, uint32_t, std::chrono::milliseconds) override {
    handler_(code, second);
    return true;
  }

 private:
  Handler handler_;
};

// Plays the user-interface thread: deliveries queue up until the thread
// that owns the target calls Pump(); the dispatcher waits at most the
// given time, and a delivery that timed out before it started is dropped.
class QueuedTarget : public INotifyTarget {
 public:
  using Handler = std::function<void(uint16_t code, uint32_t second)>;
  explicit QueuedTarget(Handler h) : handler_(std::move(h)) {}
  bool Deliver(uint16_t code, uint32_t second, uint32_t third,
               std::chrono::milliseconds timeout) override;
  bool Backlogged() const override;
  // Runs every queued delivery; returns how many ran.
  int Pump();
  // Pumps until pred() holds or the time is up; returns pred().
  bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
  int Dropped() const;

 private:
  struct Item {
    uint16_t code;
    uint32_t second;
    bool started = false;
    bool done = false;
    bool abandoned = false;
  };
  Handler handler_;
  // Guards queue_, every Item's flags and dropped_; done_ waits on it.
  mutable std::mutex lock_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Item>> queue_;
  int dropped_ = 0;
};

// CPU time of the whole process so far.
std::chrono::microseconds ProcessCpuTime();
