#pragma once
// Replaces a file as a whole or not at all: the new content goes to a
// temporary file beside the target, is flushed to the disk and then renamed
// over the target. Until Commit succeeds the target is untouched.

#include <QString>

#include <cstdio>
#include <optional>
#include <stdexcept>

class SaveError : public std::runtime_error {
 public:
  explicit SaveError(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

class AtomicFile {
 public:
  // Creates the temporary file; throws SaveError when the folder cannot take it.
  explicit AtomicFile(const QString& target);
  ~AtomicFile();  // without Commit: removes the temporary file
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  FILE* Stream() const { return stream_; }
  // Flushes, syncs and renames over the target; throws SaveError on failure,
  // leaving the target as it was.
  void Commit();

  // Test seam: after this many bytes every write fails with "No space left
  // on device", as on a full disk. std::nullopt switches it off. Not thread-safe.
  static void SimulateDiskFullAfter(std::optional<size_t> bytes);

 private:
  [[noreturn]] void Fail(const QString& what, int error) const;

  QString target_;
  QString temporary_;
  int fd_ = -1;
  FILE* stream_ = nullptr;
  bool streamOwnsDescriptor_ = false;  // fdopen's FILE closes fd_; the test writer does not
  bool committed_ = false;
};
