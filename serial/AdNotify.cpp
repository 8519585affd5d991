#include "serial/AdNotify.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "uikit/ErrorReporting.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
// Qt's event queue locks are invisible to ThreadSanitizer: tell it that
// posting an event happens before the event is handled.
#define CFW_EVENT_POSTED(e) __tsan_release(e)
#define CFW_EVENT_RECEIVED(e) __tsan_acquire(e)
#else
#define CFW_EVENT_POSTED(e) ((void)(e))
#define CFW_EVENT_RECEIVED(e) ((void)(e))
#endif

// One delivery, shared by the waiting dispatcher thread and the event.
struct TApdNotifyWindow::DeliveryState {
  // Guards every field below; the waiting thread sleeps on `finished`.
  std::mutex lock;
  std::condition_variable finished;
  uint16_t code = 0;
  uint32_t second = 0;
  uint32_t third = 0;
  bool started = false;
  bool done = false;
  bool abandoned = false;  // the waiter gave up before it started
};

namespace {

using DeliveryState = TApdNotifyWindow::DeliveryState;

const QEvent::Type kNotifyEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class NotifyEvent : public QEvent {
 public:
  explicit NotifyEvent(std::shared_ptr<DeliveryState> s) : QEvent(kNotifyEvent), state(std::move(s)) {}
  std::shared_ptr<DeliveryState> state;
};

}  // namespace

TApdNotifyWindow::TApdNotifyWindow(Procedure procedure) : procedure_(std::move(procedure)) {}

TApdNotifyWindow::~TApdNotifyWindow() = default;

std::shared_ptr<DeliveryState> TApdNotifyWindow::PostDelivery(uint16_t code, uint32_t second, uint32_t third) {
  auto state = std::make_shared<DeliveryState>();
  auto* e = new NotifyEvent(state);
  {
    // Publishes the fields and the event to the thread that will run it.
    std::lock_guard guard(state->lock);
    state->code = code;
    state->second = second;
    state->third = third;
  }
  CFW_EVENT_POSTED(e);
  QCoreApplication::postEvent(this, e);
  return state;
}

void TApdNotifyWindow::Post(uint16_t code, uint32_t second, uint32_t third) { PostDelivery(code, second, third); }

void TApdNotifyWindow::Dispose(TApdNotifyWindow* window) {
  if (!window) return;
  if (window->depth_ == 0) {
    delete window;
  } else {
    window->disposed_ = true;  // event() frees it when the last call returns
  }
}

bool TApdNotifyWindow::Deliver(uint16_t code, uint32_t second, uint32_t third,
                               std::chrono::milliseconds timeout) {
  if (QThread::currentThread() == thread()) {
    procedure_(code, second, third);
    return true;
  }
  const std::shared_ptr<DeliveryState> state = PostDelivery(code, second, third);
  std::unique_lock guard(state->lock);
  if (!state->finished.wait_for(guard, timeout, [&] { return state->done; }) && !state->started) {
    state->abandoned = true;
    ++stale_;  // under the delivery's lock: the drop in event() cannot come first
    return false;
  }
  return true;
}

bool TApdNotifyWindow::event(QEvent* e) {
  CFW_EVENT_RECEIVED(e);
  if (e->type() != kNotifyEvent) return QObject::event(e);
  const std::shared_ptr<DeliveryState> state = static_cast<NotifyEvent*>(e)->state;
  uint16_t code;
  uint32_t second, third;
  {
    std::lock_guard guard(state->lock);
    if (state->abandoned) {
      --stale_;
      ++dropped_;
      return true;
    }
    // Nobody waits for a disposed endpoint (its dispatcher is gone); what
    // still reaches it belongs to a port that has moved on.
    if (disposed_) return true;
    state->started = true;
    code = state->code;
    second = state->second;
    third = state->third;
  }
  ++depth_;
  Guarded([&] { procedure_(code, second, third); });
  --depth_;
  {
    std::lock_guard guard(state->lock);
    state->done = true;
  }
  state->finished.notify_all();
  // Disposed while a call was on the stack: free it now that the last one
  // has returned. Nothing touches this object after event() returns (QObject
  // frees itself the same way on a deferred delete).
  if (disposed_ && depth_ == 0) delete this;
  return true;
}
