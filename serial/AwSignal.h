// A waitable signal between the dispatcher's threads, backed by an eventfd
// so that a thread can wait for it together with a device in one poll().
#pragma once

#include <chrono>
#include <initializer_list>

class TApdSignal {
 public:
  enum class Reset { Auto, Manual };

  TApdSignal() = default;
  ~TApdSignal();
  TApdSignal(const TApdSignal&) = delete;
  TApdSignal& operator=(const TApdSignal&) = delete;

  // Makes the signal, not set. False when the system has no descriptor left.
  bool Create(Reset kind);
  // Back to "none": no descriptor. Only when no thread waits for it.
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // The descriptor to poll for readability; -1 when none.
  int Fd() const { return fd_; }

  void Set();
  void ResetSignal();
  // True when the signal was set within the time (an auto-reset signal is
  // taken). A negative time waits without limit. A signal that is not open
  // never comes: the wait just lasts its time.
  bool Wait(std::chrono::milliseconds timeout);
  // Index of the first set signal, or -1 on time-out.
  static int WaitAny(std::initializer_list<TApdSignal*> waitables, std::chrono::milliseconds timeout);

 private:
  // Takes the signal when it is set; for a manual one, leaves it set.
  bool TryTake();

  int fd_ = -1;
  Reset kind_ = Reset::Auto;
};
