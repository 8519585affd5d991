// The serial port component the application uses: port number and line
// settings as properties, opened on first use, result codes turned into
// exceptions, and the dispatcher's notifications delivered as events on the
// user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/AdNotify.h"
#include "serial/AwUser.h"

enum TDeviceLayer { dlWin32, dlWinsock };
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum THWFlowOption : uint8_t { hwfUseDTR = 1, hwfUseRTS = 2, hwfRequireDSR = 4, hwfRequireCTS = 8 };
using THWFlowOptions = uint8_t;  // a set of THWFlowOption bits
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };
enum TLinkState { lsClosed, lsClosing, lsOpen };

class TApdBaseComponent {
 public:
  virtual ~TApdBaseComponent() = default;
  std::string Version() const { return "4.06"; }
};

class TApdCustomComPort : public TApdBaseComponent {
 public:
  using TNotifyEvent = std::function<void(TApdCustomComPort& CP)>;
  using TTriggerEvent =
      std::function<void(TApdCustomComPort& CP, uint16_t Msg, uint16_t TriggerHandle, uint16_t Data)>;
  using TTriggerAvailEvent = std::function<void(TApdCustomComPort& CP, uint16_t Count)>;
  using TTriggerHandleEvent = std::function<void(TApdCustomComPort& CP, uint16_t TriggerHandle)>;
  using TTriggerLineErrorEvent =
      std::function<void(TApdCustomComPort& CP, uint16_t Error, bool LineBreak)>;

  static constexpr uint32_t kMaxTraceSize = 4'000'000;
  static constexpr uint32_t kMaxLogSize = 16'000'000;

  TApdCustomComPort();
  ~TApdCustomComPort() override;
  TApdCustomComPort(const TApdCustomComPort&) = delete;
  TApdCustomComPort& operator=(const TApdCustomComPort&) = delete;

  // ---- published properties, in their published order ----
  TDeviceLayer DeviceLayer() const { return deviceLayer_; }
  void SetDeviceLayer(TDeviceLayer layer) { deviceLayer_ = layer; }
  uint16_t ComNumber() const { return comNumber_; }
  void SetComNumber(uint16_t n);
  int32_t Baud() const { return baud_; }
  void SetBaud(int32_t baud);
  bool PromptForPort() const { return promptForPort_; }
  void SetPromptForPort(bool prompt) { promptForPort_ = prompt; }
  TParity Parity() const { return parity_; }
  void SetParity(TParity parity);
  uint16_t DataBits() const { return dataBits_; }
  void SetDataBits(uint16_t bits);
  uint16_t StopBits() const { return stopBits_; }
  void SetStopBits(uint16_t bits);
  uint16_t InSize() const { return inSize_; }
  void SetInSize(uint16_t size);
  uint16_t OutSize() const { return outSize_; }
  void SetOutSize(uint16_t size);
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool autoOpen) { autoOpen_ = autoOpen; }
  bool Open() const { return open_; }
  void SetOpen(bool open);
  THWFlowOptions HWFlowOptions() const { return hwFlow_; }
  void SetHWFlowOptions(THWFlowOptions options);
  TSWFlowOptions SWFlowOptions() const { return swFlow_; }
  void SetSWFlowOptions(TSWFlowOptions options);
  char XOnChar() const { return xOnChar_; }
  void SetXOnChar(char c);
  char XOffChar() const { return xOffChar_; }
  void SetXOffChar(char c);
  uint16_t BufferFull() const { return bufferFull_; }
  void SetBufferFull(uint16_t n);
  uint16_t BufferResume() const { return bufferResume_; }
  void SetBufferResume(uint16_t n);
  TTraceLogState Tracing() const { return tracing_; }
  void SetTracing(TTraceLogState state);
  uint32_t TraceSize() const { return traceSize_; }
  void SetTraceSize(uint32_t size);
  const std::string& TraceName() const { return traceName_; }
  void SetTraceName(std::string name);
  bool TraceHex() const { return traceHex_; }
  void SetTraceHex(bool hex) { traceHex_ = hex; }
  bool TraceAllHex() const { return traceAllHex_; }
  void SetTraceAllHex(bool hex) { traceAllHex_ = hex; }
  TTraceLogState Logging() const { return logging_; }
  void SetLogging(TTraceLogState state);
  uint32_t LogSize() const { return logSize_; }
  void SetLogSize(uint32_t size);
  const std::string& LogName() const { return logName_; }
  void SetLogName(std::string name);
  bool LogHex() const { return logHex_; }
  void SetLogHex(bool hex) { logHex_ = hex; }
  bool LogAllHex() const { return logAllHex_; }
  void SetLogAllHex(bool hex) { logAllHex_ = hex; }
  bool UseMSRShadow() const { return useMSRShadow_; }
  void SetUseMSRShadow(bool use) { useMSRShadow_ = use; }
  bool UseEventWord() const { return useEventWord_; }
  void SetUseEventWord(bool use);
  uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
  void SetCommNotificationLevel(uint16_t level) { commNotificationLevel_ = level; }
  TTapiMode TapiMode() const { return tapiMode_; }
  void SetTapiMode(TTapiMode mode) { tapiMode_ = mode; }
  bool RS485Mode() const { return rs485Mode_; }
  void SetRS485Mode(bool on);

  void SetOnPortClose(TNotifyEvent e) { onPortClose_ = std::move(e); }
  void SetOnPortOpen(TNotifyEvent e) { onPortOpen_ = std::move(e); }
  void SetOnTrigger(TTriggerEvent e);
  // nullptr clears it.
  void SetOnTriggerAvail(TTriggerAvailEvent e);
  void SetOnTriggerData(TTriggerHandleEvent e);
  void SetOnTriggerStatus(TTriggerHandleEvent e);
  void SetOnTriggerTimer(TTriggerHandleEvent e);
  void SetOnTriggerLineError(TTriggerLineErrorEvent e);
  void SetOnTriggerModemStatus(TNotifyEvent e);
  void SetOnTriggerOutbuffFree(TNotifyEvent e);
  void SetOnTriggerOutbuffUsed(TNotifyEvent e);
  void SetOnTriggerOutSent(TNotifyEvent e);

  // ---- further state ----
  bool DTR() const { return dtr_; }
  void SetDTR(bool high);
  bool RTS() const { return rts_; }
  void SetRTS(bool high);
  uint32_t AvailThreshold() const { return availThreshold_; }
  void SetAvailThreshold(uint32_t count);
  TLinkState LinkState() const { return linkState_; }
  // The dispatcher while the port is open (or its close is completing).
  TApdBaseDispatcher* Dispatcher() const { return dispatcher_.get(); }

  // Loading from a form file: codes are not raised, a stored Open is only
  // remembered; Loaded() ends loading and opens the port if Open was set.
  void BeginLoading() { loading_ = true; }
  void Loaded();

  // ---- operations ----
  // The next received byte; 0 and nothing else while the close completes.
  uint8_t ReadChar();
  // Queues the bytes for sending; nothing while the close completes.
  void WriteString(const std::string& s);

  // The device path the port number stands for.
  std::string DevicePath() const;

 private:
  friend class TApdNotifyWindow;
  static void NotifyProcedure(uint16_t code, uint32_t second, uint32_t third);

  int32_t Check(int32_t code) const;
  TApdBaseDispatcher* ValidDispatcher();
  bool Applies() const { return forceApply_; }
  bool AnyTriggerEvent() const;
  void TriggerEventsChanged();
  void DoOpen();
  // Undoes a DoOpen that failed part-way: no dispatcher, port closed.
  void AbandonOpen();
  void DoClose();
  void FinishClose();
  void OnClosingMessage();
  void ChoosePort();
  void SetRecorderSwitch(bool trace, TTraceLogState value);
  void ApplyRecorderState(bool trace, TTraceLogState value);
  void ReapplyFlowOptions();
  void Deliver(uint16_t code, uint32_t second, uint32_t third);

  TDeviceLayer deviceLayer_ = dlWin32;
  uint16_t comNumber_ = 0;
  int32_t baud_ = 19200;
  bool promptForPort_ = true;
  TParity parity_ = pNone;
  uint16_t dataBits_ = 8;
  uint16_t stopBits_ = 1;
  uint16_t inSize_ = 4096;
  uint16_t outSize_ = 4096;
  bool autoOpen_ = true;
  bool open_ = false;
  THWFlowOptions hwFlow_ = 0;
  TSWFlowOptions swFlow_ = swfNone;
  char xOnChar_ = 17;
  char xOffChar_ = 19;
  uint16_t bufferFull_ = 0;
  uint16_t bufferResume_ = 0;
  TTraceLogState tracing_ = tlOff;
  uint32_t traceSize_ = 10000;
  std::string traceName_ = "SERIAL.TRC";
  bool traceHex_ = true;
  bool traceAllHex_ = false;
  TTraceLogState logging_ = tlOff;
  uint32_t logSize_ = 10000;
  std::string logName_ = "SERIAL.LOG";
  bool logHex_ = true;
  bool logAllHex_ = false;
  bool useMSRShadow_ = true;
  bool useEventWord_ = true;
  uint16_t commNotificationLevel_ = 10;
  TTapiMode tapiMode_ = tmAuto;
  bool rs485Mode_ = false;

  TNotifyEvent onPortClose_, onPortOpen_;
  TTriggerEvent onTrigger_;
  TTriggerAvailEvent onTriggerAvail_;
  TTriggerHandleEvent onTriggerData_, onTriggerStatus_, onTriggerTimer_;
  TTriggerLineErrorEvent onTriggerLineError_;
  TNotifyEvent onTriggerModemStatus_, onTriggerOutbuffFree_, onTriggerOutbuffUsed_,
      onTriggerOutSent_;

  bool dtr_ = true;
  bool rts_ = true;
  uint32_t availThreshold_ = 1;
  int threadBoost_ = 0;
  TLinkState linkState_ = lsClosed;
  std::unique_ptr<TApdBaseDispatcher> dispatcher_;
  TApdNotifyWindow::Owner notifyWindow_;
  TSavedTriggers savedTriggers_;
  bool restoreTriggers_ = false;
  bool reopenPending_ = false;
  bool forceApply_ = false;
  bool loading_ = false;
  bool openWhenLoaded_ = false;
};

class TApdComPort : public TApdCustomComPort {
 public:
  using TApdCustomComPort::TApdCustomComPort;
};
