#include "libreoffice/CallWorker.h"

namespace {

struct Outcome {
  // Guards done and failure between the worker that sets them and the waiter.
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::exception_ptr failure;
};

}  // namespace

CallWorker::CallWorker() : thread_([this] { Loop(); }) {}

CallWorker::~CallWorker() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool CallWorker::Run(std::function<void()> call, std::chrono::milliseconds timeout) {
  auto outcome = std::make_shared<Outcome>();
  {
    const std::lock_guard<std::mutex> guard(lock_);
    queue_.emplace_back([outcome, call = std::move(call)] {
      std::exception_ptr failure;
      try {
        call();
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard<std::mutex> done(outcome->lock);
      outcome->failure = failure;
      outcome->done = true;
      outcome->finished.notify_all();
    });
  }
  wake_.notify_one();
  std::unique_lock<std::mutex> wait(outcome->lock);
  if (!outcome->finished.wait_for(wait, timeout, [&] { return outcome->done; })) return false;
  if (outcome->failure) std::rethrow_exception(outcome->failure);
  return true;
}

void CallWorker::Loop() {
  for (;;) {
    std::function<void()> next;
    {
      std::unique_lock<std::mutex> guard(lock_);
      wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and all handed in has run
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    next();
  }
}
