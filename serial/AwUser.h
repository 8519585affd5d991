// The device-independent half of the serial dispatcher: receive and send
// rings, line settings, triggers, handler lists and notification delivery,
// and the process-wide registry of open dispatchers.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/AdLog.h"
#include "serial/AdTrace.h"
#include "serial/AwSignal.h"
#include "serial/AwTriggers.h"

class TApdCustomComPort;
class TApdDispatcherThread;
class TComThread;
class TDispThread;
class TOutThread;

// Notification codes: the first parameter of a delivery.
constexpr uint16_t TriggerAvailMsg = 0x7E01;
constexpr uint16_t TriggerDataMsg = 0x7E02;
constexpr uint16_t TriggerTimerMsg = 0x7E03;
constexpr uint16_t TriggerStatusMsg = 0x7E04;
constexpr uint16_t PortClosingMsg = 0x7E0A;

// How long the dispatcher thread waits for one handler on another thread.
constexpr std::chrono::milliseconds kDeliveryTimeout{3000};

constexpr uint32_t kRecvRingSize = 8192;

// Device events as the device thread reports them.
namespace devev {
constexpr uint32_t RxChar = 0x0001;
constexpr uint32_t Cts = 0x0008;
constexpr uint32_t Dsr = 0x0010;
constexpr uint32_t Rlsd = 0x0020;
constexpr uint32_t Break = 0x0040;
constexpr uint32_t Err = 0x0080;
constexpr uint32_t Ring = 0x0100;
constexpr uint32_t RingTe = 0x2000;
constexpr uint32_t ModemChange = 0x2138;  // CTS, DSR, carrier, ring, ring trailing edge
}  // namespace devev

// Line flags OpenDevice takes from the component.
namespace lineflag {
constexpr uint8_t DtrLevel = 0x01;
constexpr uint8_t RtsLevel = 0x02;
constexpr uint8_t DtrHandshake = 0x10;
constexpr uint8_t RtsHandshake = 0x20;
}  // namespace lineflag

// Modem-control escapes for DeviceEscape.
enum TEscape : int { SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6 };

enum class TLineControl : uint8_t { Disable, Enable, Handshake };

// Parity values of the line-state block and the component.
enum TParityCode : uint8_t { parNone = 0, parOdd = 1, parEven = 2, parMark = 3, parSpace = 4, parKeep = 5 };
// Stop setting of the line-state block.
enum TStopCode : uint8_t { stopOne = 0, stopOneAndHalf = 1, stopTwo = 2 };

// The device's line-state block.
struct TLineState {
  uint32_t BaudRate = 0;
  bool Binary = true;
  bool ParityCheck = false;
  bool OutxCtsFlow = false;
  bool OutxDsrFlow = false;
  TLineControl DtrControl = TLineControl::Enable;
  bool DsrSensitivity = false;
  bool TxContinueOnXoff = true;
  bool OutX = false;
  bool InX = false;
  bool NullStrip = false;
  TLineControl RtsControl = TLineControl::Enable;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = parNone;
  uint8_t StopBits = stopOne;
  uint8_t XonChar = 17;
  uint8_t XoffChar = 19;
  bool operator==(const TLineState&) const = default;
};

// What DeviceErrors reports besides the error bits.
struct TDeviceStatus {
  uint32_t InQue = 0;   // bytes the driver holds for reading
  uint32_t OutQue = 0;  // bytes waiting in SendRing
};

// The receiving end of a window handler: runs the notification's handler on
// its own thread and lets the dispatcher thread wait for it at most
// `timeout`.
class INotifyTarget {
 public:
  virtual ~INotifyTarget() = default;
  // Returns once the handler has finished or the time is up: true when the
  // handler ran or is running, false when it had not started (the target
  // then drops the delivery when it gets to it).
  virtual bool Deliver(uint16_t code, uint32_t second, uint32_t third,
                       std::chrono::milliseconds timeout) = 0;
  // True while a delivery that was given up before it started still waits
  // in the target's queue: its thread is still busy elsewhere.
  virtual bool Backlogged() const { return false; }
};

using TApdNotifyProc = std::function<void(uint16_t code, uint32_t second, uint32_t third)>;
// Runs a call on the user-interface thread and waits for it.
using TApdSynchronizer = std::function<void(const std::function<void()>&)>;
// Lets the waiting thread's pending messages run (see StopWorkers).
using TApdPumpHook = std::function<void()>;

// AvailThreshold and the triggers, kept by the component across a reopen.
using TSavedTriggers = TTriggerSet;

// Process-wide list of dispatchers; the index is a dispatcher's Handle.
class TApdBaseDispatcher;
std::recursive_mutex& PortRegistryLock();
// The dispatcher registered under handle, or nullptr. Hold PortRegistryLock
// while using the result.
TApdBaseDispatcher* PortRegistryEntry(uint32_t handle);
size_t PortRegistrySize();

class TApdBaseDispatcher {
 public:
  explicit TApdBaseDispatcher(TApdCustomComPort* owner);
  virtual ~TApdBaseDispatcher();
  TApdBaseDispatcher(const TApdBaseDispatcher&) = delete;
  TApdBaseDispatcher& operator=(const TApdBaseDispatcher&) = delete;

  TApdCustomComPort* Owner() const { return owner_; }
  uint16_t Handle() const { return handle_; }
  const std::string& ComName() const { return comName_; }
  void SetComName(std::string name) { comName_ = std::move(name); }
  void SetPumpHook(TApdPumpHook hook) { pumpHook_ = std::move(hook); }

  int OpenDevice(const std::string& name, uint32_t baud, uint8_t lineFlags, uint16_t outSize,
                 uint16_t inSize, uint16_t stopBits, uint16_t dataBits, uint8_t parity);
  int CloseDevice();
  bool DeviceIsOpen() const { return deviceOpen_.load(); }

  int ApplyLineSettings(uint32_t baud, uint8_t parity, uint16_t stopBits, uint16_t dataBits);
  int SetQueueSizes(uint16_t in, uint16_t out);
  int SetHardwareFlow(uint16_t full, uint16_t resume, uint32_t options);
  int SetSoftwareFlow(uint16_t full, uint16_t resume, uint32_t options);
  int ClearSoftwareFlow();
  int SetFlowChars(uint8_t xon, uint8_t xoff);
  int SetDTRLevel(bool high);
  int SetRTSLevel(bool high);
  TLineState CurrentLineState();

  int ReadByte(uint8_t& byte);
  int WriteBlock(const uint8_t* data, size_t n);
  uint32_t RecvCount();
  uint32_t SendCount();
  void FlushSend();
  void FlushRecv();
  uint8_t LineErrors();
  uint8_t ModemStatus();

  void SetAvailThreshold(uint32_t count);
  uint32_t AvailThreshold();

  void AddWindowHandler(INotifyTarget* window);
  void RemoveWindowHandler(INotifyTarget* window);
  int AddProcHandler(TApdNotifyProc proc);
  void RemoveProcHandler(int id);
  int AddEventHandler(TApdNotifyProc event, bool onUiThread);
  void RemoveEventHandler(int id);
  void SetSynchronizer(TApdSynchronizer sync) { synchronizer_ = std::move(sync); }
  virtual void UpdateNotifyFlags(int kind);

  void SaveTriggers(TSavedTriggers& saved);
  void RestoreTriggers(const TSavedTriggers& saved);
  // Trigger registration for callers that want them; the program uses none.
  int AddTimerTrigger();
  int AddDataTrigger(const std::string& match, bool ignoreCase);
  int AddStatusTrigger(TStatusKind kind);
  int RemoveTrigger(uint16_t handle);
  int SetTimerTrigger(uint16_t handle, int32_t ticks, bool activate);
  int SetStatusTrigger(uint16_t handle, uint16_t value, bool activate);

  // Trace and dispatch log: start (0, or -1002 above the limit), stop,
  // pause, resume, clear, and dump to a file (0 or minus the runtime's
  // input/output error number; the recorder is freed after a dump).
  int StartTracing(uint32_t capacity);
  void StopTracing();
  void PauseTracing();
  void ResumeTracing();
  void ClearTracing();
  int DumpTrace(const std::string& file, bool append, bool allHex, bool inHex);
  int StartLogging(uint32_t size);
  void StopLogging();
  void PauseLogging();
  void ResumeLogging();
  void ClearLogging();
  int DumpLog(const std::string& file, bool append, bool allHex, bool inHex);

  bool DispatcherActive() const { return dispatcherActive_.load(); }
  bool HandlersRunning() const { return handlersRunning_.load(); }
  bool ClosePending() const { return closePending_.load(); }
  int LiveThreads() const { return liveThreads_.load(); }

 protected:
  // Device primitives and worker control, in the device layer's slot order.
  virtual int DeviceEscape(int function) = 0;
  virtual int DevicePurge(bool input) = 0;
  virtual uint32_t DeviceErrors(TDeviceStatus& status) = 0;
  virtual void ReadErrorHook(int /*code*/) {}
  virtual int DeviceGetState(TLineState& state) = 0;
  virtual int DeviceRead(uint8_t* buffer, size_t n) = 0;
  virtual int DeviceSetState(const TLineState& state) = 0;
  virtual int DeviceWrite(const uint8_t* data, size_t n);
  // Blocks until the device has something to report or the wait is
  // cancelled; 0 with the events, or -1 when the wait failed.
  virtual int DeviceWaitEvent(uint32_t& events) = 0;
  virtual int DeviceSetupQueues(uint16_t in, uint16_t out) = 0;
  virtual void ReleaseBuffers();
  virtual void StartWorkers() = 0;
  virtual void StopWorkers() = 0;
  // 0, -8 when a signal cannot be made, or minus the operating-system error.
  virtual int DeviceOpen(const std::string& name, uint16_t in, uint16_t out) = 0;
  virtual int DeviceClose() = 0;
  virtual void YieldSlice();
  virtual void SetThreadBoost(int boost);
  // The send thread's device side (after the slots above, so their order
  // stays): bytes written, 0 when the device would block, -1 on failure.
  virtual int DeviceTransmit(const uint8_t* data, size_t n) = 0;
  // 1 when the device takes output again, 0 when `stop` came first (it is
  // taken), -1 when the device failed.
  virtual int DeviceWaitWritable(TApdSignal& stop) = 0;

  // The most-derived destructor calls this while its overrides still exist.
  void DestroyDispatcher();

  // The dispatcher thread's work (friends run them).
  void FillRecvRing();
  bool CheckDataTriggers();
  bool CheckTimerTriggers();
  bool CheckStatusTriggers();
  void RunStatusTriggerLoop();
  // `missed` (when given) is set when a window's delivery was given up
  // before its handler started: nobody saw the notification.
  bool RunHandlers(uint16_t code, uint32_t second, uint16_t triggerHandle, bool* missed = nullptr);
  void RefreshModemBits();
  void AccumulateLineErrors();

  // Recorder call sites; the trace and dispatch log plug in here.
  void RecordTrace(char kind, uint8_t byte);
  void RecordLog(uint8_t type, uint8_t subtype, uint32_t value, const uint8_t* data, size_t n);

  // Waits until done() holds, letting pending messages run, at most timeout
  // (a negative timeout waits without limit). True when done() holds.
  bool PumpWait(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  uint32_t SendCountLocked() const;
  int CommitLineState(TLineState& state);
  int DrainAndSettle();
  // Reads the device's modem-line bits (CTS 0x10, DSR 0x20, RI 0x40, DCD 0x80).
  virtual int DeviceModemLines(uint8_t& lines);

  // Worker bookkeeping. A thread clears its reference when it ends; the
  // objects stay owned here until the dispatcher joins them.
  bool IsWorkerGone(TApdDispatcherThread* const& ref);
  void JoinWorkers();

  friend class TApdDispatcherThread;
  friend class TComThread;
  friend class TDispThread;
  friend class TOutThread;

  // Guards the line state, triggers, handler lists, recorder buffers and the
  // delivery flags' transitions; taken after RecvLock, before SendLock.
  std::recursive_mutex StateLock;
  // Guards SendRing and its positions; innermost of the three.
  std::recursive_mutex SendLock;
  // Guards RecvRing, its positions and the peek counters; taken first.
  std::recursive_mutex RecvLock;

  TApdSignal WakeDispatch, CycleDone, ThreadSignal, OutputQueued, OutputStop, WriteComplete;

  // Receive ring (RecvLock).
  std::vector<uint8_t> RecvRing;
  uint32_t RecvHead = 0, RecvTail = 0;
  bool RecvFull = false;
  uint32_t ScanPos = 0, NotifiedHead = 0;
  // Bytes received since the last data-available notification. RecvHead
  // alone cannot tell: a full ring's worth brings it back to NotifiedHead.
  uint32_t ArrivedSinceNotify = 0;
  uint32_t PeekCount = 0, PeekMax = 0;
  std::atomic<bool> InAvailEvent{false};
  // Set by FillRecvRing when the driver still holds bytes it could not take;
  // the device thread then stops waiting for "readable" so it cannot spin.
  std::atomic<bool> DriverBacklog{false};

  // Send ring (SendLock).
  std::vector<uint8_t> SendRing;
  std::vector<uint8_t> SendScratch;  // for making a wrapped ring contiguous
  uint32_t SendHead = 0, SendTail = 0;
  bool SendFull = false;
  uint64_t SendGeneration = 0;  // bumped by FlushSend: an in-flight write must not advance
  std::atomic<bool> BlockWritten{false};

  // StateLock.
  TLineState LineState;
  uint16_t InQueueSize = 0, OutQueueSize = 0;
  uint8_t LineErrorBits = 0;
  uint8_t ModemBits = 0;
  bool DtrLevel = true, RtsLevel = true;
  bool DTRHandshake = false, RTSHandshake = false;
  uint32_t LastBaud = 115200;
  TTriggerSet Triggers;
  TApdTraceRecorder Trace;
  TApdDispatchLog Log;
  std::atomic<bool> RingSeen{false};
  std::atomic<uint32_t> LastDeviceEvents{0};

  struct WindowEntry {
    INotifyTarget* Window;
    bool Removed;
  };
  struct ProcEntry {
    int Id;
    TApdNotifyProc Proc;
    bool OnUiThread;
    bool Removed;
  };
  std::vector<WindowEntry> WindowHandlers;
  // Shared entries: a delivery holds one while the list may grow meanwhile.
  std::vector<std::shared_ptr<ProcEntry>> ProcHandlers;
  std::vector<std::shared_ptr<ProcEntry>> EventHandlers;
  std::vector<uint16_t> MatchedScratch;  // data triggers completed at one byte
  int NextProcId = 1;
  bool OwnerHandlerWanted = false;
  std::atomic<bool> NotifyWanted{false};
  bool HandlersDeleted = false;

  std::atomic<bool> handlersRunning_{false};
  std::atomic<bool> closePending_{false};
  std::atomic<bool> dispatcherActive_{false};
  std::atomic<bool> StopWorkersFlag{false};
  std::atomic<int> liveThreads_{0};
  std::atomic<bool> deviceOpen_{false};
  std::atomic<bool> ringsAllocated_{false};

  std::chrono::steady_clock::time_point TimeBase;

  // Guards the worker references, OwnedThreads and StopInProgress: who is
  // stopping the workers, so that the user-interface thread and an ending
  // dispatcher thread never both stop them.
  std::mutex ThreadCtlLock;
  TApdDispatcherThread* ComThreadRef = nullptr;
  TApdDispatcherThread* DispThreadRef = nullptr;
  TApdDispatcherThread* OutThreadRef = nullptr;
  std::vector<std::unique_ptr<TApdDispatcherThread>> OwnedThreads;
  bool StopInProgress = false;
  std::thread::id StopperThread;

 private:
  // False past the end of the list; `missed` as for RunHandlers.
  bool DeliverToWindow(size_t index, uint16_t code, uint32_t second, uint32_t third, bool& missed);
  bool WindowsBacklogged();
  // A data-available notification reached a handler: the waiting bytes
  // count as reported up to `head`.
  void MarkNotified(uint32_t head);
  // 1 called, 0 skipped (removed), -1 past the end of the list.
  int CallProc(std::vector<std::shared_ptr<ProcEntry>>& list, size_t index, uint16_t code,
               uint32_t second, uint32_t third);
  void FreeRemovedHandlers();
  bool CheckAvail();
  bool ScanDataTriggers(bool& handled);
  uint32_t RecvCountRaw() const;

  TApdCustomComPort* owner_;
  uint16_t handle_ = 0;
  std::string comName_;
  TApdPumpHook pumpHook_;
  TApdSynchronizer synchronizer_;
  bool destroyed_ = false;
  // Messages are pumped only on the thread that made the dispatcher (the
  // user-interface thread); a worker that stops the others just waits.
  std::thread::id creatorThread_;
};
