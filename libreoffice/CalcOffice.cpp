#include "libreoffice/CalcOffice.h"

#include "automation/OleVariant.h"
#include "libreoffice/BridgePlugin.h"
#include "libreoffice/CallWorker.h"
#include "libreoffice/LibreOfficeServer.h"
#include "libreoffice/OfficeProcess.h"
#include "libreoffice/OfficeProfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cstdlib>

namespace {

// The office is started and used on the program's thread only.
std::shared_ptr<CalcOffice>& TheOffice() {
  static std::shared_ptr<CalcOffice> office;
  return office;
}

QString& ProgramDirSetting() {
  static QString dir;
  return dir;
}

LibreOfficeBounds& Bounds() {
  static LibreOfficeBounds bounds;
  return bounds;
}

// Calls made by offices that have ended, so the counters span the program's run.
uint64_t retiredRemoteCalls = 0;
uint64_t retiredDataCalls = 0;

QString ProgramDir() {
  return ProgramDirSetting().isEmpty() ? QStringLiteral(CFW_LIBREOFFICE_PROGRAM_DIR) : ProgramDirSetting();
}

QString GoneMessage(const QString& workbook, const QString& reason) {
  if (workbook.isEmpty()) return QStringLiteral("LibreOffice is no longer running: %1").arg(reason);
  return QStringLiteral("'%1' is no longer open in LibreOffice: %2").arg(workbook, reason);
}

// At the program's end the office goes too; registered once, the first
// time an office starts (after LibreOffice's libraries were loaded, so this
// runs before their own clean-up).
void EndAtExit() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  std::atexit([] { CalcOffice::ShutDown(); });
  if (QCoreApplication::instance()) qAddPostRoutine([] { CalcOffice::ShutDown(); });
}

}  // namespace

void SetLibreOfficeBounds(const LibreOfficeBounds& bounds) { Bounds() = bounds; }
LibreOfficeBounds CurrentLibreOfficeBounds() { return Bounds(); }
void SetLibreOfficeProgramDir(const QString& dir) { ProgramDirSetting() = dir; }

std::shared_ptr<CalcOffice> CalcOffice::Shared() {
  std::shared_ptr<CalcOffice>& office = TheOffice();
  if (office && !office->Alive()) ShutDown();
  if (!office) {
    std::shared_ptr<CalcOffice> started(new CalcOffice);
    started->Start();
    office = std::move(started);
    EndAtExit();
  }
  return office;
}

std::shared_ptr<CalcOffice> CalcOffice::Current() { return TheOffice(); }

void CalcOffice::ShutDown() {
  std::shared_ptr<CalcOffice> office = std::move(TheOffice());
  TheOffice().reset();
  if (office) office->Stop();
}

CalcOffice::CalcOffice() = default;

CalcOffice::~CalcOffice() { Stop(); }

void CalcOffice::Start() {
  const QString dir = ProgramDir();
  if (!QFileInfo::exists(dir + QStringLiteral("/soffice.bin"))) {
    throw EServerUnavailable(QStringLiteral("LibreOffice Calc is not installed.  %1").arg(LibreOfficeInstallHint()));
  }
  if (!QFileInfo::exists(dir + QStringLiteral("/libsclo.so"))) {
    throw EServerUnavailable(QStringLiteral("LibreOffice is installed without Calc.  %1").arg(LibreOfficeInstallHint()));
  }
  office_ = BridgePlugin::NewOffice(dir);
  worker_ = std::make_unique<CallWorker>();
  headless_ = !OfficeProcess::CanShowWindows(dir);
  const LibreOfficeBounds bounds = Bounds();
  const QString pipe = OfficeProcess::UniquePipeName();
  // A first start in a new profile may end asking to be started again (81).
  // Three starts at most: again after 81, hidden after any other end.
  for (int attempt = 0;; ++attempt) {
    const OfficeProfile& profile = OfficeProfile::ForThisRun();
    profile.ClearStaleLock();
    process_ = std::make_unique<OfficeProcess>(OfficeLaunch{dir, profile.Folder(), pipe, headless_});
    QElapsedTimer clock;
    clock.start();
    for (;;) {
      auto connected = std::make_shared<bool>(false);
      const auto left = bounds.start - std::chrono::milliseconds(clock.elapsed());
      bool answered = false;
      try {
        answered = left.count() > 0 &&
                   worker_->Run([office = office_, connected, dir, pipe] { *connected = office->Connect(dir, pipe); },
                                std::min(left, bounds.call));
      } catch (const CalcBridge::Failure& failure) {
        process_->Kill();
        throw EServerUnavailable(QString::fromUtf8(failure.what()));
      }
      if (answered && *connected) return;
      if (!process_->Running()) break;
      if (std::chrono::milliseconds(clock.elapsed()) >= bounds.start) {
        process_->Kill();
        throw EServerUnavailable(QStringLiteral("LibreOffice did not start within %1 s.  %2")
                                     .arg(static_cast<double>(bounds.start.count()) / 1000.0)
                                     .arg(LibreOfficeInstallHint()));
      }
      QThread::msleep(100);
    }
    if (attempt >= 2) {
      throw EServerUnavailable(QStringLiteral("LibreOffice ended while starting (exit status %1).  %2")
                                   .arg(process_->ExitCode())
                                   .arg(LibreOfficeInstallHint()));
    }
    // Not asking to be started again: the display may be out of reach
    // (a remote session), so the next start works hidden.
    if (process_->ExitCode() != 81) headless_ = true;
  }
}

void CalcOffice::Stop() {
  if (!process_) return;
  if (!dead_ && process_->Running() && office_ && worker_) {
    // Asked first, so it ends cleanly; stopped when it does not. An office
    // that does not even take the request has hung: stopped at once.
    bool asked = false;
    try {
      asked = worker_->Run([office = office_] { office->Terminate(); }, std::chrono::milliseconds(3000));
    } catch (...) {
      asked = true;  // refused or cut off: it is ending, or may end by itself
    }
    if (!asked || !process_->WaitEnded(3000)) process_->Kill();
  }
  process_->Kill();
  dead_ = true;
  if (office_) {
    retiredRemoteCalls += office_->RemoteCalls();
    retiredDataCalls += office_->DataCalls();
  }
  worker_.reset();  // calls still under way end now that the office has gone
  office_.reset();
  process_.reset();
}

bool CalcOffice::Alive() {
  if (dead_ || !process_) return false;
  if (!process_->Running()) dead_ = true;
  return !dead_;
}

int64_t CalcOffice::Pid() const { return process_ ? process_->Pid() : -1; }
uint64_t CalcOffice::RemoteCalls() const { return office_ ? office_->RemoteCalls() : 0; }
uint64_t CalcOffice::DataCalls() const { return office_ ? office_->DataCalls() : 0; }

void CalcOffice::Run(Bound bound, std::function<void(CalcBridge::Office&)> call, const QString& workbook) {
  const LibreOfficeBounds bounds = Bounds();
  if (bound == Bound::File) RunWithin(bounds.call, [](CalcBridge::Office& office) { office.Ping(); }, workbook);
  RunWithin(bound == Bound::File ? bounds.file : bounds.call, std::move(call), workbook);
}

void CalcOffice::RunWithin(std::chrono::milliseconds limit, std::function<void(CalcBridge::Office&)> call,
                           const QString& workbook) {
  if (!Alive()) throw EServerGone(GoneMessage(workbook, QStringLiteral("LibreOffice has ended")));
  bool finished = false;
  try {
    finished = worker_->Run([office = office_, call = std::move(call)] { call(*office); }, limit);
  } catch (const CalcBridge::Gone& gone) {
    if (std::string(gone.what()) == "closed" && Alive()) {
      throw EServerGone(GoneMessage(workbook, QStringLiteral("its window was closed")));
    }
    process_->Kill();
    dead_ = true;
    throw EServerGone(GoneMessage(workbook, QStringLiteral("LibreOffice has ended")));
  } catch (const CalcBridge::Failure& failure) {
    if (!Alive()) throw EServerGone(GoneMessage(workbook, QStringLiteral("LibreOffice has ended")));
    throw EOleError(QString::fromUtf8(failure.what()));
  }
  if (!finished) {
    // A hung office cannot be trusted with the next row; stopping it also
    // ends the call still waiting on it.
    process_->Kill();
    dead_ = true;
    throw EServerGone(GoneMessage(workbook, QStringLiteral("LibreOffice did not answer within %1 s and was stopped")
                                                .arg(static_cast<double>(limit.count()) / 1000.0)));
  }
}

int64_t LibreOfficeProcessId() {
  const std::shared_ptr<CalcOffice> office = CalcOffice::Current();
  return office && office->Alive() ? office->Pid() : -1;
}

uint64_t LibreOfficeRemoteCalls() {
  const std::shared_ptr<CalcOffice> office = CalcOffice::Current();
  return retiredRemoteCalls + (office ? office->RemoteCalls() : 0);
}

uint64_t LibreOfficeDataCalls() {
  const std::shared_ptr<CalcOffice> office = CalcOffice::Current();
  return retiredDataCalls + (office ? office->DataCalls() : 0);
}

void StopLibreOffice() { CalcOffice::ShutDown(); }
