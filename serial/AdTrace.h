#pragma once
// The serial trace: a ring of (kind, byte) pairs recording every byte a handler
// reads ('R') and every byte queued for sending ('T'), written to a text file on
// request ("APD.TRC" in the system).
//
// Not thread-safe by itself: the dispatcher calls every member under its
// StateLock, so no lock lives here.
//
// This unit also holds the few pieces both dump files share (the file writer,
// the error-number mapping and the way one byte is shown); the dispatch log in
// AdLog builds on them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Line end of both dump files. They are Linux text files, so a plain LF; the
// trace's explicit CR LF between blocks is part of its format and stays.
inline constexpr std::string_view kDumpLineEnd = "\n";

// Result codes of the recorders (the serial layer's negative codes).
inline constexpr int kRecorderBadArgument = -1002;  // capacity above the limit
inline constexpr int kRecorderOutOfMemory = -8;     // the ring could not be allocated

// The runtime's input/output error number (positive: 3 path not found,
// 5 access denied, 101 disk full, ...) for an errno met while creating or
// writing a file. Creating never lacks the file itself, so ENOENT means a
// missing folder: "path not found".
int ApdIoErrorFromErrno(int err);

// Appends how a recorded byte is shown in a dump and returns its width.
// allHex: always "[hh]". Otherwise a printable byte as itself (the space counts
// as printable only without inHex), another byte as "[hh]" with inHex or as
// "[decimal]" without.
std::size_t AppendDumpItem(std::string& out, std::uint8_t byte, bool allHex, bool inHex);

// A dump file opened for writing, buffered, reporting the first failure as a
// runtime error code. Closes itself when dropped.
class TApdDumpFile {
 public:
  TApdDumpFile() = default;
  TApdDumpFile(const TApdDumpFile&) = delete;
  TApdDumpFile& operator=(const TApdDumpFile&) = delete;
  ~TApdDumpFile();

  // Appends when asked and the file exists, otherwise creates or replaces it.
  // 0, or minus the runtime's error number.
  int Open(const std::string& path, bool append);
  // True when Open appended to a file whose last line has no line end yet.
  bool AppendsMidLine() const { return appendsMidLine_; }

  void Write(std::string_view text);
  // Flushes and closes: 0, or minus the first error met while writing or closing.
  int Close();

 private:
  void Flush();

  int fd_ = -1;
  int error_ = 0;  // first runtime error number met, 0 while fine
  bool appendsMidLine_ = false;
  std::string buffer_;
};

class TApdTraceRecorder {
 public:
  static constexpr std::uint32_t kMaxEntries = 4'000'000;
  // Lines of the dump never pass this column.
  static constexpr std::size_t kMaxColumn = 78;

  // Starts recording into a ring of `capacity` entries; an existing ring is
  // emptied instead (its capacity stays). 0, kRecorderBadArgument above
  // kMaxEntries, kRecorderOutOfMemory when the ring cannot be allocated.
  int Start(std::uint32_t capacity);
  // Recording off and the ring freed.
  void Stop();
  void Pause();
  // Recording on again, when a ring exists.
  void Resume();
  // Empties the ring; recording goes on as it was.
  void Clear();

  bool Exists() const { return exists_; }
  bool Recording() const { return recording_; }

  // Records one byte while recording; the oldest entry gives way when full.
  void Add(char kind, std::uint8_t byte);

  // Writes the ring to `file` and frees it. An empty trace writes nothing and
  // leaves an existing file as it was. 0, or minus the runtime's error number.
  int Dump(const std::string& file, bool append, bool allHex, bool inHex);

 private:
  struct Entry {
    char kind;
    std::uint8_t byte;
  };

  void Free();
  void WriteEntries(TApdDumpFile& out, bool allHex, bool inHex) const;

  std::vector<Entry> ring_;
  bool exists_ = false;
  bool recording_ = false;
  std::uint32_t position_ = 0;  // next entry written
  bool wrapped_ = false;        // position has passed the end: oldest entry is at position_
};
