// Exception classes of the serial layer and the step that turns a negative
// result code into one of them.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

// Result codes the serial layer produces (0 or more is success).
namespace ecode {
constexpr int32_t OutOfMemory = -8;
constexpr int32_t BadHandle = -1001;
constexpr int32_t BadArgument = -1002;
constexpr int32_t BadId = -2001;
constexpr int32_t BaudRate = -2002;
constexpr int32_t CommNotOpen = -2007;
constexpr int32_t AlreadyOpen = -2008;
constexpr int32_t NoPortSelected = -2011;
// Linux tells "permission denied" apart from "held by another program".
constexpr int32_t PermissionDenied = -2013;
constexpr int32_t NullApi = -3001;
constexpr int32_t NotSupported = -3002;
constexpr int32_t PutBlockFail = -3004;
constexpr int32_t OutputBufferTooSmall = -3006;
constexpr int32_t BufferIsEmpty = -3007;
constexpr int32_t NoMoreTriggers = -5001;
constexpr int32_t TriggerTooLong = -5002;
constexpr int32_t BadTriggerHandle = -5003;
}  // namespace ecode

class EAPDException : public std::runtime_error {
 public:
  // Message = the message table's text for the code.
  explicit EAPDException(int32_t code);
  // ResultCode 0, message = text.
  explicit EAPDException(const std::string& text);
  int32_t ResultCode() const noexcept { return resultCode_; }

 protected:
  EAPDException(int32_t code, const std::string& text);

 private:
  int32_t resultCode_;
};

#define CFW_APD_GROUP(Name)                          \
  class Name : public EAPDException {                \
   public:                                           \
    using EAPDException::EAPDException;              \
  };
CFW_APD_GROUP(EGeneral)
CFW_APD_GROUP(EOpenComm)
CFW_APD_GROUP(ESerialIO)
CFW_APD_GROUP(EModem)
CFW_APD_GROUP(ETrigger)
CFW_APD_GROUP(EProtocol)
CFW_APD_GROUP(EINI)
CFW_APD_GROUP(EFax)
CFW_APD_GROUP(ETapi)
CFW_APD_GROUP(ERas)
#undef CFW_APD_GROUP

// A concrete class made from its own code by default.
#define CFW_APD_CLASS(Name, Group, Code)             \
  class Name : public Group {                        \
   public:                                           \
    static constexpr int32_t kCode = Code;           \
    Name() : Group(kCode) {}                         \
    explicit Name(int32_t code) : Group(code) {}     \
  };
CFW_APD_CLASS(EBadArgument, EGeneral, -1002)
CFW_APD_CLASS(EGotQuitMsg, EGeneral, -1003)
CFW_APD_CLASS(EBufferTooBig, EGeneral, -1004)
CFW_APD_CLASS(EPortNotAssigned, EGeneral, -1005)
CFW_APD_CLASS(EInternal, EGeneral, -1006)
CFW_APD_CLASS(EModemNotAssigned, EGeneral, -1007)
CFW_APD_CLASS(EPhonebookNotAssigned, EGeneral, -1008)
CFW_APD_CLASS(ECannotUseWithWinSock, EGeneral, -1009)
CFW_APD_CLASS(EBadId, EOpenComm, -2001)
CFW_APD_CLASS(EBaudRate, EOpenComm, -2002)
CFW_APD_CLASS(EByteSize, EOpenComm, -2003)
CFW_APD_CLASS(EDefault, EOpenComm, -2004)
CFW_APD_CLASS(EHardware, EOpenComm, -2005)
CFW_APD_CLASS(EMemory, EOpenComm, -2006)
CFW_APD_CLASS(ECommNotOpen, EOpenComm, -2007)
CFW_APD_CLASS(EAlreadyOpen, EOpenComm, -2008)
CFW_APD_CLASS(ENoHandles, EOpenComm, -2009)
CFW_APD_CLASS(ENoTimers, EOpenComm, -2010)
CFW_APD_CLASS(ENoPortSelected, EOpenComm, -2011)
CFW_APD_CLASS(ENotOpenedByTapi, EOpenComm, -2012)
CFW_APD_CLASS(ENullApi, ESerialIO, -3001)
CFW_APD_CLASS(ERegisterHandlerFailed, ESerialIO, -3003)
CFW_APD_CLASS(EPutBlockFail, ESerialIO, -3004)
CFW_APD_CLASS(EGetBlockFail, ESerialIO, -3005)
CFW_APD_CLASS(EOutputBufferTooSmall, ESerialIO, -3006)
CFW_APD_CLASS(EBufferIsEmpty, ESerialIO, -3007)
CFW_APD_CLASS(ETracingNotEnabled, ESerialIO, -3008)
CFW_APD_CLASS(ELoggingNotEnabled, ESerialIO, -3009)
CFW_APD_CLASS(EBaseAddressNotSet, ESerialIO, -3010)
CFW_APD_CLASS(ENoMoreTriggers, ETrigger, -5001)
CFW_APD_CLASS(ETriggerTooLong, ETrigger, -5002)
CFW_APD_CLASS(EBadTriggerHandle, ETrigger, -5003)
#undef CFW_APD_CLASS

// The device exists but this user may not open it. Made with the device's
// path so the message says which one.
class EPermissionDenied : public EOpenComm {
 public:
  static constexpr int32_t kCode = ecode::PermissionDenied;
  EPermissionDenied() : EOpenComm(kCode) {}
  explicit EPermissionDenied(const std::string& devicePath);
};

// The runtime's input/output error: operating-system and file errors.
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& text, int errorCode)
      : std::runtime_error(text), errorCode_(errorCode) {}
  int ErrorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

// The runtime's out-of-memory error.
class EOutOfMemory : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "Out of memory"; }
};

// Raises the exception that belongs to a negative code. Codes of 0 or more
// are not errors; the caller must not pass them.
[[noreturn]] void RaiseResultCode(int32_t code);

// Returns a code of 0 or more unchanged, and any code while the component
// is being loaded; raises for every other negative code.
int32_t CheckResult(int32_t code, bool loading = false);
