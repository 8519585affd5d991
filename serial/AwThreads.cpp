#include "serial/AwThreads.h"

#include <cstring>
#include <iostream>
#include <mutex>

#include "serial/AwUser.h"

namespace {

// Guards the installed handler; workers read it when an exception escapes.
std::mutex& HandlerLock() {
  static std::mutex lock;
  return lock;
}

TWorkerExceptionHandler& Handler() {
  static TWorkerExceptionHandler handler;
  return handler;
}

void ReportWorkerException(const std::exception& e) {
  TWorkerExceptionHandler handler;
  {
    std::lock_guard guard(HandlerLock());
    handler = Handler();
  }
  if (handler) {
    handler(e);
  } else {
    std::cerr << "serial worker: " << e.what() << '\n';
  }
}

}  // namespace

void SetWorkerExceptionHandler(TWorkerExceptionHandler handler) {
  std::lock_guard guard(HandlerLock());
  Handler() = std::move(handler);
}

TApdDispatcherThread::~TApdDispatcherThread() { Join(); }

void TApdDispatcherThread::Start() {
  thread_ = std::thread([this] { Run(); });
}

void TApdDispatcherThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TApdDispatcherThread::Run() {
  id_ = std::this_thread::get_id();
  try {
    Execute();
  } catch (const std::exception& e) {
    ReportWorkerException(e);
  } catch (...) {
    ReportWorkerException(std::runtime_error("unknown exception in a serial worker thread"));
  }
  ExitStep();
}

void TApdDispatcherThread::ExitStep() {
  TApdBaseDispatcher& d = Dispatcher;
  bool release = ReleaseOnExit();
  {
    std::lock_guard guard(d.ThreadCtlLock);
    for (TApdDispatcherThread** ref : {&d.ComThreadRef, &d.DispThreadRef, &d.OutThreadRef}) {
      if (*ref == this) *ref = nullptr;
    }
    // Whoever is stopping the workers already releases the buffers.
    if (d.StopInProgress) release = false;
  }
  if (release) d.ReleaseBuffers();
  std::lock_guard guard(d.ThreadCtlLock);
  if (--d.liveThreads_ == 0) d.dispatcherActive_ = false;
}

// ---- device thread ----------------------------------------------------------

void TComThread::Execute() {
  TApdBaseDispatcher& d = Dispatcher;
  d.ThreadSignal.Set();
  while (!d.StopWorkersFlag) {
    uint32_t events = 0;
    if (d.DeviceWaitEvent(events) < 0) {
      d.ThreadSignal.Set();
      return;
    }
    if (events & (devev::Ring | devev::RingTe)) d.RingSeen = true;
    if (d.StopWorkersFlag) {
      d.ThreadSignal.Set();
      return;
    }
    if (events == 0) continue;
    d.LastDeviceEvents = events;
    // A time-out cycle may have signalled meanwhile; wait for the one that
    // serves these events.
    d.CycleDone.ResetSignal();
    d.WakeDispatch.Set();
    d.CycleDone.Wait(std::chrono::milliseconds(-1));
  }
}

// ---- dispatcher thread ------------------------------------------------------

void TDispThread::Execute() {
  TApdBaseDispatcher& d = Dispatcher;
  d.ThreadSignal.Set();
  for (;;) {
    d.WakeDispatch.Wait(std::chrono::milliseconds(50));
    if (d.StopWorkersFlag) break;
    Cycle();
    if (d.StopWorkersFlag || d.closePending_) break;
  }
  releaseOnExit_ = d.closePending_ || d.StopWorkersFlag;
}

void TDispThread::Cycle() {
  TApdBaseDispatcher& d = Dispatcher;
  const uint32_t events = d.LastDeviceEvents;
  const bool triggersAllowed = !d.handlersRunning_;
  if (events & devev::ModemChange) {
    d.RefreshModemBits();
    if (triggersAllowed) d.RunStatusTriggerLoop();
  }
  if (events & (devev::Break | devev::Err)) {
    d.AccumulateLineErrors();
    if (triggersAllowed) d.RunStatusTriggerLoop();
  }
  d.FillRecvRing();
  d.RefreshModemBits();
  if (triggersAllowed) {
    d.RunStatusTriggerLoop();
    while (!d.closePending_ && d.CheckDataTriggers()) {
    }
  }
  {
    std::lock_guard state(d.StateLock);
    if (d.Triggers.AnyStatusHit()) d.Triggers.ClearStatusHits();
  }
  d.CycleDone.Set();
  if (triggersAllowed) {
    while (!d.closePending_ && (d.CheckStatusTriggers() | d.CheckTimerTriggers())) {
    }
  }
}

// ---- send thread ------------------------------------------------------------

void TOutThread::Execute() {
  TApdBaseDispatcher& d = Dispatcher;
  d.ThreadSignal.Set();
  for (;;) {
    const int which =
        TApdSignal::WaitAny({&d.OutputQueued, &d.OutputStop}, std::chrono::milliseconds(-1));
    if (d.StopWorkersFlag || d.closePending_) break;
    if (which == 1) {
      d.ThreadSignal.Set();
      continue;
    }
    if (!SendQueued()) d.ThreadSignal.Set();
    if (d.StopWorkersFlag || d.closePending_) break;
  }
}

bool TOutThread::SendQueued() {
  TApdBaseDispatcher& d = Dispatcher;
  while (!d.StopWorkersFlag) {
    int written;
    {
      // Held across the write: it never blocks (the device is non-blocking)
      // and FlushSend must not reset the positions under it.
      std::lock_guard send(d.SendLock);
      if (!(d.SendFull || d.SendHead != d.SendTail)) return true;
      const auto size = static_cast<uint32_t>(d.SendRing.size());
      uint32_t piece;
      if (d.SendTail < d.SendHead) {
        piece = d.SendHead - d.SendTail;
      } else if (d.SendHead > 0) {
        // Wrapped: make the queued bytes contiguous from the start.
        const uint32_t head = d.SendHead, tail = d.SendTail;
        std::memcpy(d.SendScratch.data(), d.SendRing.data(), head);
        std::memmove(d.SendRing.data(), d.SendRing.data() + tail, size - tail);
        std::memcpy(d.SendRing.data() + (size - tail), d.SendScratch.data(), head);
        piece = head + (size - tail);
        d.SendTail = 0;
        d.SendHead = piece % size;
      } else {
        piece = size - d.SendTail;
      }
      written = d.DeviceTransmit(d.SendRing.data() + d.SendTail, piece);
      // A failed write drops the piece.
      const uint32_t advance = written < 0 ? piece : static_cast<uint32_t>(written);
      if (advance > 0) {
        d.SendTail = (d.SendTail + advance) % size;
        d.SendFull = false;
        if (d.SendTail == d.SendHead) d.SendHead = d.SendTail = 0;
      }
    }
    if (written != 0) continue;
    const int ready = d.DeviceWaitWritable(d.OutputStop);
    if (ready == 0) return false;  // told to stop: the queued bytes stay
    if (ready < 0) {
      std::lock_guard send(d.SendLock);
      d.SendHead = d.SendTail = 0;
      d.SendFull = false;
      return true;
    }
  }
  return true;
}
