#pragma once
// The program's one office: the process, the plugin's connection to it and
// the worker thread that makes every call within a time bound. Shared by all
// application instances; a dead office is noticed and the next instance
// starts a new one. Used on the program's (user-interface) thread only.

#include "libreoffice/BridgeApi.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class CallWorker;
class OfficeProcess;

class CalcOffice {
 public:
  enum class Bound { Call, File };

  // The running office, started when none runs. Throws EServerUnavailable.
  static std::shared_ptr<CalcOffice> Shared();
  // The running office, or nullptr; starts none.
  static std::shared_ptr<CalcOffice> Current();
  // Ends the office now: it is asked to end, then stopped.
  static void ShutDown();

  ~CalcOffice();
  CalcOffice(const CalcOffice&) = delete;
  CalcOffice& operator=(const CalcOffice&) = delete;

  // Runs call on the worker within the bound. Throws EServerGone naming
  // workbook when it has gone (window closed, office ended, or no answer in
  // time: the office is then stopped), EOleError for the office's refusals;
  // CalcBridge::PasswordNeeded passes through. The call must own what it uses.
  // Before a call with the file bound the office must answer within the call
  // bound, so an office that hung before a load or a store is given up on as
  // soon as on a row; only a hang during one waits out the long bound.
  void Run(Bound bound, std::function<void(CalcBridge::Office&)> call, const QString& workbook);
  template <typename Result>
  Result Get(Bound bound, std::function<Result(CalcBridge::Office&)> call, const QString& workbook) {
    auto result = std::make_shared<Result>();
    Run(bound, [result, call = std::move(call)](CalcBridge::Office& office) { *result = call(office); }, workbook);
    return std::move(*result);
  }

  bool Alive();
  bool Headless() const { return headless_; }
  int64_t Pid() const;
  uint64_t RemoteCalls() const;
  uint64_t DataCalls() const;

 private:
  CalcOffice();
  void Start();
  void Stop();
  void RunWithin(std::chrono::milliseconds limit, std::function<void(CalcBridge::Office&)> call, const QString& workbook);

  std::shared_ptr<CalcBridge::Office> office_;
  std::unique_ptr<CallWorker> worker_;
  std::unique_ptr<OfficeProcess> process_;
  bool headless_ = true;
  bool dead_ = false;
};
