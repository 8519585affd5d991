#include "spreadsheet/xls/AtomicFile.h"

#include "spreadsheet/xls/StaleTemporaries.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<size_t> diskFullAfter;

// A FILE that writes to the descriptor and runs out of space where the test
// seam says so.
struct LimitedWriter {
  int fd;
  size_t limit;
  off_t position = 0;
};

ssize_t LimitedWrite(void* cookie, const char* data, size_t size) {
  auto* writer = static_cast<LimitedWriter*>(cookie);
  const size_t room = writer->position < static_cast<off_t>(writer->limit)
                          ? writer->limit - static_cast<size_t>(writer->position)
                          : 0;
  const size_t take = std::min(size, room);
  if (take == 0) {
    errno = ENOSPC;
    return -1;
  }
  const ssize_t written = pwrite(writer->fd, data, take, writer->position);
  if (written > 0) writer->position += written;
  return written;
}

int LimitedSeek(void* cookie, off64_t* offset, int whence) {
  auto* writer = static_cast<LimitedWriter*>(cookie);
  off_t base = 0;
  if (whence == SEEK_CUR) base = writer->position;
  if (whence == SEEK_END) base = lseek(writer->fd, 0, SEEK_END);
  writer->position = base + static_cast<off_t>(*offset);
  *offset = writer->position;
  return 0;
}

int LimitedClose(void* cookie) {
  delete static_cast<LimitedWriter*>(cookie);
  return 0;
}

FILE* OpenLimited(int fd, size_t limit) {
  cookie_io_functions_t functions{};
  functions.write = LimitedWrite;
  functions.seek = LimitedSeek;
  functions.close = LimitedClose;
  auto* writer = new LimitedWriter{fd, limit};
  FILE* stream = fopencookie(writer, "w", functions);
  if (!stream) delete writer;
  return stream;
}

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

void AtomicFile::SimulateDiskFullAfter(std::optional<size_t> bytes) { diskFullAfter = bytes; }

AtomicFile::AtomicFile(const QString& target) : target_(QFileInfo(target).absoluteFilePath()) {
  QByteArray pattern = QFile::encodeName(StaleTemporaries::TemplateFor(target_));
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) Fail(QStringLiteral("the folder cannot be written to"), errno);
  temporary_ = QFile::decodeName(pattern);
  // Held until the descriptor closes: another save's clean-up sees this one is alive.
  flock(fd_, LOCK_EX | LOCK_NB);

  // The new file keeps the old one's permissions, or gets the usual ones.
  struct stat old {};
  if (stat(QFile::encodeName(target_).constData(), &old) == 0) {
    fchmod(fd_, old.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
  }
  stream_ = diskFullAfter ? OpenLimited(fd_, *diskFullAfter) : fdopen(fd_, "w");
  if (!stream_) {
    const int error = errno;
    close(fd_);
    unlink(pattern.constData());
    Fail(QStringLiteral("the temporary file cannot be opened"), error);
  }
  streamOwnsDescriptor_ = !diskFullAfter;
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  if (stream_) fclose(stream_);
  if ((!stream_ || !streamOwnsDescriptor_) && fd_ >= 0) close(fd_);
  if (!temporary_.isEmpty()) unlink(QFile::encodeName(temporary_).constData());
}

void AtomicFile::Fail(const QString& what, int error) const {
  throw SaveError(QStringLiteral("Cannot save \"%1\": %2 (%3).").arg(QDir::toNativeSeparators(target_), what,
                                                                    ErrorText(error)));
}

void AtomicFile::Commit() {
  if (fflush(stream_) != 0 || ferror(stream_)) Fail(QStringLiteral("writing the file failed"), errno ? errno : EIO);
  if (fsync(fd_) != 0) Fail(QStringLiteral("writing the file to the disk failed"), errno);
  FILE* stream = stream_;
  stream_ = nullptr;
  const int closed = fclose(stream);
  const int closeError = errno;
  if (!streamOwnsDescriptor_) close(fd_);
  fd_ = -1;
  if (closed != 0) Fail(QStringLiteral("closing the file failed"), closeError);
  if (rename(QFile::encodeName(temporary_).constData(), QFile::encodeName(target_).constData()) != 0) {
    Fail(QStringLiteral("the file cannot be replaced"), errno);
  }
  committed_ = true;
  // Make the rename itself durable.
  const QString folder = QFileInfo(target_).absolutePath();
  const int dir = open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  // What earlier saves that were killed left behind.
  StaleTemporaries::RemoveIn(folder);
}
