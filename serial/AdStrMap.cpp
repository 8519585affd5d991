#include "serial/AdStrMap.h"

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

struct MessageEntry {
  int32_t code;  // absolute value; the table is sorted by it
  std::string_view text;
};

// Only the texts this program can show; the rest of the library's status
// texts never reach the user.
constexpr std::array kMessages{
    MessageEntry{2, "File not found"},
    MessageEntry{3, "Path not found"},
    MessageEntry{4, "Too many open files"},
    MessageEntry{5, "File access denied"},
    MessageEntry{6, "Invalid file handle"},
    MessageEntry{8, "Insufficient memory"},
    MessageEntry{15, "Invalid drive"},
    MessageEntry{18, "No more files"},
    MessageEntry{100, "Attempt to read beyond end of file"},
    MessageEntry{101, "Disk is full"},
    MessageEntry{102, "File/device not assigned"},
    MessageEntry{103, "File/device not open"},
    MessageEntry{104, "File/device not open for input"},
    MessageEntry{105, "File/device not open for output"},
    MessageEntry{150, "Disk is write-protected"},
    MessageEntry{151, "Unknown disk unit"},
    MessageEntry{152, "Drive is not ready"},
    MessageEntry{153, "Unknown command"},
    MessageEntry{154, "Data error"},
    MessageEntry{155, "Bad request structure length"},
    MessageEntry{156, "Seek error"},
    MessageEntry{157, "Unknown media type"},
    MessageEntry{158, "Disk sector not found"},
    MessageEntry{159, "Printer is out of paper"},
    MessageEntry{160, "Device write error"},
    MessageEntry{161, "Device read error"},
    MessageEntry{162, "General failure"},
    MessageEntry{1001, "Bad handle passed to com function"},
    MessageEntry{1002, "Bad argument passed to function"},
    MessageEntry{1003, "Got quit message"},
    MessageEntry{1004, "Terminal buffer greater than 65521"},
    MessageEntry{1005, "ComPort component not assigned"},
    MessageEntry{1006, "Internal error creating window class"},
    MessageEntry{1007, "Modem component not assigned"},
    MessageEntry{1008, "Phonebook component not assigned"},
    MessageEntry{1009, "Component not compatible with WinSock"},
    MessageEntry{2001, "ie_BadId - Specified comport doesn't exist"},
    MessageEntry{2002, "ie_Baudrate - unsupported baud rate"},
    MessageEntry{2003, "ie_Bytesize - invalid byte size"},
    MessageEntry{2004, "ie_Default - error in default parameters"},
    MessageEntry{2005, "ie_Hardware - Specified comport in use"},
    MessageEntry{2006, "ie_Memory - unable to allocate queues"},
    MessageEntry{2007, "ie_NOpen - device not open"},
    MessageEntry{2008, "ie_Open - device already open"},
    MessageEntry{2009, "No more handles, can't open port"},
    MessageEntry{2010, "No timers available"},
    MessageEntry{2011, "The ComNumber property of the TApdComPort has not been set"},
    MessageEntry{2012, "Comport was not opened by Tapi"},
    MessageEntry{2013, "Permission denied for the serial device"},
    MessageEntry{3001, "No device layer specified"},
    MessageEntry{3002, "Function not supported by driver"},
    MessageEntry{3003, "EnableCommNotification failed"},
    MessageEntry{3004, "Failed to put entire block"},
    MessageEntry{3005, "Failed to get entire block"},
    MessageEntry{3006, "Output buffer too small for block"},
    MessageEntry{3007, "Buffer is empty"},
    MessageEntry{3008, "Tracing not enabled"},
    MessageEntry{3009, "Logging not enabled"},
    MessageEntry{3010, "Base address not set"},
    MessageEntry{5001, "No more trigger slots"},
    MessageEntry{5002, "Data trigger too long"},
    MessageEntry{5003, "Bad trigger handle"},
};

constexpr bool SortedByCode() {
  for (size_t i = 1; i < kMessages.size(); ++i) {
    if (kMessages[i - 1].code >= kMessages[i].code) return false;
  }
  return true;
}
static_assert(SortedByCode(), "the bisection needs the table sorted by code");

constexpr size_t kMaxText = 255;

const MessageEntry* FindEntry(int32_t absCode) {
  // Bisection whose middle is the rounded mean of the range ends.
  long lo = 0;
  long hi = static_cast<long>(kMessages.size()) - 1;
  while (lo <= hi) {
    const long mid = (lo + hi + 1) / 2;
    const int32_t c = kMessages[static_cast<size_t>(mid)].code;
    if (c == absCode) return &kMessages[static_cast<size_t>(mid)];
    if (c < absCode) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return nullptr;
}

}  // namespace

std::string SystemErrorText(int errorNumber) {
  char buffer[512];
  // GNU strerror_r returns the text, which may or may not live in buffer.
  const char* raw = strerror_r(errorNumber, buffer, sizeof buffer);
  std::string text = raw ? raw : "";
  if (text.rfind("Unknown error", 0) == 0) return {};
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
  for (size_t pos; (pos = text.find("  ")) != std::string::npos;) text.erase(pos, 1);
  if (text.size() > kMaxText) text.resize(kMaxText);
  return text;
}

std::string MessageLookup(int32_t code) {
  int64_t wide = code;
  if (wide < 0) wide = -wide;
  const auto absCode = static_cast<int32_t>(wide > INT32_MAX ? INT32_MAX : wide);
  if (const MessageEntry* e = FindEntry(absCode)) return std::string(e->text);
  return SystemErrorText(absCode);
}
