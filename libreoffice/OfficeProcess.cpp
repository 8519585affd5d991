#include "libreoffice/OfficeProcess.h"

#include "automation/OleVariant.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <QUrl>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

OfficeProcess::OfficeProcess(const OfficeLaunch& launch) { Launch(launch); }

OfficeProcess::~OfficeProcess() {
  if (Running()) Kill();
}

void OfficeProcess::Launch(const OfficeLaunch& launch) {
  const QString program = launch.programDir + QStringLiteral("/soffice.bin");
  std::vector<std::string> args{
      program.toStdString(),
      ("-env:UserInstallation=" + QUrl::fromLocalFile(launch.profileDir).toString(QUrl::FullyEncoded)).toStdString(),
      ("--accept=pipe,name=" + launch.pipeName + ";urp;StarOffice.ComponentContext").toStdString(),
      "--norestore", "--nologo", "--nodefault", "--nolockcheck"};
  if (launch.headless) args.emplace_back("--headless");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // Set up before fork: the child may only make async-signal-safe calls.
  const std::string exe = program.toStdString();
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw EServerUnavailable(QStringLiteral("LibreOffice could not be started (no process could be made)"));
  if (pid == 0) {
    // The office ends with the program, however the program ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setenv("SAL_ENABLE_FILE_LOCKING", "1", 1);  // as the launcher script sets it
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  pid_ = pid;
}

bool OfficeProcess::Running() {
  if (pid_ < 0) return false;
  int status = 0;
  const pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  exitCode_ = done == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

bool OfficeProcess::WaitEnded(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (Running()) {
    if (clock.elapsed() >= timeoutMs) return false;
    QThread::msleep(20);
  }
  return true;
}

void OfficeProcess::Kill() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  exitCode_ = -1;
  pid_ = -1;
}

QString OfficeProcess::UniquePipeName() {
  return QStringLiteral("cellfeedwizard-%1-%2").arg(getpid()).arg(QRandomGenerator::global()->generate64(), 0, 16);
}

bool OfficeProcess::CanShowWindows(const QString& programDir) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return false;
  // The window-system plugins; the headless one ("svp") is built in.
  const QStringList plugins = QDir(programDir).entryList({QStringLiteral("libvclplug_*.so")}, QDir::Files);
  return !plugins.isEmpty();
}
