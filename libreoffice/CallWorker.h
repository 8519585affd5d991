#pragma once
// The one thread that talks to the office. The program's thread hands it a
// call and waits a bounded time without running events, so a hung office
// never freezes the window for longer than the bound, and nothing re-enters
// the program while it waits.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CallWorker {
 public:
  CallWorker();
  ~CallWorker();  // runs what is queued, then ends the thread
  CallWorker(const CallWorker&) = delete;
  CallWorker& operator=(const CallWorker&) = delete;

  // Runs call on the worker and waits up to timeout. Returns false when it
  // has not finished by then (it still runs, so it must own all it uses);
  // an exception it throws is thrown here.
  bool Run(std::function<void()> call, std::chrono::milliseconds timeout);

 private:
  void Loop();

  // Guards queue_ and stopping_, shared by the waiting thread and the worker.
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};
