// TApdCustomComPort, second half: the setters of the line, buffer, flow
// control and trace and log properties (AdPort.cpp opens, closes and
// delivers).
#include <algorithm>

#include "serial/AdExcept.h"
#include "serial/AdPort.h"

namespace {
uint16_t Fraction(uint16_t size, double part) { return static_cast<uint16_t>(size * part); }
}  // namespace

// ---- line and buffer settings -------------------------------------------------

#define CFW_LINE_SETTER(Setter, Type, field)                                              \
  void TApdCustomComPort::Setter(Type value) {                                            \
    if (value == field) return;                                                           \
    field = value;                                                                        \
    if (linkState_ == lsOpen && dispatcher_) {                                            \
      Check(dispatcher_->ApplyLineSettings(static_cast<uint32_t>(baud_),                  \
                                           static_cast<uint8_t>(parity_), stopBits_,      \
                                           dataBits_));                                   \
    }                                                                                     \
  }
CFW_LINE_SETTER(SetBaud, int32_t, baud_)
CFW_LINE_SETTER(SetParity, TParity, parity_)
CFW_LINE_SETTER(SetDataBits, uint16_t, dataBits_)
CFW_LINE_SETTER(SetStopBits, uint16_t, stopBits_)
#undef CFW_LINE_SETTER

void TApdCustomComPort::SetInSize(uint16_t size) {
  if (size == inSize_) return;
  inSize_ = size;
  // The driver keeps its own queues; the rings keep their size until reopened.
  if (linkState_ == lsOpen && dispatcher_) dispatcher_->SetQueueSizes(inSize_, outSize_);
}

void TApdCustomComPort::SetOutSize(uint16_t size) {
  if (size == outSize_) return;
  outSize_ = size;
  if (linkState_ == lsOpen && dispatcher_) dispatcher_->SetQueueSizes(inSize_, outSize_);
}

// ---- flow control ---------------------------------------------------------------

void TApdCustomComPort::SetHWFlowOptions(THWFlowOptions options) {
  if (options == hwFlow_ && !forceApply_) return;
  if (options != 0) {
    if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = Fraction(inSize_, 0.9);
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = Fraction(inSize_, 0.1);
  }
  if (linkState_ == lsOpen && dispatcher_) {
    Check(dispatcher_->SetHardwareFlow(bufferFull_, bufferResume_, options));
  }
  hwFlow_ = options;
  if (options & (hwfUseRTS | hwfRequireCTS)) rs485Mode_ = false;
}

void TApdCustomComPort::SetSWFlowOptions(TSWFlowOptions options) {
  if (options == swFlow_ && !forceApply_) return;
  uint32_t dispatcherOptions = 0;
  switch (options) {
    case swfReceive: dispatcherOptions = 2; break;
    case swfTransmit: dispatcherOptions = 1; break;
    case swfBoth: dispatcherOptions = 3; break;
    default: break;
  }
  if (options != swfNone) {
    if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = Fraction(inSize_, 0.75);
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = Fraction(inSize_, 0.25);
  }
  if (linkState_ == lsOpen && dispatcher_) {
    Check(options == swfNone
              ? dispatcher_->ClearSoftwareFlow()
              : dispatcher_->SetSoftwareFlow(bufferFull_, bufferResume_, dispatcherOptions));
  }
  swFlow_ = options;
}

void TApdCustomComPort::SetBufferFull(uint16_t n) {
  bufferFull_ = n > inSize_ ? Fraction(inSize_, 0.9) : n;
  ReapplyFlowOptions();
}

void TApdCustomComPort::SetBufferResume(uint16_t n) {
  bufferResume_ = n > bufferFull_ ? Fraction(bufferFull_, 0.1) : n;
  ReapplyFlowOptions();
}

void TApdCustomComPort::ReapplyFlowOptions() {
  // The options are unchanged, so their setters must be made to apply them
  // with the new thresholds.
  const bool force = forceApply_;
  forceApply_ = true;
  try {
    SetHWFlowOptions(hwFlow_);
    SetSWFlowOptions(swFlow_);
  } catch (...) {
    forceApply_ = force;
    throw;
  }
  forceApply_ = force;
}

void TApdCustomComPort::SetXOnChar(char c) {
  if (c == xOnChar_ && !forceApply_) return;
  xOnChar_ = c;
  if (linkState_ == lsOpen && dispatcher_) {
    Check(dispatcher_->SetFlowChars(static_cast<uint8_t>(xOnChar_), static_cast<uint8_t>(xOffChar_)));
  }
}

void TApdCustomComPort::SetXOffChar(char c) {
  if (c == xOffChar_ && !forceApply_) return;
  xOffChar_ = c;
  if (linkState_ == lsOpen && dispatcher_) {
    Check(dispatcher_->SetFlowChars(static_cast<uint8_t>(xOnChar_), static_cast<uint8_t>(xOffChar_)));
  }
}

void TApdCustomComPort::SetDTR(bool high) {
  if (high == dtr_ && !forceApply_) return;
  dtr_ = high;
  if (linkState_ == lsOpen && dispatcher_) Check(dispatcher_->SetDTRLevel(high));
}

void TApdCustomComPort::SetRTS(bool high) {
  if (high == rts_ && !forceApply_) return;
  rts_ = high;
  if (linkState_ == lsOpen && dispatcher_) Check(dispatcher_->SetRTSLevel(high));
}

void TApdCustomComPort::SetAvailThreshold(uint32_t count) {
  if (count == availThreshold_ && !forceApply_) return;
  availThreshold_ = count;
  if (linkState_ == lsOpen && dispatcher_) dispatcher_->SetAvailThreshold(count);
}

void TApdCustomComPort::SetUseEventWord(bool use) {
  // An option bit of the other platform's driver interface; nothing reads it.
  useEventWord_ = use;
}

void TApdCustomComPort::SetRS485Mode(bool on) { rs485Mode_ = on; }

// ---- trace and dispatch log ---------------------------------------------------

void TApdCustomComPort::SetTracing(TTraceLogState state) { SetRecorderSwitch(true, state); }

void TApdCustomComPort::SetLogging(TTraceLogState state) { SetRecorderSwitch(false, state); }

void TApdCustomComPort::SetRecorderSwitch(bool trace, TTraceLogState value) {
  TTraceLogState& state = trace ? tracing_ : logging_;
  if (value == state && !forceApply_) return;
  if (linkState_ == lsClosing) return;
  if (linkState_ != lsOpen || !dispatcher_) {
    state = value > tlOn ? tlOff : value;  // a closed port only keeps on or off
    return;
  }
  ApplyRecorderState(trace, value);
}

void TApdCustomComPort::ApplyRecorderState(bool trace, TTraceLogState value) {
  TApdBaseDispatcher& d = *dispatcher_;
  TTraceLogState& state = trace ? tracing_ : logging_;
  const bool active = state == tlOn || state == tlPause;
  switch (value) {
    case tlOff:
      if (active) {
        trace ? d.StopTracing() : d.StopLogging();
        state = tlOff;
      }
      break;
    case tlOn:
      if (state == tlPause) {
        trace ? d.ResumeTracing() : d.ResumeLogging();
      } else {
        Check(trace ? d.StartTracing(traceSize_) : d.StartLogging(logSize_));
      }
      state = tlOn;
      break;
    case tlDump:
    case tlAppend:
      if (active) {
        const bool append = value == tlAppend;
        state = tlOff;
        int rc;
        if (trace) {
          d.ResumeTracing();
          rc = d.DumpTrace(traceName_, append, traceAllHex_, traceHex_);
          d.StopTracing();
        } else {
          d.ResumeLogging();
          rc = d.DumpLog(logName_, append, logAllHex_, logHex_);
          d.StopLogging();
        }
        Check(rc);
      }
      break;
    case tlClear:
      if (active) trace ? d.ClearTracing() : d.ClearLogging();
      break;
    case tlPause:
      if (state == tlOn) {
        trace ? d.PauseTracing() : d.PauseLogging();
        state = tlPause;
      }
      break;
  }
}

void TApdCustomComPort::SetTraceSize(uint32_t size) {
  size = std::min(size, kMaxTraceSize);
  if (size == traceSize_) return;
  traceSize_ = size;
  if (linkState_ == lsOpen && dispatcher_ && (tracing_ == tlOn || tracing_ == tlPause)) {
    dispatcher_->StopTracing();
    Check(dispatcher_->StartTracing(traceSize_));
    if (tracing_ == tlPause) dispatcher_->PauseTracing();
  }
}

void TApdCustomComPort::SetLogSize(uint32_t size) {
  size = std::min(size, kMaxLogSize);
  if (size == logSize_) return;
  logSize_ = size;
  if (linkState_ == lsOpen && dispatcher_ && (logging_ == tlOn || logging_ == tlPause)) {
    dispatcher_->StopLogging();
    Check(dispatcher_->StartLogging(logSize_));
    if (logging_ == tlPause) dispatcher_->PauseLogging();
  }
}

void TApdCustomComPort::SetTraceName(std::string name) {
  if (name.size() > 255) name.resize(255);
  traceName_ = std::move(name);
}

void TApdCustomComPort::SetLogName(std::string name) {
  if (name.size() > 255) name.resize(255);
  logName_ = std::move(name);
}
