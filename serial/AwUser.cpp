#include "serial/AwUser.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "serial/AdExcept.h"
#include "serial/AwThreads.h"

namespace {

// Guards the registry list; the user-interface thread also holds it while a
// notification handler runs, so a dispatcher cannot vanish under a handler.
std::recursive_mutex& RegistryMutex() {
  static std::recursive_mutex lock;
  return lock;
}

std::vector<TApdBaseDispatcher*>& Registry() {
  static std::vector<TApdBaseDispatcher*> list;
  return list;
}

uint16_t Register(TApdBaseDispatcher* d) {
  std::lock_guard guard(RegistryMutex());
  auto& list = Registry();
  const auto slot = std::find(list.begin(), list.end(), nullptr);
  if (slot != list.end()) {
    *slot = d;
    return static_cast<uint16_t>(slot - list.begin());
  }
  list.push_back(d);
  return static_cast<uint16_t>(list.size() - 1);
}

void Unregister(uint16_t handle, const TApdBaseDispatcher* d) {
  std::lock_guard guard(RegistryMutex());
  auto& list = Registry();
  if (handle < list.size() && list[handle] == d) list[handle] = nullptr;
  while (!list.empty() && list.back() == nullptr) list.pop_back();
}


}  // namespace

std::recursive_mutex& PortRegistryLock() { return RegistryMutex(); }

TApdBaseDispatcher* PortRegistryEntry(uint32_t handle) {
  std::lock_guard guard(RegistryMutex());
  const auto& list = Registry();
  return handle < list.size() ? list[handle] : nullptr;
}

size_t PortRegistrySize() {
  std::lock_guard guard(RegistryMutex());
  return Registry().size();
}

TApdBaseDispatcher::TApdBaseDispatcher(TApdCustomComPort* owner)
    : owner_(owner), creatorThread_(std::this_thread::get_id()) {
  handle_ = Register(this);
}

TApdBaseDispatcher::~TApdBaseDispatcher() {
  // The most-derived destructor has stopped everything; this only leaves
  // the registry.
  JoinWorkers();
  Unregister(handle_, this);
}

void TApdBaseDispatcher::DestroyDispatcher() {
  if (destroyed_) return;
  destroyed_ = true;
  if (closePending_) {
    ReleaseBuffers();
  } else {
    CloseDevice();
  }
  PumpWait([this] { return liveThreads_.load() == 0; }, std::chrono::milliseconds(-1));
  JoinWorkers();
  Unregister(handle_, this);
}

// ---- opening and closing ---------------------------------------------------

int TApdBaseDispatcher::OpenDevice(const std::string& name, uint32_t baud, uint8_t lineFlags,
                                   uint16_t outSize, uint16_t inSize, uint16_t stopBits,
                                   uint16_t dataBits, uint8_t parity) {
  ringsAllocated_ = false;
  handlersRunning_ = false;
  HandlersDeleted = false;
  using R = TApdSignal::Reset;
  if (!WakeDispatch.Create(R::Auto) || !CycleDone.Create(R::Auto) ||
      !ThreadSignal.Create(R::Auto) || !OutputQueued.Create(R::Auto) ||
      !OutputStop.Create(R::Auto) || !WriteComplete.Create(R::Manual)) {
    CloseDevice();
    return ecode::OutOfMemory;
  }
  int rc = DeviceOpen(name, inSize, outSize);
  if (rc < 0) {
    CloseDevice();
    return rc;
  }
  deviceOpen_ = true;
  rc = SetQueueSizes(inSize, outSize);
  if (rc < 0) {
    CloseDevice();
    return rc;
  }
  {
    std::lock_guard recv(RecvLock);
    std::lock_guard send(SendLock);
    RecvRing.assign(kRecvRingSize, 0);
    SendRing.assign(outSize, 0);
    SendScratch.assign(outSize, 0);
    RecvHead = RecvTail = 0;
    RecvFull = false;
    SendHead = SendTail = 0;
    SendFull = false;
    PeekCount = PeekMax = 0;
    ScanPos = NotifiedHead = 0;
    ArrivedSinceNotify = 0;
    InAvailEvent = false;
    ringsAllocated_ = true;
  }
  {
    std::lock_guard state(StateLock);
    InQueueSize = inSize;
    OutQueueSize = outSize;
    LineErrorBits = 0;
    closePending_ = false;
    DeviceGetState(LineState);
    DTRHandshake = (lineFlags & lineflag::DtrHandshake) != 0;
    if (!DTRHandshake) SetDTRLevel((lineFlags & lineflag::DtrLevel) != 0);
    RTSHandshake = (lineFlags & lineflag::RtsHandshake) != 0;
    if (!RTSHandshake) SetRTSLevel((lineFlags & lineflag::RtsLevel) != 0);
    Triggers.Clear();
    LastBaud = 115200;
  }
  RefreshModemBits();
  rc = ApplyLineSettings(baud, parity, stopBits, dataBits);
  if (rc < 0) {
    CloseDevice();
    return rc;
  }
  AccumulateLineErrors();
  {
    std::lock_guard state(StateLock);
    Trace.Stop();
    TimeBase = std::chrono::steady_clock::now();
    Log.SetTimeBase(TimeBase);
    Log.Stop();
  }
  StartWorkers();
  return 0;
}

int TApdBaseDispatcher::CloseDevice() {
  int rc = 0;
  if (deviceOpen_) {
    FlushSend();
    FlushRecv();
    rc = DeviceClose();
    deviceOpen_ = false;
  }
  if (handlersRunning_) {
    // A handler on the user-interface thread closed the port: the dispatcher
    // thread finishes the delivery and releases the buffers itself.
    closePending_ = true;
  } else {
    ReleaseBuffers();
    // Reap the finished workers now rather than at destruction.
    if (liveThreads_ == 0) JoinWorkers();
  }
  return rc;
}

void TApdBaseDispatcher::ReleaseBuffers() {
  StopWorkers();
  if (!dispatcherActive_) {
    WakeDispatch.Close();
    CycleDone.Close();
    ThreadSignal.Close();
    OutputQueued.Close();
    OutputStop.Close();
    WriteComplete.Close();
  }
  std::lock_guard recv(RecvLock);
  std::lock_guard send(SendLock);
  ringsAllocated_ = false;
  RecvRing.clear();
  RecvRing.shrink_to_fit();
  SendRing.clear();
  SendRing.shrink_to_fit();
  SendScratch.clear();
  SendScratch.shrink_to_fit();
  RecvHead = RecvTail = SendHead = SendTail = 0;
  RecvFull = SendFull = false;
}

void TApdBaseDispatcher::YieldSlice() { std::this_thread::yield(); }

void TApdBaseDispatcher::SetThreadBoost(int /*boost*/) {
  // All workers run at normal priority; nothing in the program raises them.
}

bool TApdBaseDispatcher::PumpWait(const std::function<bool()>& done,
                                  std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (timeout.count() >= 0 && std::chrono::steady_clock::now() >= deadline) return done();
    if (pumpHook_ && std::this_thread::get_id() == creatorThread_) pumpHook_();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool TApdBaseDispatcher::IsWorkerGone(TApdDispatcherThread* const& ref) {
  std::lock_guard guard(ThreadCtlLock);
  return ref == nullptr || ref->IsCurrentThread();
}

void TApdBaseDispatcher::JoinWorkers() {
  std::vector<std::unique_ptr<TApdDispatcherThread>> threads;
  {
    std::lock_guard guard(ThreadCtlLock);
    threads.swap(OwnedThreads);
  }
  for (auto& t : threads) t->Join();
}

// ---- line settings ----------------------------------------------------------

TLineState TApdBaseDispatcher::CurrentLineState() {
  std::lock_guard state(StateLock);
  DeviceGetState(LineState);
  return LineState;
}

int TApdBaseDispatcher::CommitLineState(TLineState& state) {
  if (!DTRHandshake) state.DtrControl = DtrLevel ? TLineControl::Enable : TLineControl::Disable;
  if (!RTSHandshake) state.RtsControl = RtsLevel ? TLineControl::Enable : TLineControl::Disable;
  const int rc = DeviceSetState(state);
  LastBaud = state.BaudRate;
  SetDTRLevel(DtrLevel);
  SetRTSLevel(RtsLevel);
  return rc;
}

namespace {
void SetRawTransfer(TLineState& s) {
  s.Binary = true;
  s.ParityCheck = false;
  s.DsrSensitivity = false;
  s.TxContinueOnXoff = true;
  s.NullStrip = false;
}
}  // namespace

int TApdBaseDispatcher::ApplyLineSettings(uint32_t baud, uint8_t parity, uint16_t stopBits,
                                          uint16_t dataBits) {
  TLineState wanted;
  {
    std::lock_guard state(StateLock);
    DeviceGetState(LineState);
    SetRawTransfer(LineState);
    wanted = LineState;
    if (baud != 0) wanted.BaudRate = baud;
    if (parity != parKeep) wanted.Parity = parity;
    if (dataBits != 9) wanted.ByteSize = static_cast<uint8_t>(dataBits);
    if (stopBits != 3) {
      const uint16_t stops = stopBits == 0 ? 1 : std::min<uint16_t>(stopBits, 2);
      wanted.StopBits = stops == 1 ? stopOne : stopTwo;
      if (wanted.ByteSize == 5) wanted.StopBits = stopOneAndHalf;
    }
    if (wanted.BaudRate == LineState.BaudRate && wanted.Parity == LineState.Parity &&
        wanted.ByteSize == LineState.ByteSize && wanted.StopBits == LineState.StopBits) {
      return 0;
    }
  }
  DrainAndSettle();
  std::lock_guard state(StateLock);
  DeviceGetState(LineState);
  SetRawTransfer(LineState);
  LineState.BaudRate = wanted.BaudRate;
  LineState.Parity = wanted.Parity;
  LineState.ByteSize = wanted.ByteSize;
  LineState.StopBits = wanted.StopBits;
  return CommitLineState(LineState);
}

int TApdBaseDispatcher::DrainAndSettle() {
  for (int polls = 0; polls < 5000 && SendCount() > 0; ++polls) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  TLineState old;
  uint32_t lastBaud;
  {
    std::lock_guard state(StateLock);
    DeviceGetState(LineState);
    old = LineState;
    lastBaud = LastBaud ? LastBaud : 115200;
  }
  // Let 18 characters in the old framing leave the line.
  const uint64_t bitTime = 10'000'000ULL / lastBaud;  // in 100-ns units
  const uint64_t bits = old.ByteSize + (old.Parity != parNone ? 1 : 0) +
                        (old.StopBits == stopOne ? 2 : 3);
  uint64_t d = bitTime * bits * 18;
  if (d < 10'000) d *= 2;
  const uint64_t ms = d / 10'000 + (d % 10'000 ? 1 : 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return 0;
}

int TApdBaseDispatcher::SetQueueSizes(uint16_t in, uint16_t out) {
  return DeviceSetupQueues(in, out);
}

int TApdBaseDispatcher::SetHardwareFlow(uint16_t full, uint16_t resume, uint32_t options) {
  std::lock_guard state(StateLock);
  if (full < resume || InQueueSize < full) return ecode::BadArgument;
  DeviceGetState(LineState);
  LineState.OutxCtsFlow = LineState.OutxDsrFlow = false;
  LineState.DtrControl = LineState.RtsControl = TLineControl::Disable;
  DTRHandshake = RTSHandshake = false;
  if (options & 1) {
    LineState.DtrControl = TLineControl::Handshake;
    DTRHandshake = true;
  } else if (DtrLevel) {
    LineState.DtrControl = TLineControl::Enable;
  }
  if (options & 2) {
    LineState.RtsControl = TLineControl::Handshake;
    RTSHandshake = true;
  } else if (RtsLevel) {
    LineState.RtsControl = TLineControl::Enable;
  }
  LineState.XoffLim = static_cast<uint16_t>(InQueueSize - full);
  LineState.XonLim = resume;
  if (options & 4) LineState.OutxDsrFlow = true;
  if (options & 8) LineState.OutxCtsFlow = true;
  return CommitLineState(LineState);
}

int TApdBaseDispatcher::SetSoftwareFlow(uint16_t full, uint16_t resume, uint32_t options) {
  std::lock_guard state(StateLock);
  if (full < resume || InQueueSize < full) return ecode::BadArgument;
  DeviceGetState(LineState);
  if (options & 2) {
    LineState.InX = true;
    LineState.XoffLim = static_cast<uint16_t>(InQueueSize - full);
    LineState.XonLim = resume;
    LineState.XonChar = 17;
    LineState.XoffChar = 19;
  }
  if (options & 1) {
    LineState.OutX = true;
    LineState.XonChar = 17;
    LineState.XoffChar = 19;
  }
  return CommitLineState(LineState);
}

int TApdBaseDispatcher::ClearSoftwareFlow() {
  std::lock_guard state(StateLock);
  DeviceGetState(LineState);
  LineState.OutX = LineState.InX = false;
  return CommitLineState(LineState);
}

int TApdBaseDispatcher::SetFlowChars(uint8_t xon, uint8_t xoff) {
  std::lock_guard state(StateLock);
  DeviceGetState(LineState);
  LineState.XonChar = xon;
  LineState.XoffChar = xoff;
  return CommitLineState(LineState);
}

int TApdBaseDispatcher::SetDTRLevel(bool high) {
  std::lock_guard state(StateLock);
  if (DTRHandshake) return 1;
  DtrLevel = high;
  return DeviceEscape(high ? SetDtr : ClrDtr) < 0 ? ecode::BadArgument : 0;
}

int TApdBaseDispatcher::SetRTSLevel(bool high) {
  std::lock_guard state(StateLock);
  if (RTSHandshake) return 1;
  RtsLevel = high;
  return DeviceEscape(high ? SetRts : ClrRts) < 0 ? ecode::BadArgument : 0;
}

int TApdBaseDispatcher::DeviceModemLines(uint8_t& /*lines*/) { return -1; }

void TApdBaseDispatcher::RefreshModemBits() {
  uint8_t lines = 0;
  if (DeviceModemLines(lines) < 0) return;  // no modem lines: no change
  std::lock_guard state(StateLock);
  const uint8_t changed = static_cast<uint8_t>(((ModemBits ^ lines) & 0xF0) >> 4);
  ModemBits = static_cast<uint8_t>((lines & 0xF0) | changed);
}

uint8_t TApdBaseDispatcher::ModemStatus() {
  std::lock_guard state(StateLock);
  return ModemBits;
}

void TApdBaseDispatcher::AccumulateLineErrors() {
  TDeviceStatus status;
  const uint32_t bits = DeviceErrors(status);
  std::lock_guard state(StateLock);
  LineErrorBits = static_cast<uint8_t>((LineErrorBits | bits) & 0x1F);
}

uint8_t TApdBaseDispatcher::LineErrors() {
  std::lock_guard state(StateLock);
  return LineErrorBits;
}

// ---- recorders --------------------------------------------------------------

// The recorders keep no lock of their own; StateLock is recursive, so the
// call sites that already hold it pay little.
void TApdBaseDispatcher::RecordTrace(char kind, uint8_t byte) {
  std::lock_guard state(StateLock);
  Trace.Add(kind, byte);
}

void TApdBaseDispatcher::RecordLog(uint8_t type, uint8_t subtype, uint32_t value,
                                   const uint8_t* data, size_t n) {
  std::lock_guard state(StateLock);
  Log.Add(type, subtype, value, data, n);
}

int TApdBaseDispatcher::StartTracing(uint32_t capacity) {
  std::lock_guard state(StateLock);
  return Trace.Start(capacity);
}

void TApdBaseDispatcher::StopTracing() {
  std::lock_guard state(StateLock);
  Trace.Stop();
}

void TApdBaseDispatcher::PauseTracing() {
  std::lock_guard state(StateLock);
  Trace.Pause();
}

void TApdBaseDispatcher::ResumeTracing() {
  std::lock_guard state(StateLock);
  Trace.Resume();
}

void TApdBaseDispatcher::ClearTracing() {
  std::lock_guard state(StateLock);
  Trace.Clear();
}

int TApdBaseDispatcher::DumpTrace(const std::string& file, bool append, bool allHex, bool inHex) {
  std::lock_guard state(StateLock);
  return Trace.Dump(file, append, allHex, inHex);
}

int TApdBaseDispatcher::StartLogging(uint32_t size) {
  std::lock_guard state(StateLock);
  return Log.Start(size);
}

void TApdBaseDispatcher::StopLogging() {
  std::lock_guard state(StateLock);
  Log.Stop();
}

void TApdBaseDispatcher::PauseLogging() {
  std::lock_guard state(StateLock);
  Log.Pause();
}

void TApdBaseDispatcher::ResumeLogging() {
  std::lock_guard state(StateLock);
  Log.Resume();
}

void TApdBaseDispatcher::ClearLogging() {
  std::lock_guard state(StateLock);
  Log.Clear();
}

int TApdBaseDispatcher::DumpLog(const std::string& file, bool append, bool allHex, bool inHex) {
  std::lock_guard state(StateLock);
  return Log.Dump(file, append, allHex, inHex, ComName());
}
