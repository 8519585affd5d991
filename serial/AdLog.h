#pragma once
// The dispatch log: a byte ring of time-stamped entries saying what the
// dispatcher did (device reads and writes, notifications, handler
// registration), written to a text file on request ("APD.LOG" in the system).
//
// Each entry is a fixed header (type u8, subtype u8, milliseconds since the
// time base u32, data value u32, data byte count u32) followed by its data
// bytes. When the ring is full the oldest entries give way, so the log always
// holds the most recent ones.
//
// Not thread-safe by itself: the dispatcher calls every member under its
// StateLock, so no lock lives here.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

class TApdDumpFile;

class TApdDispatchLog {
 public:
  static constexpr std::uint32_t kMaxSize = 16'000'000;
  static constexpr std::size_t kHeaderSize = 14;
  // Data items start after the 44-character fixed part; continuation lines
  // are indented to it.
  static constexpr std::size_t kFixedWidth = 44;
  static constexpr std::size_t kItemStartColumn = 45;
  static constexpr std::size_t kWrapColumn = 79;

  using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;
  using LocalNow = std::function<std::tm()>;

  TApdDispatchLog();

  // Starts recording into a ring of `size` bytes; an existing ring is emptied
  // instead (its size stays). 0, kRecorderBadArgument above kMaxSize,
  // kRecorderOutOfMemory when the ring cannot be allocated.
  int Start(std::uint32_t size);
  // Recording off and the ring freed.
  void Stop();
  void Pause();
  // Recording on again, when a ring exists.
  void Resume();
  // Empties the ring; recording goes on as it was.
  void Clear();

  bool Exists() const { return exists_; }
  bool Recording() const { return recording_; }

  // Entry times count from here (the dispatcher sets it when the port opens).
  void SetTimeBase(std::chrono::steady_clock::time_point base) { timeBase_ = base; }

  // Records one entry while recording. An entry whose header and data together
  // are not smaller than the ring is not recorded at all.
  void Add(std::uint8_t type, std::uint8_t subtype, std::uint32_t value, const std::uint8_t* data,
           std::size_t n);

  // Writes the entries, oldest first, under the head lines naming `comName`,
  // then stops the log. An empty log writes nothing and leaves an existing
  // file as it was. 0, or minus the runtime's error number.
  int Dump(const std::string& file, bool append, bool allHex, bool inHex,
           const std::string& comName);

  // Seams for exact expected files: the clock entries are stamped with, the
  // local date and time of the head, and the compiler and system texts.
  void SetClocks(SteadyNow steadyNow, LocalNow localNow);
  void SetSystemTexts(std::string compiler, std::string operatingSystem);

  // The real texts of the head lines: the compiler that built this unit and
  // the running system's name and release.
  static std::string CompilerText();
  static std::string OperatingSystemText();

 private:
  struct Header {
    std::uint8_t type = 0;
    std::uint8_t subtype = 0;
    std::uint32_t time = 0;
    std::uint32_t value = 0;
    std::uint32_t count = 0;
  };

  void Put(const std::uint8_t* bytes, std::size_t n);
  void Take(std::uint8_t* bytes, std::size_t n);
  void PutHeader(const Header& header);
  Header TakeHeader();
  void DropOldest();
  bool Empty() const { return free_ == ring_.size(); }

  void WriteHead(TApdDumpFile& out, const std::string& comName) const;
  std::string FormatEntry(const Header& header, const std::vector<std::uint8_t>& data, bool allHex,
                          bool inHex) const;

  std::vector<std::uint8_t> ring_;
  bool exists_ = false;
  bool recording_ = false;
  std::size_t head_ = 0;  // next byte written
  std::size_t tail_ = 0;  // oldest entry's first byte
  std::size_t free_ = 0;  // bytes free; equal to the ring size when empty

  std::chrono::steady_clock::time_point timeBase_;
  SteadyNow steadyNow_;
  LocalNow localNow_;
  std::string compilerText_;
  std::string operatingSystemText_;
};
