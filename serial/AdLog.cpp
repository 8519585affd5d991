#include "serial/AdLog.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "serial/AdTrace.h"

namespace {

// Entry type names (the message table's 15001 + type).
constexpr std::array<const char*, 21> kTypeNames = {
    "No event", "Dispatch", "Trigger", "Error",  "Thread", "TrigAllc", "TrigDisp",
    "TrgHdAlc", "TrgHdDsp", "TrDatChg", "Telnet", "Fax",   "XModem",   "YModem",
    "ZModem",   "Kermit",   "Ascii",    "BPlus",  "Packet", "User",    "Script"};

// Entry subtype names (the message table's 15100 + subtype); higher subtypes
// belong to parts of the library this system does not have.
constexpr std::array<const char*, 20> kSubtypeNames = {
    "",       "ReadCom", "WriteCom", "Line status", "Modem status", "Avail", "Timer",
    "Data",   "Status",  "Start",    "Exit",        "Sleep",        "Wake",  "Data",
    "Timer",  "Status",  "Avail",    "Window",      "Procedure",    "Method"};

// Words for the first data byte of a status trigger's "Status" entry.
constexpr std::array<const char*, 6> kStatusWords = {
    "(Not active)",         "(Modem status)", "(Line status)", "(Output buffer free)",
    "(Output buffer used)", "(Output sent)"};

// Modem-status bits from low to high.
constexpr std::array<const char*, 8> kModemBitNames = {"DCTS", "DDSR", "TERI", "DDCD",
                                                       "CTS",  "DSR",  "RI",   "DCD"};

constexpr std::uint8_t kTypeTrigAllc = 5;
constexpr std::uint8_t kTypeTrigDisp = 6;
constexpr std::uint8_t kTypeUser = 19;
constexpr std::uint8_t kSubtypeModemStatus = 4;
constexpr std::uint8_t kSubtypeStatus = 15;

template <std::size_t N>
const char* NameOf(const std::array<const char*, N>& names, std::uint8_t code) {
  return code < names.size() ? names[code] : "";
}

void StoreU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t LoadU32(const std::uint8_t* at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  return value;
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

// The milliseconds as seven digits at least, with a point before the last three
// ("0012.345"). Written as two numbers: inserting the point into a string made
// GCC 12 see an overlapping copy at -O3 that cannot happen.
std::string TimeText(std::uint32_t ms) {
  char text[24];
  std::snprintf(text, sizeof text, "%04u.%03u", static_cast<unsigned>(ms / 1000), static_cast<unsigned>(ms % 1000));
  return text;
}

std::string ModemBitsText(std::uint32_t value) {
  std::string text = "(";
  for (std::size_t bit = 0; bit < kModemBitNames.size(); ++bit) {
    if ((value & (1u << bit)) == 0) continue;
    if (text.size() > 1) text += ' ';
    text += kModemBitNames[bit];
  }
  text += ')';
  return text;
}

}  // namespace

TApdDispatchLog::TApdDispatchLog()
    : timeBase_(std::chrono::steady_clock::now()),
      steadyNow_([] { return std::chrono::steady_clock::now(); }),
      localNow_(LocalTimeNow),
      compilerText_(CompilerText()),
      operatingSystemText_(OperatingSystemText()) {}

int TApdDispatchLog::Start(std::uint32_t size) {
  if (!exists_) {
    if (size > kMaxSize) return kRecorderBadArgument;
    try {
      ring_.assign(size, 0);
    } catch (const std::bad_alloc&) {
      return kRecorderOutOfMemory;
    }
    exists_ = true;
  }
  Clear();
  recording_ = true;
  return 0;
}

void TApdDispatchLog::Stop() {
  recording_ = false;
  std::vector<std::uint8_t>().swap(ring_);  // give the memory back, not just the size
  exists_ = false;
  head_ = tail_ = free_ = 0;
}

void TApdDispatchLog::Pause() { recording_ = false; }

void TApdDispatchLog::Resume() { recording_ = exists_; }

void TApdDispatchLog::Clear() {
  head_ = tail_ = 0;
  free_ = ring_.size();
}

void TApdDispatchLog::SetClocks(SteadyNow steadyNow, LocalNow localNow) {
  steadyNow_ = std::move(steadyNow);
  localNow_ = std::move(localNow);
}

void TApdDispatchLog::SetSystemTexts(std::string compiler, std::string operatingSystem) {
  compilerText_ = std::move(compiler);
  operatingSystemText_ = std::move(operatingSystem);
}

std::string TApdDispatchLog::CompilerText() {
#if defined(__clang__)
  return "Clang " + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__) + "." +
         std::to_string(__clang_patchlevel__);
#elif defined(__GNUC__)
  return "GCC " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
         std::to_string(__GNUC_PATCHLEVEL__);
#else
  return "C++ compiler";
#endif
}

std::string TApdDispatchLog::OperatingSystemText() {
  utsname names{};
  if (::uname(&names) != 0) return "Unknown system";
  return std::string(names.sysname) + " " + names.release;
}

void TApdDispatchLog::Add(std::uint8_t type, std::uint8_t subtype, std::uint32_t value,
                          const std::uint8_t* data, std::size_t n) {
  if (!recording_) return;
  if (n > 0 && data == nullptr) return;
  // The header and its data go in as one entry: a header whose data did not
  // fit would make the ring unreadable.
  const std::size_t size = ring_.size();
  if (n >= size || kHeaderSize + n >= size) return;
  while (free_ < kHeaderSize + n) DropOldest();

  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(steadyNow_() - timeBase_).count();
  Header header;
  header.type = type;
  header.subtype = subtype;
  // A 32-bit millisecond count, as the file shows it; it wraps after 49 days.
  header.time = static_cast<std::uint32_t>(std::max<decltype(elapsed)>(elapsed, 0));
  header.value = value;
  header.count = static_cast<std::uint32_t>(n);
  PutHeader(header);
  if (n > 0) Put(data, n);
}

void TApdDispatchLog::Put(const std::uint8_t* bytes, std::size_t n) {
  const std::size_t size = ring_.size();
  const std::size_t first = std::min(n, size - head_);
  std::memcpy(ring_.data() + head_, bytes, first);
  std::memcpy(ring_.data(), bytes + first, n - first);
  head_ = (head_ + n) % size;
  free_ -= n;
}

void TApdDispatchLog::Take(std::uint8_t* bytes, std::size_t n) {
  const std::size_t size = ring_.size();
  const std::size_t first = std::min(n, size - tail_);
  std::memcpy(bytes, ring_.data() + tail_, first);
  std::memcpy(bytes + first, ring_.data(), n - first);
  tail_ = (tail_ + n) % size;
  free_ += n;
}

void TApdDispatchLog::PutHeader(const Header& header) {
  std::uint8_t bytes[kHeaderSize];
  bytes[0] = header.type;
  bytes[1] = header.subtype;
  StoreU32(bytes + 2, header.time);
  StoreU32(bytes + 6, header.value);
  StoreU32(bytes + 10, header.count);
  Put(bytes, kHeaderSize);
}

TApdDispatchLog::Header TApdDispatchLog::TakeHeader() {
  std::uint8_t bytes[kHeaderSize];
  Take(bytes, kHeaderSize);
  Header header;
  header.type = bytes[0];
  header.subtype = bytes[1];
  header.time = LoadU32(bytes + 2);
  header.value = LoadU32(bytes + 6);
  header.count = LoadU32(bytes + 10);
  return header;
}

void TApdDispatchLog::DropOldest() {
  const Header oldest = TakeHeader();
  tail_ = (tail_ + oldest.count) % ring_.size();
  free_ += oldest.count;
}

int TApdDispatchLog::Dump(const std::string& file, bool append, bool allHex, bool inHex,
                          const std::string& comName) {
  if (!exists_ || Empty()) {
    Stop();
    return 0;
  }
  recording_ = false;
  TApdDumpFile out;
  const int opened = out.Open(file, append);
  if (opened != 0) return opened;

  WriteHead(out, comName);
  std::vector<std::uint8_t> data;  // sized per entry: a device read may exceed the queue sizes
  while (!Empty()) {
    const Header header = TakeHeader();
    data.resize(header.count);
    if (header.count > 0) Take(data.data(), header.count);
    out.Write(FormatEntry(header, data, allHex, inHex));
  }
  const int closed = out.Close();
  Stop();
  return closed;
}

void TApdDispatchLog::WriteHead(TApdDumpFile& out, const std::string& comName) const {
  const std::tm now = localNow_();
  char date[48];
  std::snprintf(date, sizeof date, "%02d/%02d/%02d, %02d:%02d:%02d", now.tm_mday % 100,
                (now.tm_mon + 1) % 100, now.tm_year % 100, now.tm_hour % 100, now.tm_min % 100,
                now.tm_sec % 100);
  const std::string lines[] = {
      "SERIX v4.06",
      "Compiler : " + compilerText_,
      "Operating System : " + operatingSystemText_,
      "Device: " + comName,
      std::string("Date/time: ") + date,
      "Time      Type      SubType       Data      OtherData",
      "--------  --------  ------------  --------  ---------",
  };
  for (const std::string& line : lines) {
    out.Write(line);
    out.Write(kDumpLineEnd);
  }
}

std::string TApdDispatchLog::FormatEntry(const Header& header,
                                         const std::vector<std::uint8_t>& data, bool allHex,
                                         bool inHex) const {
  char fixed[96];
  std::snprintf(fixed, sizeof fixed, "%8s  %-8s  %-12s  %08x  ", TimeText(header.time).c_str(),
                NameOf(kTypeNames, header.type), NameOf(kSubtypeNames, header.subtype),
                static_cast<unsigned>(header.value));
  std::string line = fixed;

  std::size_t column = kItemStartColumn;
  auto place = [&](std::string_view item) {
    column += item.size();
    if (column >= kWrapColumn) {
      line += kDumpLineEnd;
      line.append(kFixedWidth, ' ');
      column = item.size() + kItemStartColumn;
    }
    line += item;
  };

  std::size_t next = 0;
  const bool statusEntry = (header.type == kTypeTrigAllc || header.type == kTypeTrigDisp) &&
                           header.subtype == kSubtypeStatus;
  if (statusEntry && !data.empty() && data[0] < kStatusWords.size()) {
    place(kStatusWords[data[0]]);
    next = 1;
  }
  std::string item;
  for (; next < data.size(); ++next) {
    item.clear();
    if (allHex && header.type == kTypeUser) {
      item += static_cast<char>(data[next]);  // user entries carry text
    } else {
      AppendDumpItem(item, data[next], allHex, inHex);
    }
    place(item);
  }
  if (header.subtype == kSubtypeModemStatus) line += ModemBitsText(header.value);
  line += kDumpLineEnd;
  return line;
}
