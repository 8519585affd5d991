#include "serial/AdTrace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace {

constexpr std::size_t kFlushThreshold = 64 * 1024;
constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexItem(std::string& out, std::uint8_t byte) {
  out += '[';
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
  out += ']';
}

// Whether the file's last byte is something other than a line end, so text
// appended to it would run on in its last line.
bool EndsMidLine(int writeFd, const std::string& path) {
  struct stat info {};
  if (::fstat(writeFd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) return false;
  const int readFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (readFd < 0) return false;  // cannot tell: leave the file as the caller asked
  char last = '\n';
  const bool read = ::pread(readFd, &last, 1, info.st_size - 1) == 1;
  ::close(readFd);
  return read && last != kDumpLineEnd.back();
}

const char* TraceHeading(char kind) {
  switch (kind) {
    case 'R': return "Receive: ";
    case 'T': return "Transmit: ";
    default: return nullptr;
  }
}

}  // namespace

int ApdIoErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return 3;  // path not found
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY:
    case EEXIST: return 5;  // access denied
    case EMFILE:
    case ENFILE: return 4;  // too many open files
    case EBADF: return 6;   // invalid file handle
    case ENOMEM: return 8;  // insufficient memory
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return 101;  // disk full
    case EROFS: return 150;  // write-protected
    case ENXIO:
    case ENODEV: return 152;  // drive not ready
    case EIO: return 160;     // device write error
    default: return 162;      // general failure
  }
}

std::size_t AppendDumpItem(std::string& out, std::uint8_t byte, bool allHex, bool inHex) {
  if (allHex) {
    AppendHexItem(out, byte);
    return 4;
  }
  const std::uint8_t firstPrintable = inHex ? '!' : ' ';
  if (byte >= firstPrintable && byte <= '~') {
    out += static_cast<char>(byte);
    return 1;
  }
  if (inHex) {
    AppendHexItem(out, byte);
    return 4;
  }
  const std::string digits = std::to_string(byte);
  out += '[';
  out += digits;
  out += ']';
  return digits.size() + 2;
}

// ---------------------------------------------------------------------------
// TApdDumpFile

TApdDumpFile::~TApdDumpFile() {
  if (fd_ >= 0) ::close(fd_);
}

int TApdDumpFile::Open(const std::string& path, bool append) {
  const int mode = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  fd_ = ::open(path.c_str(), mode, 0666);
  if (fd_ < 0) return -ApdIoErrorFromErrno(errno);
  appendsMidLine_ = append && EndsMidLine(fd_, path);
  return 0;
}

void TApdDumpFile::Write(std::string_view text) {
  if (error_ != 0) return;
  buffer_.append(text);
  if (buffer_.size() >= kFlushThreshold) Flush();
}

void TApdDumpFile::Flush() {
  std::size_t done = 0;
  while (error_ == 0 && done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      error_ = ApdIoErrorFromErrno(errno);
    } else if (n == 0) {
      error_ = ApdIoErrorFromErrno(EIO);
    }
  }
  buffer_.clear();
}

int TApdDumpFile::Close() {
  if (fd_ >= 0) {
    Flush();
    // EINTR from close still leaves the descriptor closed on Linux.
    if (::close(fd_) != 0 && errno != EINTR && error_ == 0) error_ = ApdIoErrorFromErrno(errno);
    fd_ = -1;
  }
  return -error_;
}

// ---------------------------------------------------------------------------
// TApdTraceRecorder

int TApdTraceRecorder::Start(std::uint32_t capacity) {
  if (exists_) {
    Clear();
  } else {
    if (capacity > kMaxEntries) return kRecorderBadArgument;
    try {
      ring_.assign(capacity, Entry{});
    } catch (const std::bad_alloc&) {
      return kRecorderOutOfMemory;
    }
    exists_ = true;
    position_ = 0;
    wrapped_ = false;
  }
  recording_ = true;
  return 0;
}

void TApdTraceRecorder::Stop() {
  recording_ = false;
  Free();
}

void TApdTraceRecorder::Pause() { recording_ = false; }

void TApdTraceRecorder::Resume() { recording_ = exists_; }

void TApdTraceRecorder::Clear() {
  position_ = 0;
  wrapped_ = false;
}

void TApdTraceRecorder::Add(char kind, std::uint8_t byte) {
  // A ring of no entries records nothing rather than writing past its end.
  if (!recording_ || ring_.empty()) return;
  ring_[position_] = Entry{kind, byte};
  if (++position_ == ring_.size()) {
    position_ = 0;
    wrapped_ = true;
  }
}

void TApdTraceRecorder::Free() {
  std::vector<Entry>().swap(ring_);  // give the memory back, not just the size
  exists_ = false;
  position_ = 0;
  wrapped_ = false;
}

int TApdTraceRecorder::Dump(const std::string& file, bool append, bool allHex, bool inHex) {
  if (!exists_) return 0;
  recording_ = false;
  if (!wrapped_ && position_ == 0) {
    Free();
    return 0;
  }
  TApdDumpFile out;
  const int opened = out.Open(file, append);
  if (opened != 0) {
    Free();
    return opened;
  }
  // The trace ends without a line end; an appended dump must not run on in the
  // last line of the one before it.
  if (out.AppendsMidLine()) out.Write(kDumpLineEnd);
  WriteEntries(out, allHex, inHex);
  const int closed = out.Close();
  Free();
  return closed;
}

void TApdTraceRecorder::WriteEntries(TApdDumpFile& out, bool allHex, bool inHex) const {
  const std::size_t capacity = ring_.size();
  std::size_t index = wrapped_ ? position_ : 0;
  std::size_t column = 0;
  bool first = true;
  char previousKind = 0;
  std::string item;
  do {
    const Entry& entry = ring_[index];
    if (first || entry.kind != previousKind) {
      if (!first) {
        out.Write("\r\n");
        out.Write(kDumpLineEnd);
        column = 0;
      }
      if (const char* heading = TraceHeading(entry.kind)) {
        out.Write(heading);
      } else {
        out.Write("Special-");
        out.Write(std::string_view(&entry.kind, 1));
        out.Write(": ");
      }
      out.Write(kDumpLineEnd);
      previousKind = entry.kind;
      first = false;
    }
    item.clear();
    const std::size_t width = AppendDumpItem(item, entry.byte, allHex, inHex);
    column += width;
    if (column > kMaxColumn) {
      out.Write(kDumpLineEnd);
      column = width;
    }
    out.Write(item);
    if (++index == capacity) index = 0;
  } while (index != position_);
}
