#pragma once
// The office process the program starts for itself: soffice.bin run directly
// (the launcher script's splash process would survive a kill of ours), with a
// private profile (OfficeProfile.h) and a private pipe, ending when the
// program ends.

#include <QString>

#include <memory>
#include <sys/types.h>

struct OfficeLaunch {
  QString programDir;  // holds soffice.bin
  QString profileDir;
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
  pid_t pid_ = -1;
  int exitCode_ = 0;
};
