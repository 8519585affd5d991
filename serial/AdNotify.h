// The port's notification endpoint on the user-interface thread. The
// dispatcher thread posts it (code, second, third) and waits at most the
// given time for the procedure to finish; a delivery that timed out before
// it started is dropped when it arrives, so no byte is counted twice.
// Deliveries keep arriving inside nested (modal) event loops.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "serial/AwUser.h"

class TApdNotifyWindow : public QObject, public INotifyTarget {
 public:
  using Procedure = std::function<void(uint16_t code, uint32_t second, uint32_t third)>;

  // Lives on the thread that makes it, which runs every procedure call.
  explicit TApdNotifyWindow(Procedure procedure);
  ~TApdNotifyWindow() override;

  // Any thread. Returns when the procedure has run or the time is up.
  void Deliver(uint16_t code, uint32_t second, uint32_t third,
               std::chrono::milliseconds timeout) override;
  // Queues a call without waiting for it (the deferred close uses it).
  void Post(uint16_t code, uint32_t second, uint32_t third);

  int DroppedDeliveries() const { return dropped_; }
  // True while a procedure call is on the stack (it must not be deleted then).
  bool Busy() const { return depth_ > 0; }

  struct DeliveryState;  // one delivery, shared by the waiting thread and the event

 protected:
  bool event(QEvent* e) override;

 private:
  std::shared_ptr<DeliveryState> PostDelivery(uint16_t code, uint32_t second, uint32_t third);

  Procedure procedure_;
  int dropped_ = 0;  // user-interface thread only
  int depth_ = 0;    // nested procedure calls; user-interface thread only
};
