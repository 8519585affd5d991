// The port's notification endpoint on the user-interface thread. The
// dispatcher thread posts it (code, second, third) and waits at most the
// given time for the procedure to finish; a delivery that timed out before
// it started is dropped when it arrives, so no byte is counted twice (the
// dispatcher raises those bytes again once this thread is back).
// Deliveries keep arriving inside nested (modal) event loops.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

#include "serial/AwUser.h"

class TApdNotifyWindow : public QObject, public INotifyTarget {
 public:
  using Procedure = std::function<void(uint16_t code, uint32_t second, uint32_t third)>;

  // Lives on the thread that makes it, which runs every procedure call.
  // Free it through Dispose (or an Owner), never with delete.
  explicit TApdNotifyWindow(Procedure procedure);

  // Frees the endpoint now or, when one of its own procedure calls is on the
  // stack (a handler closed the port and may still run a modal loop), once
  // the outermost of them has returned. Until then it runs no procedure.
  static void Dispose(TApdNotifyWindow* window);
  struct Disposer {
    void operator()(TApdNotifyWindow* window) const { Dispose(window); }
  };
  using Owner = std::unique_ptr<TApdNotifyWindow, Disposer>;

  // Any thread. Returns when the procedure has run or the time is up; false
  // when it had not started by then (it is dropped when it arrives).
  bool Deliver(uint16_t code, uint32_t second, uint32_t third,
               std::chrono::milliseconds timeout) override;
  // Any thread: a delivery given up before it started is still queued.
  bool Backlogged() const override { return stale_.load() > 0; }
  // Queues a call without waiting for it (the deferred close uses it).
  void Post(uint16_t code, uint32_t second, uint32_t third);

  int DroppedDeliveries() const { return dropped_; }

  struct DeliveryState;  // one delivery, shared by the waiting thread and the event

 protected:
  bool event(QEvent* e) override;

 private:
  std::shared_ptr<DeliveryState> PostDelivery(uint16_t code, uint32_t second, uint32_t third);

  ~TApdNotifyWindow() override;

  Procedure procedure_;
  int dropped_ = 0;         // user-interface thread only
  int depth_ = 0;           // nested procedure calls; user-interface thread only
  bool disposed_ = false;   // user-interface thread only
  std::atomic<int> stale_{0};  // given up, not yet arrived; changed under a delivery's lock
};
