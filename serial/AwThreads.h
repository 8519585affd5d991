// The dispatcher's three worker threads: the device thread waits for device
// events, the dispatcher thread moves received bytes into the ring and
// delivers notifications, the send thread writes queued output.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

class TApdBaseDispatcher;

class TApdDispatcherThread {
 public:
  explicit TApdDispatcherThread(TApdBaseDispatcher& dispatcher) : Dispatcher(dispatcher) {}
  virtual ~TApdDispatcherThread();
  TApdDispatcherThread(const TApdDispatcherThread&) = delete;
  TApdDispatcherThread& operator=(const TApdDispatcherThread&) = delete;

  void Start();
  void Join();
  bool IsCurrentThread() const { return std::this_thread::get_id() == id_.load(); }

 protected:
  virtual void Execute() = 0;
  // Whether the thread-exit step must release the dispatcher's buffers.
  virtual bool ReleaseOnExit() const { return false; }

  TApdBaseDispatcher& Dispatcher;

 private:
  void Run();
  void ExitStep();

  std::thread thread_;
  std::atomic<std::thread::id> id_{};
};

class TComThread final : public TApdDispatcherThread {
 public:
  using TApdDispatcherThread::TApdDispatcherThread;

 protected:
  void Execute() override;
};

class TDispThread final : public TApdDispatcherThread {
 public:
  using TApdDispatcherThread::TApdDispatcherThread;

 protected:
  void Execute() override;
  bool ReleaseOnExit() const override { return releaseOnExit_; }

 private:
  void Cycle();
  bool releaseOnExit_ = false;
};

class TOutThread final : public TApdDispatcherThread {
 public:
  using TApdDispatcherThread::TApdDispatcherThread;

 protected:
  void Execute() override;

 private:
  // Writes the queued output; false when told to stop.
  bool SendQueued();
};

// Where an exception that escapes a worker's loop goes: by default to
// standard error; the port component installs the application's display.
using TWorkerExceptionHandler = std::function<void(const std::exception&)>;
void SetWorkerExceptionHandler(TWorkerExceptionHandler handler);
