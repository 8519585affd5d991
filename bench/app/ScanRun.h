#pragma once
// One benchmark run of the whole scanning path in this process: the machine
// simulator on a pseudo-terminal at 19200 baud dropping sheets on a schedule,
// the real main window with its serial port component and the built-in
// spreadsheet server, offscreen. The window runs as if started from a scratch
// folder whose settings file maps its port to the simulator.
//
// Needs the application object, the registered spreadsheet server and its
// view to exist already, as the program entry makes them.

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <cstdint>

namespace scan_bench {

enum class Disturbance {
  None,               // File New, Start Scanning, sheets
  SaveLargeWorkbook,  // File Open of a full workbook; File Save half-way through
  Loaded,             // the same workbook saved every few sheets, processes busy
                      // beside it, and a modal box held open for a while
};

struct RunOptions {
  Disturbance disturbance = Disturbance::None;
  int sheets = 300;
  std::chrono::milliseconds scanInterval{700};
  // A burst in the middle: `sheets` at the interval, then this many within
  // burstWindow, then `sheets` at the interval again. 0: one steady stretch.
  int burstSheets = 0;
  std::chrono::milliseconds burstWindow{300};
  // Loaded: File Save after every this many sheets, this many processes
  // spinning, and a modal box held open this long half-way through.
  int saveEvery = 10;
  int cpuHogs = 2;
  std::chrono::milliseconds modalHold{2000};
  QString program;  // this benchmark's executable, for the spinning processes
  QString scratch;   // plays the executable's folder; the new workbook goes here too
  QString workbook;  // SaveLargeWorkbook: the workbook to open (it is saved over)
  // SaveLargeWorkbook: File Save this long after the middle sheet's last byte.
  // Just before that sheet's writer tick is due, the save holds up a pending
  // row; right after a record it would only overlap the timer's wait.
  std::chrono::milliseconds saveAfter{450};
  // SaveLargeWorkbook: how many saves, after sheets spread evenly over the run.
  int saves = 1;
  // An experiment, not the product: the input timer made precise, to see what
  // its coarse default costs.
  bool preciseInputTimer = false;
  // A 40-question key laid out (as at OK in Scan > Answer Key...) before the
  // sheets come: every row is scored as it is written.
  bool scored = false;
  std::uint32_t seed = 1;
};

// Runs and returns the figures: sheets sent and rows written, sheets lost,
// merged or misplaced, latencies in milliseconds, the crash journal's cost per
// row, messages the application showed.
QJsonObject RunScanPath(const RunOptions& options);

// The run's name in the figures: "undisturbed", "disturbed" or "loaded".
QString RunName(Disturbance disturbance);

}  // namespace scan_bench
