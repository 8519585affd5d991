// TApdBaseDispatcher, second half: the rings, triggers, handler lists and
// notification delivery (the first half, AwUser.cpp, opens, closes, sets the
// line and runs the recorders).
#include <algorithm>
#include <cstring>

#include "serial/AdExcept.h"
#include "serial/AwUser.h"

namespace {
uint32_t WrapAdd(uint32_t pos, uint32_t n, uint32_t size) { return size ? (pos + n) % size : 0; }
}  // namespace

// ---- receive ring -----------------------------------------------------------

uint32_t TApdBaseDispatcher::RecvCountRaw() const {
  if (RecvFull) return kRecvRingSize;
  return RecvHead >= RecvTail ? RecvHead - RecvTail : kRecvRingSize - (RecvTail - RecvHead);
}

uint32_t TApdBaseDispatcher::RecvCount() {
  std::lock_guard recv(RecvLock);
  if (!ringsAllocated_) return 0;
  const uint32_t n = RecvCountRaw();
  return InAvailEvent ? n - std::min(n, PeekCount) : n;
}

void TApdBaseDispatcher::FillRecvRing() {
  std::lock_guard recv(RecvLock);
  if (!ringsAllocated_) return;
  TDeviceStatus status;
  const uint32_t errors = DeviceErrors(status);
  {
    std::lock_guard state(StateLock);
    LineErrorBits = static_cast<uint8_t>((LineErrorBits | errors) & 0x1F);
  }
  if (RecvFull) {
    // No room: the bytes wait in the driver until a read frees space.
    DriverBacklog = status.InQue > 0;
    return;
  }
  const uint32_t waiting = status.InQue;
  if (waiting == 0) {
    DriverBacklog = false;
    return;
  }
  uint32_t contiguous, total;
  if (RecvHead == RecvTail) {
    contiguous = kRecvRingSize - RecvHead;
    total = kRecvRingSize;
  } else if (RecvTail > RecvHead) {
    contiguous = total = RecvTail - RecvHead;
  } else {
    contiguous = kRecvRingSize - RecvHead;
    total = kRecvRingSize - (RecvHead - RecvTail);
  }
  const uint32_t wanted = std::min(total, waiting);
  auto readInto = [this](uint32_t space) {
    int got = DeviceRead(&RecvRing[RecvHead], space);
    if (got < 0) {
      ReadErrorHook(-1);
      got = 0;
    }
    const auto n = static_cast<uint32_t>(got);
    RecordLog(1, 1, n, &RecvRing[RecvHead], n);
    RecvHead = WrapAdd(RecvHead, n, kRecvRingSize);
    ArrivedSinceNotify += n;
    if (n > 0) RecvFull = RecvHead == RecvTail;
    return n;
  };
  uint32_t read = readInto(contiguous);
  if (read == contiguous && wanted > contiguous && !RecvFull) {
    read += readInto(wanted - contiguous);
  }
  DriverBacklog = RecvFull || wanted < waiting;
}

int TApdBaseDispatcher::ReadByte(uint8_t& byte) {
  {
    std::lock_guard recv(RecvLock);
    if (!ringsAllocated_) return ecode::BufferIsEmpty;
    const uint32_t waiting = RecvCountRaw();
    if (InAvailEvent) {
      // A handler reads during a data notification: look ahead without
      // consuming; the delivery consumes what the busiest handler read.
      if (waiting < PeekCount + 1) return ecode::BufferIsEmpty;
      ++PeekCount;
      byte = RecvRing[WrapAdd(RecvTail, PeekCount - 1, kRecvRingSize)];
    } else {
      if (waiting == 0) return ecode::BufferIsEmpty;
      byte = RecvRing[RecvTail];
      RecvTail = WrapAdd(RecvTail, 1, kRecvRingSize);
      RecvFull = false;
    }
  }
  std::lock_guard state(StateLock);
  RecordTrace('R', byte);
  return 0;
}

void TApdBaseDispatcher::FlushRecv() {
  DevicePurge(true);
  {
    std::lock_guard recv(RecvLock);
    if (InAvailEvent) {
      PeekMax = RecvCountRaw();
    } else {
      RecvTail = RecvHead;
      PeekCount = 0;
    }
    RecvFull = false;
  }
  std::lock_guard state(StateLock);
  Triggers.ResetDataMatches();
}

// ---- send ring --------------------------------------------------------------

uint32_t TApdBaseDispatcher::SendCountLocked() const {
  if (SendFull) return static_cast<uint32_t>(SendRing.size());
  const auto size = static_cast<uint32_t>(SendRing.size());
  return SendHead >= SendTail ? SendHead - SendTail : size - (SendTail - SendHead);
}

uint32_t TApdBaseDispatcher::SendCount() {
  std::lock_guard send(SendLock);
  return SendCountLocked();
}

int TApdBaseDispatcher::DeviceWrite(const uint8_t* data, size_t n) {
  std::lock_guard send(SendLock);
  const auto size = static_cast<uint32_t>(SendRing.size());
  const auto count = static_cast<uint32_t>(n);
  const uint32_t first = std::min(count, size - SendHead);
  std::memcpy(&SendRing[SendHead], data, first);
  if (count > first) std::memcpy(&SendRing[0], data + first, count - first);
  SendHead = WrapAdd(SendHead, count, size);
  OutputQueued.Set();
  return static_cast<int>(n);
}

int TApdBaseDispatcher::WriteBlock(const uint8_t* data, size_t n) {
  if (n == 0) return 0;
  int rc = 0;
  size_t queued = 0;
  uint32_t errors = 0;
  {
    std::lock_guard send(SendLock);
    if (!ringsAllocated_) return ecode::OutputBufferTooSmall;
    TDeviceStatus status;
    errors = DeviceErrors(status);
    const uint32_t freeSpace = OutQueueSize - std::min<uint32_t>(OutQueueSize, status.OutQue);
    if (freeSpace < n) return ecode::OutputBufferTooSmall;
    if (DeviceWrite(data, n) <= 0) {
      errors |= DeviceErrors(status);
      rc = ecode::PutBlockFail;
    } else {
      queued = n;
      if (freeSpace == n) SendFull = true;
      BlockWritten = true;
    }
  }
  std::lock_guard state(StateLock);
  LineErrorBits = static_cast<uint8_t>((LineErrorBits | errors) & 0x1F);
  RecordLog(1, 2, static_cast<uint32_t>(queued), data, queued);
  for (size_t i = 0; i < queued; ++i) RecordTrace('T', data[i]);
  return rc;
}

void TApdBaseDispatcher::FlushSend() {
  if (!IsWorkerGone(OutThreadRef)) {
    OutputStop.Set();
    ThreadSignal.Wait(std::chrono::milliseconds(5000));
  }
  {
    std::lock_guard send(SendLock);
    SendFull = false;
    SendHead = SendTail = 0;
    ++SendGeneration;
  }
  DevicePurge(false);
}

// ---- triggers ---------------------------------------------------------------

void TApdBaseDispatcher::SetAvailThreshold(uint32_t count) {
  std::lock_guard state(StateLock);
  Triggers.AvailThreshold = count;
  RecordLog(9, 16, count, nullptr, 0);
}

uint32_t TApdBaseDispatcher::AvailThreshold() {
  std::lock_guard state(StateLock);
  return Triggers.AvailThreshold;
}

void TApdBaseDispatcher::SaveTriggers(TSavedTriggers& saved) {
  std::lock_guard state(StateLock);
  saved = Triggers;
}

void TApdBaseDispatcher::RestoreTriggers(const TSavedTriggers& saved) {
  std::lock_guard state(StateLock);
  Triggers = saved;
  Triggers.ResetDataMatches();
}

int TApdBaseDispatcher::AddTimerTrigger() {
  std::lock_guard state(StateLock);
  return Triggers.AddTimerTrigger();
}

int TApdBaseDispatcher::AddDataTrigger(const std::string& match, bool ignoreCase) {
  std::lock_guard state(StateLock);
  return Triggers.AddDataTrigger(match, ignoreCase);
}

int TApdBaseDispatcher::AddStatusTrigger(TStatusKind kind) {
  std::lock_guard state(StateLock);
  return Triggers.AddStatusTrigger(kind);
}

int TApdBaseDispatcher::RemoveTrigger(uint16_t handle) {
  std::lock_guard state(StateLock);
  return Triggers.RemoveTrigger(handle);
}

int TApdBaseDispatcher::SetTimerTrigger(uint16_t handle, int32_t ticks, bool activate) {
  std::lock_guard state(StateLock);
  return Triggers.SetTimerTrigger(handle, ticks, activate);
}

int TApdBaseDispatcher::SetStatusTrigger(uint16_t handle, uint16_t value, bool activate) {
  std::lock_guard state(StateLock);
  return Triggers.SetStatusTrigger(handle, value, activate);
}

bool TApdBaseDispatcher::CheckAvail() {
  uint32_t n, head, arrived;
  {
    std::lock_guard recv(RecvLock);
    if (!ringsAllocated_) return false;
    n = RecvCountRaw();
    head = RecvHead;
    arrived = ArrivedSinceNotify;
  }
  uint32_t threshold;
  {
    std::lock_guard state(StateLock);
    threshold = Triggers.AvailThreshold;
  }
  if (threshold == 0 || arrived == 0 || n < threshold) return false;
  // The user-interface thread has not yet come back for a notification it
  // missed: another would only wait out the time again. The bytes stay
  // unreported and are raised on a cycle after it is free.
  if (WindowsBacklogged()) return false;
  {
    std::lock_guard state(StateLock);
    RecordLog(2, 5, n, nullptr, 0);
  }
  bool missed = false;
  const bool result = RunHandlers(TriggerAvailMsg, n, 0, &missed);
  // Nobody saw them: they must not wait for a later byte.
  if (missed) return false;
  MarkNotified(head);
  return result;
}

void TApdBaseDispatcher::MarkNotified(uint32_t head) {
  std::lock_guard recv(RecvLock);
  NotifiedHead = head;
  ArrivedSinceNotify = 0;
}

bool TApdBaseDispatcher::WindowsBacklogged() {
  std::lock_guard state(StateLock);
  return std::any_of(WindowHandlers.begin(), WindowHandlers.end(),
                     [](const WindowEntry& e) { return !e.Removed && e.Window->Backlogged(); });
}

bool TApdBaseDispatcher::ScanDataTriggers(bool& handled) {
  // Feeds new bytes to the data triggers up to the first byte that
  // completes one or more of them.
  uint32_t matchStart = 0, before = 0, threshold = 0, notified = 0;
  {
    std::lock_guard recv(RecvLock);
    std::lock_guard state(StateLock);
    MatchedScratch.clear();
    size_t longest = 0;
    while (ScanPos != RecvHead) {
      const uint8_t byte = RecvRing[ScanPos];
      ScanPos = WrapAdd(ScanPos, 1, kRecvRingSize);
      for (TDataTrigger& t : Triggers.Data) {
        if (AdvanceDataMatch(t, byte)) {
          MatchedScratch.push_back(t.Handle);
          longest = std::max(longest, t.Match.size());
        }
      }
      if (!MatchedScratch.empty()) break;
    }
    if (MatchedScratch.empty()) return false;
    const uint32_t end = ScanPos;
    matchStart = (end + kRecvRingSize - static_cast<uint32_t>(longest)) % kRecvRingSize;
    before = (matchStart + kRecvRingSize - RecvTail) % kRecvRingSize;
    threshold = Triggers.AvailThreshold;
    notified = NotifiedHead;
  }
  handled = true;
  if (threshold > 0 && before >= threshold && matchStart != notified) {
    bool missed = false;
    RunHandlers(TriggerAvailMsg, before, 0, &missed);
    if (!missed) MarkNotified(matchStart);
  }
  // Last registered first.
  for (auto it = MatchedScratch.rbegin(); it != MatchedScratch.rend() && !closePending_; ++it) {
    RunHandlers(TriggerDataMsg, *it, *it);
  }
  return true;
}

bool TApdBaseDispatcher::CheckDataTriggers() {
  bool haveDataTriggers;
  {
    std::lock_guard state(StateLock);
    haveDataTriggers = !Triggers.Data.empty();
  }
  if (haveDataTriggers) {
    bool handled = false;
    if (ScanDataTriggers(handled)) return true;
  } else {
    std::lock_guard recv(RecvLock);
    ScanPos = RecvHead;
  }
  return CheckAvail();
}

bool TApdBaseDispatcher::CheckTimerTriggers() {
  uint16_t handle;
  {
    std::lock_guard state(StateLock);
    handle = Triggers.TakeExpiredTimer();
  }
  if (handle == 0) return false;
  RunHandlers(TriggerTimerMsg, handle, handle);
  return true;
}

bool TApdBaseDispatcher::CheckStatusTriggers() {
  uint16_t handle;
  {
    std::lock_guard state(StateLock);
    if (Triggers.Status.empty()) return false;
    TStatusInputs in;
    in.ModemDelta = ModemBits & 0x0F;
    in.LineErrors = LineErrorBits;
    in.OutUsed = SendCount();
    in.OutFree = OutQueueSize - std::min<uint32_t>(OutQueueSize, in.OutUsed);
    in.BlockWritten = BlockWritten;
    handle = Triggers.TakeFiredStatus(in);
    if (handle != 0 && (handle & 7) == stOutSent) BlockWritten = false;
  }
  if (handle == 0) return false;
  RunHandlers(TriggerStatusMsg, handle, handle);
  return true;
}

void TApdBaseDispatcher::RunStatusTriggerLoop() {
  while (!closePending_ && CheckStatusTriggers()) {
  }
}

// ---- handlers and delivery --------------------------------------------------

void TApdBaseDispatcher::AddWindowHandler(INotifyTarget* window) {
  std::lock_guard state(StateLock);
  WindowHandlers.push_back(WindowEntry{window, false});
  NotifyWanted = true;
  RecordLog(7, 17, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)), nullptr, 0);
}

void TApdBaseDispatcher::RemoveWindowHandler(INotifyTarget* window) {
  std::lock_guard state(StateLock);
  const auto it = std::find_if(WindowHandlers.begin(), WindowHandlers.end(),
                               [window](const WindowEntry& e) { return e.Window == window; });
  if (it == WindowHandlers.end()) return;
  RecordLog(8, 17, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)), nullptr, 0);
  if (handlersRunning_) {
    it->Removed = true;
    HandlersDeleted = true;
  } else {
    WindowHandlers.erase(it);
  }
}

int TApdBaseDispatcher::AddProcHandler(TApdNotifyProc proc) {
  std::lock_guard state(StateLock);
  const int id = NextProcId++;
  ProcHandlers.push_back(std::make_shared<ProcEntry>(ProcEntry{id, std::move(proc), false, false}));
  NotifyWanted = true;
  return id;
}

int TApdBaseDispatcher::AddEventHandler(TApdNotifyProc event, bool onUiThread) {
  std::lock_guard state(StateLock);
  const int id = NextProcId++;
  EventHandlers.push_back(
      std::make_shared<ProcEntry>(ProcEntry{id, std::move(event), onUiThread, false}));
  NotifyWanted = true;
  return id;
}

namespace {
template <typename List>
void RemoveById(List& list, int id, bool running, bool& deleted) {
  const auto it = std::find_if(list.begin(), list.end(), [id](const auto& e) { return e->Id == id; });
  if (it == list.end()) return;
  if (running) {
    (*it)->Removed = true;
    deleted = true;
  } else {
    list.erase(it);
  }
}
}  // namespace

void TApdBaseDispatcher::RemoveProcHandler(int id) {
  std::lock_guard state(StateLock);
  RemoveById(ProcHandlers, id, handlersRunning_, HandlersDeleted);
  if (!handlersRunning_) UpdateNotifyFlags(0);
}

void TApdBaseDispatcher::RemoveEventHandler(int id) {
  std::lock_guard state(StateLock);
  RemoveById(EventHandlers, id, handlersRunning_, HandlersDeleted);
  if (!handlersRunning_) UpdateNotifyFlags(0);
}

void TApdBaseDispatcher::UpdateNotifyFlags(int kind) {
  std::lock_guard state(StateLock);
  const auto live = [](const auto& list) {
    return std::count_if(list.begin(), list.end(), [](const auto& e) { return !e->Removed; });
  };
  const auto windows = std::count_if(WindowHandlers.begin(), WindowHandlers.end(),
                                     [](const WindowEntry& e) { return !e.Removed; });
  const bool others = windows > 1 || live(ProcHandlers) > 0 || live(EventHandlers) > 0;
  switch (kind) {
    case 1:
      OwnerHandlerWanted = true;
      NotifyWanted = true;
      break;
    case 2:
      OwnerHandlerWanted = false;
      NotifyWanted = others;
      break;
    default:
      NotifyWanted = others || OwnerHandlerWanted;
      break;
  }
}

void TApdBaseDispatcher::FreeRemovedHandlers() {
  std::erase_if(WindowHandlers, [](const WindowEntry& e) { return e.Removed; });
  std::erase_if(ProcHandlers, [](const auto& e) { return e->Removed; });
  std::erase_if(EventHandlers, [](const auto& e) { return e->Removed; });
}

int TApdBaseDispatcher::CallProc(std::vector<std::shared_ptr<ProcEntry>>& list, size_t index,
                                 uint16_t code, uint32_t second, uint32_t third) {
  std::shared_ptr<ProcEntry> entry;
  {
    std::lock_guard state(StateLock);
    if (index >= list.size()) return -1;
    if (list[index]->Removed) return 0;
    entry = list[index];
  }
  if (entry->OnUiThread && synchronizer_) {
    synchronizer_([&] { entry->Proc(code, second, third); });
  } else {
    entry->Proc(code, second, third);
  }
  return 1;
}

bool TApdBaseDispatcher::DeliverToWindow(size_t index, uint16_t code, uint32_t second,
                                         uint32_t third, bool& missed) {
  INotifyTarget* window;
  {
    std::lock_guard state(StateLock);
    if (index >= WindowHandlers.size()) return false;
    if (WindowHandlers[index].Removed) return true;
    window = WindowHandlers[index].Window;
  }
  if (!window->Deliver(code, second, third, kDeliveryTimeout)) missed = true;
  return true;
}

bool TApdBaseDispatcher::RunHandlers(uint16_t code, uint32_t second, uint16_t triggerHandle,
                                     bool* missed) {
  bool missedLocal = false;
  bool& anyMissed = missed ? *missed : missedLocal;
  anyMissed = false;
  if (!NotifyWanted) return true;
  bool toWindows;
  {
    std::lock_guard state(StateLock);
    toWindows = std::count_if(WindowHandlers.begin(), WindowHandlers.end(),
                              [](const WindowEntry& e) { return !e.Removed; }) > 1 ||
                OwnerHandlerWanted;
    // Nobody to call: leave the bytes as they are. Entering the peek mode
    // for nobody would let a read outside any handler see a byte without
    // consuming it, and then see it again.
    if (!toWindows && ProcHandlers.empty() && EventHandlers.empty()) return true;
    handlersRunning_ = true;
  }
  {
    std::lock_guard recv(RecvLock);
    PeekMax = 0;
    InAvailEvent = code == TriggerAvailMsg || code == TriggerDataMsg;
  }
  const uint32_t third = (static_cast<uint32_t>(handle_) << 16) | triggerHandle;
  bool closed = false;
  // One handler call: reset the peek count, call, note the furthest read.
  auto afterCall = [this, &closed] {
    if (closePending_) {
      closed = true;
      return;
    }
    std::lock_guard recv(RecvLock);
    PeekMax = std::max(PeekMax, PeekCount);
  };
  auto resetPeek = [this] {
    std::lock_guard recv(RecvLock);
    PeekCount = 0;
  };
  for (auto* list : {&EventHandlers, &ProcHandlers}) {
    for (size_t i = 0; !closed; ++i) {
      resetPeek();
      const int called = CallProc(*list, i, code, second, third);
      if (called < 0) break;
      if (called > 0) afterCall();
    }
  }
  if (toWindows) {
    for (size_t i = 0; !closed; ++i) {
      resetPeek();
      if (!DeliverToWindow(i, code, second, third, anyMissed)) break;
      afterCall();
    }
  }
  bool result = true;
  {
    std::lock_guard recv(RecvLock);
    if (closed) {
      // The close has flushed the ring; nothing left to consume.
      InAvailEvent = false;
      result = false;
    } else if (InAvailEvent) {
      InAvailEvent = false;
      if (ringsAllocated_) RecvTail = WrapAdd(RecvTail, PeekMax, kRecvRingSize);
      if (PeekMax > 0) RecvFull = false;
      if (code == TriggerAvailMsg && PeekMax != second) result = false;
    }
    PeekCount = 0;
  }
  std::lock_guard state(StateLock);
  handlersRunning_ = false;
  if (HandlersDeleted) {
    FreeRemovedHandlers();
    HandlersDeleted = false;
    UpdateNotifyFlags(0);
  }
  return result;
}
