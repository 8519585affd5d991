#pragma once
// Where the program's office keeps its settings, never the user's own
// profile: the one in the per-user state folder when no other copy of the
// program uses it (a lock file says so), else a private one for this run.
// Chosen once and kept for the program's run, so an office started again
// (after a kill) need not make a new profile.

#include <QString>

#include <memory>

class QLockFile;
class QTemporaryDir;

class OfficeProfile {
 public:
  // The profile for this run; throws EServerUnavailable when no folder can be made.
  static const OfficeProfile& ForThisRun();
  ~OfficeProfile();

  QString Folder() const { return folder_; }
  // Before a start: a lock the office left in the shared profile when it
  // was killed is stale, as no other copy of the program uses it.
  void ClearStaleLock() const;

 private:
  OfficeProfile();

  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QTemporaryDir> own_;
  QString folder_;
};
