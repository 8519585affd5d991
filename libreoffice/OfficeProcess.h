#pragma once
// The office process the program starts for itself: soffice.bin run directly
// (the launcher script's splash process would survive a kill of ours), with a
// private profile and a private pipe, ending when the program ends.

#include <QString>

#include <memory>
#include <sys/types.h>

class QLockFile;
class QTemporaryDir;

struct OfficeLaunch {
  QString programDir;  // holds soffice.bin
  QString pipeName;
  bool headless = false;
};

class OfficeProcess {
 public:
  // Starts the office; throws EServerUnavailable when it cannot be run.
  explicit OfficeProcess(const OfficeLaunch& launch);
  ~OfficeProcess();  // kills it if it still runs
  OfficeProcess(const OfficeProcess&) = delete;
  OfficeProcess& operator=(const OfficeProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // False once it has ended; ExitCode then says how (-1 for a signal).
  bool Running();
  int ExitCode() const { return exitCode_; }
  // Waits up to timeoutMs for it to end by itself.
  bool WaitEnded(int timeoutMs);
  void Kill();

  // A pipe name no other process uses.
  static QString UniquePipeName();
  // Whether the office here can show windows: a display, and a window-system
  // plugin installed beside it (a headless-only install has none).
  static bool CanShowWindows(const QString& programDir);

 private:
  void Launch(const OfficeLaunch& launch);

  // The profile: the shared one in the per-user state folder when this
  // program is the only one using it (held by the lock file), else a
  // private one for this process.
  std::unique_ptr<QLockFile> profileLock_;
  std::unique_ptr<QTemporaryDir> ownProfile_;
  QString profileDir_;
  pid_t pid_ = -1;
  int exitCode_ = 0;
};
