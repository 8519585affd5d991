#include "serial/AdExcept.h"

#include "serial/AdStrMap.h"

EAPDException::EAPDException(int32_t code)
    : std::runtime_error(MessageLookup(code)), resultCode_(code) {}

EAPDException::EAPDException(const std::string& text)
    : std::runtime_error(text), resultCode_(0) {}

EAPDException::EAPDException(int32_t code, const std::string& text)
    : std::runtime_error(text), resultCode_(code) {}

EPermissionDenied::EPermissionDenied(const std::string& devicePath)
    : EOpenComm(kCode, "Permission denied for the serial device " + devicePath) {}

namespace {

bool InRange(int32_t code, int32_t from, int32_t to) { return code <= from && code >= to; }

[[noreturn]] void RaiseOtherFamily(int32_t code) {
  if (code == -7003 || code == -7006 || code == -7012) throw EInternal(code);
  if (InRange(code, -4001, -4008)) throw EModem(code);
  if (code == -6006 || code == -6008 || code == -6009) throw EProtocol(code);
  if (InRange(code, -7001, -7014)) throw EINI(code);
  if (InRange(code, -8001, -8070)) throw EFax(code);
  if (InRange(code, -13801, -13942)) throw ETapi(code);
  if (code == -13980) throw ERas(code);
  if (InRange(code, -2, -162)) {
    if (code == ecode::OutOfMemory) throw EOutOfMemory();
    throw EInOutError(MessageLookup(code), -code);
  }
  throw EAPDException(std::string("Serix exception"));
}

}  // namespace

void RaiseResultCode(int32_t code) {
  switch (code) {
#define CFW_RAISE(Name) \
  case Name::kCode:     \
    throw Name();
    CFW_RAISE(EBadArgument)
    CFW_RAISE(EGotQuitMsg)
    CFW_RAISE(EBufferTooBig)
    CFW_RAISE(EPortNotAssigned)
    CFW_RAISE(EInternal)
    CFW_RAISE(EModemNotAssigned)
    CFW_RAISE(EPhonebookNotAssigned)
    CFW_RAISE(ECannotUseWithWinSock)
    CFW_RAISE(EBadId)
    CFW_RAISE(EBaudRate)
    CFW_RAISE(EByteSize)
    CFW_RAISE(EDefault)
    CFW_RAISE(EHardware)
    CFW_RAISE(EMemory)
    CFW_RAISE(ECommNotOpen)
    CFW_RAISE(EAlreadyOpen)
    CFW_RAISE(ENoHandles)
    CFW_RAISE(ENoTimers)
    CFW_RAISE(ENoPortSelected)
    CFW_RAISE(ENotOpenedByTapi)
    CFW_RAISE(EPermissionDenied)
    CFW_RAISE(ENullApi)
    CFW_RAISE(ERegisterHandlerFailed)
    CFW_RAISE(EPutBlockFail)
    CFW_RAISE(EGetBlockFail)
    CFW_RAISE(EOutputBufferTooSmall)
    CFW_RAISE(EBufferIsEmpty)
    CFW_RAISE(ETracingNotEnabled)
    CFW_RAISE(ELoggingNotEnabled)
    CFW_RAISE(EBaseAddressNotSet)
    CFW_RAISE(ENoMoreTriggers)
    CFW_RAISE(ETriggerTooLong)
    CFW_RAISE(EBadTriggerHandle)
#undef CFW_RAISE
    default:
      RaiseOtherFamily(code);
  }
}

int32_t CheckResult(int32_t code, bool loading) {
  if (code >= 0 || loading) return code;
  RaiseResultCode(code);
}
