#include "serial/AdPort.h"

#include <QCoreApplication>
#include <QDialog>
#include <QTimer>

#include <exception>
#include <iostream>

#include "uikit/ErrorReporting.h"
#include "uikit/ScreenCursor.h"
#include "serial/AdExcept.h"
#include "serial/AdNotify.h"
#include "serial/AdSelCom.h"
#include "serial/AwPosix.h"
#include "serial/AwThreads.h"
#include "serial/PortMap.h"

namespace {

// A worker's escaped exception is shown on the user-interface thread.
void InstallWorkerExceptionDisplay() {
  static const bool installed = [] {
    SetWorkerExceptionHandler([](const std::exception& e) {
      const QString message = QString::fromLocal8Bit(e.what());
      if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, [message] { ShowStandardError(message); }, Qt::QueuedConnection);
      } else {
        std::cerr << message.toStdString() << '\n';
      }
    });
    return true;
  }();
  (void)installed;
}

void PumpMessages() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace

TApdCustomComPort::TApdCustomComPort() { InstallWorkerExceptionDisplay(); }

TApdCustomComPort::~TApdCustomComPort() {
  try {
    if (linkState_ == lsOpen) DoClose();
  } catch (const std::exception& e) {
    // No one is left to tell but the log: the port still closes.
    std::cerr << "closing the serial port: " << e.what() << '\n';
  }
  if (dispatcher_) {
    // A close requested inside a handler is still completing.
    if (notifyWindow_) dispatcher_->RemoveWindowHandler(notifyWindow_.get());
    dispatcher_.reset();
  }
  notifyWindow_.reset();  // freed once no handler runs in it
}

int32_t TApdCustomComPort::Check(int32_t code) const { return CheckResult(code, loading_); }

std::string TApdCustomComPort::DevicePath() const { return PortDevicePath(comNumber_); }

// ---- opening and closing ----------------------------------------------------

void TApdCustomComPort::SetOpen(bool open) {
  if (open == open_) return;
  if (loading_) {
    open_ = open;
    openWhenLoaded_ = open;
    return;
  }
  if (!open) {
    DoClose();
  } else if (linkState_ == lsClosed) {
    DoOpen();
  } else {
    reopenPending_ = true;
  }
}

void TApdCustomComPort::Loaded() {
  loading_ = false;
  if (!openWhenLoaded_) return;
  openWhenLoaded_ = false;
  open_ = false;
  try {
    SetOpen(true);
  } catch (const std::exception& e) {
    ShowStandardException(e);
  }
}

void TApdCustomComPort::ChoosePort() {
  TComSelectForm form;
  if (ExecModal(form) != QDialog::Accepted || form.SelectedComNumber() == 0) {
    throw ENoPortSelected();
  }
  comNumber_ = static_cast<uint16_t>(form.SelectedComNumber());
}

void TApdCustomComPort::DoOpen() {
  if (tapiMode_ != tmOn && comNumber_ == 0) {
    if (!promptForPort_) throw ENoPortSelected();
    ChoosePort();
  }
  try {
    // Only the operating system's serial ports exist here (no telephony or
    // socket layer).
    if (deviceLayer_ != dlWin32 || tapiMode_ == tmOn) throw ENullApi();
    dispatcher_ = std::make_unique<TApdPosixDispatcher>(this);
    dispatcher_->SetComName("COM" + std::to_string(comNumber_));
    dispatcher_->SetPumpHook(PumpMessages);
    const std::string path = DevicePath();
    const uint8_t flags = static_cast<uint8_t>(
        (dtr_ ? lineflag::DtrLevel : 0) | (rts_ ? lineflag::RtsLevel : 0) |
        ((hwFlow_ & hwfUseDTR) ? lineflag::DtrHandshake : 0) |
        ((hwFlow_ & hwfUseRTS) ? lineflag::RtsHandshake : 0));
    int rc = dispatcher_->OpenDevice(path, static_cast<uint32_t>(baud_), flags, outSize_, inSize_,
                                     stopBits_, dataBits_, static_cast<uint8_t>(parity_));
    if (rc == -5) rc = ecode::AlreadyOpen;
    if (rc == -2 || rc == -3) rc = ecode::BadId;
    if (rc == ecode::PermissionDenied) throw EPermissionDenied(path);
    Check(rc);
    linkState_ = lsOpen;
    dispatcher_->UpdateNotifyFlags(AnyTriggerEvent() ? 1 : 2);
    forceApply_ = true;
    SetTracing(tracing_);
    SetLogging(logging_);
    SetHWFlowOptions(hwFlow_);
    SetSWFlowOptions(swFlow_);
    SetXOnChar(xOnChar_);
    SetXOffChar(xOffChar_);
    SetAvailThreshold(availThreshold_);
    SetDTR(dtr_);
    SetRTS(rts_);
    SetUseEventWord(useEventWord_);
    SetRS485Mode(rs485Mode_);
    forceApply_ = false;
    open_ = true;
    notifyWindow_.reset(new TApdNotifyWindow(&TApdCustomComPort::NotifyProcedure));
    dispatcher_->AddWindowHandler(notifyWindow_.get());
    if (restoreTriggers_) dispatcher_->RestoreTriggers(savedTriggers_);
    // Part of the open: a port whose open handler failed is not open.
    if (onPortOpen_) onPortOpen_(*this);
  } catch (...) {
    AbandonOpen();
    throw;
  }
  // Only now: a failed open leaves the saved triggers for the next one.
  if (linkState_ == lsOpen) restoreTriggers_ = false;
}

void TApdCustomComPort::AbandonOpen() {
  forceApply_ = false;
  open_ = false;
  // Set first: a delivery that runs while the dispatcher stops finds the
  // port closed and drops its bytes.
  linkState_ = lsClosed;
  if (dispatcher_ && notifyWindow_) dispatcher_->RemoveWindowHandler(notifyWindow_.get());
  dispatcher_.reset();
  notifyWindow_.reset();
}

void TApdCustomComPort::DoClose() {
  if (linkState_ != lsOpen) return;
  // The close completes even when a file cannot be written; the first
  // such error is raised at the end.
  std::exception_ptr dumpError;
  try {
    SetTracing(tlDump);
  } catch (...) {
    dumpError = std::current_exception();
  }
  try {
    SetLogging(tlDump);
  } catch (...) {
    if (!dumpError) dumpError = std::current_exception();
  }
  linkState_ = lsClosing;
  dispatcher_->SaveTriggers(savedTriggers_);
  restoreTriggers_ = true;
  dispatcher_->CloseDevice();
  if (dispatcher_->ClosePending()) {
    // Closed from inside a handler: the dispatcher thread finishes the
    // delivery first; the endpoint completes the close after it.
    notifyWindow_->Post(PortClosingMsg, 0, static_cast<uint32_t>(dispatcher_->Handle()) << 16);
  } else {
    FinishClose();
  }
  if (onPortClose_) onPortClose_(*this);
  if (dumpError) std::rethrow_exception(dumpError);
}

void TApdCustomComPort::FinishClose() {
  if (dispatcher_ && notifyWindow_) dispatcher_->RemoveWindowHandler(notifyWindow_.get());
  dispatcher_.reset();  // waits for the workers, letting pending deliveries run
  // A handler that closed the port may still be running in the endpoint
  // (even a modal loop); it is freed when that handler returns.
  notifyWindow_.reset();
  linkState_ = lsClosed;
  open_ = false;
}

void TApdCustomComPort::OnClosingMessage() {
  if (!dispatcher_ || linkState_ != lsClosing) return;
  if (dispatcher_->DispatcherActive()) {
    TApdNotifyWindow* window = notifyWindow_.get();
    const uint32_t third = static_cast<uint32_t>(dispatcher_->Handle()) << 16;
    // Ask again shortly rather than spin the event loop.
    QTimer::singleShot(2, window, [window, third] { window->Post(PortClosingMsg, 0, third); });
    return;
  }
  FinishClose();
  if (reopenPending_) {
    reopenPending_ = false;
    DoOpen();
  }
}

TApdBaseDispatcher* TApdCustomComPort::ValidDispatcher() {
  if (!dispatcher_ && !loading_ && linkState_ != lsOpen && autoOpen_) SetOpen(true);
  return dispatcher_.get();
}

void TApdCustomComPort::SetComNumber(uint16_t n) {
  if (n == comNumber_) return;
  const bool wasOpen = linkState_ == lsOpen;
  const TTraceLogState tracing = tracing_;
  const TTraceLogState logging = logging_;
  if (wasOpen) {
    try {
      SetOpen(false);
    } catch (...) {
      comNumber_ = n;
      tracing_ = tracing;
      logging_ = logging;
      throw;
    }
  }
  comNumber_ = n;
  if (!wasOpen) return;
  // Stored only: the port is closed (or its close is completing).
  tracing_ = tracing > tlOn ? tlOff : tracing;
  logging_ = logging > tlOn ? tlOff : logging;
  SetOpen(true);
  if (dispatcher_ && linkState_ == lsOpen) dispatcher_->RestoreTriggers(savedTriggers_);
}

// ---- reading and writing ----------------------------------------------------

uint8_t TApdCustomComPort::ReadChar() {
  if (linkState_ == lsClosing) return 0;
  TApdBaseDispatcher* d = ValidDispatcher();
  if (!d) throw ECommNotOpen();
  uint8_t byte = 0;
  Check(d->ReadByte(byte));
  return byte;
}

void TApdCustomComPort::WriteString(const std::string& s) {
  if (linkState_ == lsClosing) return;
  TApdBaseDispatcher* d = ValidDispatcher();
  if (!d) throw ECommNotOpen();
  Check(d->WriteBlock(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

// ---- notifications ----------------------------------------------------------

void TApdCustomComPort::NotifyProcedure(uint16_t code, uint32_t second, uint32_t third) {
  // Held while the handler runs, so no dispatcher is destroyed under it.
  std::lock_guard registry(PortRegistryLock());
  TApdBaseDispatcher* d = PortRegistryEntry(third >> 16);
  if (!d || !d->Owner()) return;
  d->Owner()->Deliver(code, second, third);
}

void TApdCustomComPort::Deliver(uint16_t code, uint32_t second, uint32_t third) {
  if (code == PortClosingMsg) {
    OnClosingMessage();
    return;
  }
  // A delivery that reaches a closing port would hand its handler bytes that
  // the close already discarded (ReadChar gives 0 then): drop it.
  if (linkState_ != lsOpen) return;
  const auto trigger = static_cast<uint16_t>(third & 0xFFFF);
  const auto value = static_cast<uint16_t>(second);
  // Copies: a handler may replace itself while it runs.
  if (auto h = onTrigger_) h(*this, code, trigger, value);
  switch (code) {
    case TriggerAvailMsg:
      if (auto h = onTriggerAvail_) h(*this, value);
      break;
    case TriggerDataMsg:
      if (auto h = onTriggerData_) h(*this, value);
      break;
    case TriggerTimerMsg:
      if (auto h = onTriggerTimer_) h(*this, value);
      break;
    case TriggerStatusMsg: {
      if (auto h = onTriggerStatus_) h(*this, value);
      switch (value & 7) {
        case stModem:
          if (auto h = onTriggerModemStatus_) h(*this);
          break;
        case stLine:
          if (auto h = onTriggerLineError_) {
            const uint8_t errors = dispatcher_ ? dispatcher_->LineErrors() : 0;
            h(*this, errors, (errors & 16) != 0);
          }
          break;
        case stOutBuffFree:
          if (auto h = onTriggerOutbuffFree_) h(*this);
          break;
        case stOutBuffUsed:
          if (auto h = onTriggerOutbuffUsed_) h(*this);
          break;
        case stOutSent:
          if (auto h = onTriggerOutSent_) h(*this);
          break;
        default:
          break;
      }
      break;
    }
    default:
      break;
  }
}

bool TApdCustomComPort::AnyTriggerEvent() const {
  return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ ||
         onTriggerLineError_ || onTriggerModemStatus_ || onTriggerOutbuffFree_ ||
         onTriggerOutbuffUsed_ || onTriggerOutSent_;
}

void TApdCustomComPort::TriggerEventsChanged() {
  if (linkState_ == lsOpen && dispatcher_) dispatcher_->UpdateNotifyFlags(AnyTriggerEvent() ? 1 : 2);
}

void TApdCustomComPort::SetOnTrigger(TTriggerEvent e) {
  onTrigger_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent e) {
  onTriggerAvail_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerData(TTriggerHandleEvent e) {
  onTriggerData_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerStatus(TTriggerHandleEvent e) {
  onTriggerStatus_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerTimer(TTriggerHandleEvent e) {
  onTriggerTimer_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent e) {
  onTriggerLineError_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerModemStatus(TNotifyEvent e) {
  onTriggerModemStatus_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent e) {
  onTriggerOutbuffFree_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent e) {
  onTriggerOutbuffUsed_ = std::move(e);
  TriggerEventsChanged();
}
void TApdCustomComPort::SetOnTriggerOutSent(TNotifyEvent e) {
  onTriggerOutSent_ = std::move(e);
  TriggerEventsChanged();
}
