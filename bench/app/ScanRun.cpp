#include "bench/app/ScanRun.h"
#include "bench/PeakMemory.h"

#include "settings/Branding.h"
#include "app/CellfeedMain.h"
#include "app/CrashJournal.h"
#include "settings/RunContext.h"
#include "bench/app/BenchLoad.h"
#include "bench/app/BenchResponder.h"
#include "bench/app/RowAudit.h"
#include "serial/AdPort.h"
#include "tools/MachineSimulator.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace scan_bench {

namespace {

constexpr int kMachinePort = 3;
// After the last sheet the run ends once the line and the writer have been
// quiet this long, so a record held back anywhere still has time to land.
constexpr std::chrono::milliseconds kQuietAtEnd{2000};

// Sheets whose last byte reached the line, stamped on the simulator's I/O thread.
class DeliveryLog {
 public:
  void Add(const machine_sim::ExpectedRow& row) {
    const Clock::time_point now = Clock::now();
    const std::lock_guard<std::mutex> lock(mutex_);
    sheets_.push_back({row, now});
  }
  int Count() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(sheets_.size());
  }
  std::vector<DeliveredSheet> Snapshot() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return sheets_;
  }

 private:
  // Guards sheets_: appended by the simulator's I/O thread, read by the UI thread.
  mutable std::mutex mutex_;
  std::vector<DeliveredSheet> sheets_;
};

// Watches the window on the UI thread: when records are decoded, when each
// tick of the row writer starts and ends, and which rows each tick finished.
class WindowProbe : public QObject {
 public:
  struct Decode {
    Clock::time_point at;
    int records;
  };
  struct Tick {
    Clock::time_point start;
    Clock::time_point end;
  };

  explicit WindowProbe(TfrmMain& window) : window_(window) {
    window_.tmrInputVal->installEventFilter(this);
    // Connected after the window's own connection, so it runs once the writer has returned.
    connect(window_.tmrInputVal, &QTimer::timeout, this, [this] { TickEnded(); });
    // The window's own handler, with a time stamp around it.
    window_.ApdComPort1->SetOnTriggerAvail([this](TApdCustomComPort& port, uint16_t count) {
      const std::size_t before = window_.PendingSheets.Size();
      window_.ApdComPort1TriggerAvail(port, count);
      const std::size_t added = window_.PendingSheets.Size() - before;
      if (added > 0) decodes.push_back({Clock::now(), static_cast<int>(added)});
    });
  }
  ~WindowProbe() override {
    window_.tmrInputVal->removeEventFilter(this);
    window_.ApdComPort1->SetOnTriggerAvail(
        [w = &window_](TApdCustomComPort& port, uint16_t count) { w->ApdComPort1TriggerAvail(port, count); });
  }
  WindowProbe(const WindowProbe&) = delete;
  WindowProbe& operator=(const WindowProbe&) = delete;

  // Rows from here on are the run's.
  void StartFrom(int row) { nextRow_ = row; }
  bool InTick() const { return inTick_; }
  std::optional<Clock::time_point> RowCompleted(int row) const {
    const auto found = rowCompleted_.find(row);
    if (found == rowCompleted_.end()) return std::nullopt;
    return found->second;
  }

  std::vector<Decode> decodes;
  std::vector<Tick> ticks;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_.tmrInputVal && event->type() == QEvent::Timer) {
      tickStart_ = Clock::now();
      inTick_ = true;
    }
    return false;
  }

 private:
  void TickEnded() {
    const Clock::time_point end = Clock::now();
    inTick_ = false;
    ticks.push_back({tickStart_, end});
    for (; nextRow_ < window_.CurrentRow; ++nextRow_) rowCompleted_[nextRow_] = end;
  }

  TfrmMain& window_;
  Clock::time_point tickStart_{};
  bool inTick_ = false;
  int nextRow_ = 0;
  std::map<int, Clock::time_point> rowCompleted_;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The machine's load average over the last minute, as the kernel gives it.
double LoadAverage() {
  QFile file(QStringLiteral("/proc/loadavg"));
  if (!file.open(QIODevice::ReadOnly)) return -1;
  return file.readAll().split(' ').value(0).toDouble();
}

QJsonObject ToJson(const Summary& s) {
  return {{"count", s.count}, {"median", s.median}, {"p99", s.p99}, {"max", s.max}};
}

void WriteSettings(const QString& exePath, const std::string& device) {
  QFile file(SettingsFilePath(exePath));
  if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write the settings file");
  file.write(QStringLiteral("[Main]\r\nPortNo=%1\r\n[Ports]\r\nCOM%1=%2\r\n")
                 .arg(kMachinePort)
                 .arg(QString::fromStdString(device))
                 .toUtf8());
}

// Every value of a written row: 66 per sheet, so a merged row is read whole.
QStringList ReadRow(const TfrmMain& window, int row) {
  const OleVariant sheet = window.ExcelApp.Get(QStringLiteral("Sheets"), {1});
  const auto cell = [&](int col) { return sheet.Get(QStringLiteral("Cells"), {row, col}).Get(QStringLiteral("Value")).ToText(); };
  QStringList values;
  for (int block = 0; block == 0 || !cell(block * kSheetColumns + 1).isEmpty(); ++block) {
    for (int col = block * kSheetColumns + 1; col <= (block + 1) * kSheetColumns; ++col) values << cell(col);
  }
  return values;
}

// The decode time of each record, in arrival order.
std::vector<Clock::time_point> RecordDecodeTimes(const std::vector<WindowProbe::Decode>& decodes) {
  std::vector<Clock::time_point> times;
  for (const auto& d : decodes) times.insert(times.end(), static_cast<size_t>(d.records), d.at);
  return times;
}

class Run {
 public:
  explicit Run(const RunOptions& options) : options_(options) {}

  QJsonObject Execute() {
    const QString exePath = QDir(options_.scratch).filePath(QStringLiteral("OrvaneCellfeedWizard"));
    RunContext::OverrideForTesting(exePath, {});
    // The run's crash journal in its scratch folder, not in the user's state folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(QDir(options_.scratch).filePath(QStringLiteral("state"))));
    loadBefore_ = LoadAverage();
    if (options_.disturbance == Disturbance::Loaded) {
      hogs_ = std::make_unique<CpuHogs>(options_.program, options_.cpuHogs);
      Progress(QStringLiteral("%1 processes spinning beside the run").arg(hogs_->Running()));
    }
    machine_ = std::make_unique<machine_sim::MachineSimulator>(MachineConfig());
    WriteSettings(exePath, machine_->DevicePath());

    window_ = std::make_unique<TfrmMain>();
    window_->show();
    PumpUntil([this] { return !ui_.messages.isEmpty(); }, std::chrono::seconds(5));  // the start-up reminder
    ui_.messages.clear();
    probe_ = std::make_unique<WindowProbe>(*window_);
    if (options_.preciseInputTimer) window_->tmrInputVal->setTimerType(Qt::PreciseTimer);

    StartScanning();
    if (!window_->ScanningActive) return Failure(QStringLiteral("scanning did not start"));
    probe_->StartFrom(window_->CurrentRow);
    startRow_ = window_->CurrentRow;
    Progress(QStringLiteral("scanning from row %1").arg(startRow_));
    if (Scheduled()) {
      // The machine goes on whatever the program does: its sheets come from a thread of their own.
      // The mode command follows the acknowledgement, which the UI thread's loop handles.
      PumpUntil([this] { return machine_->Status().modeChosen; }, std::chrono::seconds(10));
      machine_sim::MachineSimulator* machine = machine_.get();
      schedule_ = std::make_unique<SheetSchedule>(
          SheetSchedule::SteadyBurstSteady(options_.sheets, options_.scanInterval, options_.burstSheets, options_.burstWindow),
          [machine] { machine->DropSheet(); });
    }

    const bool finished = Drive();
    schedule_.reset();
    QJsonObject figures = Figures();  // also after a stall: what did land is still counted
    if (!finished) figures["error"] = QStringLiteral("the run did not finish in time");
    hogs_.reset();
    probe_.reset();
    window_.reset();  // shutdown: the server is told to quit
    machine_.reset();
    RunContext::OverrideForTesting({}, {});
    return figures;
  }

 private:
  machine_sim::SimulatorConfig MachineConfig() {
    machine_sim::SimulatorConfig config;
    config.baud = 19200;
    config.randomColumns = kSheetColumns;
    if (!Scheduled()) {
      config.scanInterval = options_.scanInterval;
      config.scanCount = options_.sheets;
    }
    config.seed = options_.seed;
    config.keepHistory = false;
    config.sheetDelivered = [this](const machine_sim::ExpectedRow& row) { delivered_.Add(row); };
    return config;
  }

  // Sheets on the burst schedule of a thread of the run's, not the simulator's steady one.
  bool Scheduled() const { return options_.burstSheets > 0; }
  int TotalSheets() const { return Scheduled() ? 2 * options_.sheets + options_.burstSheets : options_.sheets; }

  void StartScanning() {
    QElapsedTimer opening;
    opening.start();
    if (options_.disturbance == Disturbance::None) {
      ui_.fileNames.push_back(QDir(options_.scratch).filePath(QStringLiteral("scan-bench-new.xls")));
      window_->New1->trigger();
      window_->StartScanning1->trigger();
    } else {
      ui_.fileNames.push_back(options_.workbook);
      window_->Open1->trigger();  // opens, then starts scanning
    }
    if (options_.scored) {
      QStringList key;
      for (int q = 0; q < 40; ++q) key << QString::number(q % 6 + 1);
      window_->ApplyKey(AnswerKey(key, 0, 0, MarkMode::Multiple));
    }
    openSeconds_ = opening.nsecsElapsed() / 1e9;
  }

  // The UI thread's event loop, as the program runs it; the checks run
  // between events, never inside a handler.
  template <typename Done>
  bool PumpUntil(Done done, Clock::duration limit) {
    QTimer wake;  // the loop looks round at least this often
    wake.start(10);
    const Clock::time_point deadline = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
  }

  bool Drive() {
    const auto limit = options_.scanInterval * (TotalSheets() + 20) + std::chrono::minutes(10);
    int reported = 0;
    Clock::time_point lastChange = Clock::now();
    int lastDelivered = 0;
    int lastRow = window_->CurrentRow;
    return PumpUntil(
        [&] {
          const int delivered = delivered_.Count();
          if (delivered != lastDelivered || window_->CurrentRow != lastRow) lastChange = Clock::now();
          lastDelivered = delivered;
          lastRow = window_->CurrentRow;
          if (delivered >= reported + 50) {
            reported = delivered - delivered % 50;
            Progress(QStringLiteral("%1 sheets delivered, %2 rows written").arg(delivered).arg(lastRow - startRow_));
          }
          if (options_.disturbance != Disturbance::None) {
            ScheduleSave(delivered);
            SaveIfDue();
          }
          if (options_.disturbance == Disturbance::Loaded && modalHeldMs_ < 0 && delivered >= TotalSheets() / 2) HoldModalBox();
          return delivered >= TotalSheets() && !window_->tmrInputVal->isActive() && window_->PendingSheets.Empty() &&
                 Clock::now() - lastChange > kQuietAtEnd;
        },
        limit);
  }

  // A box the operator leaves open: a nested event loop, as every modal window runs.
  void HoldModalBox() {
    QMessageBox box(QMessageBox::Information, QStringLiteral("CellfeedWizard"), QStringLiteral("A box left open for a while."));
    QTimer::singleShot(options_.modalHold, Qt::PreciseTimer, &box, &QDialog::accept);  // a coarse one closes 5 % early
    const Clock::time_point start = Clock::now();
    box.exec();
    modalHeldMs_ = Ms(Clock::now() - start);
    Progress(QStringLiteral("a modal box was open for %1 ms").arg(modalHeldMs_, 0, 'f', 0));
  }

  // File Save, as the operator chooses it from the menu: at the top of the
  // UI thread's loop, the chosen time after a sheet's last byte. Disturbed:
  // the saves follow sheets spread evenly over the run (one: the middle
  // sheet). Loaded: after every few sheets; a save point passed during a
  // long save is skipped rather than saved back to back.
  int SavePoint(int index) const {
    if (options_.disturbance == Disturbance::Loaded) return (index + 1) * options_.saveEvery;
    return options_.sheets * (index + 1) / (options_.saves + 1);
  }
  bool MoreSaves() const {
    if (options_.disturbance == Disturbance::Loaded) return nextSavePoint_ <= TotalSheets();
    return static_cast<int>(saves_.size()) < options_.saves;
  }

  void ScheduleSave(int delivered) {
    if (saveTimerSet_ || saveDue_) return;
    if (nextSavePoint_ == 0) nextSavePoint_ = SavePoint(0);
    if (!MoreSaves() || delivered < nextSavePoint_) return;
    saveTimerSet_ = true;
    pendingSavePoint_ = nextSavePoint_;
    const Clock::time_point due = delivered_.Snapshot()[static_cast<size_t>(pendingSavePoint_ - 1)].deliveredAt + options_.saveAfter;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
    QTimer::singleShot(std::max(wait, std::chrono::milliseconds(0)), Qt::PreciseTimer, window_.get(), [this] {
      saveTimerSet_ = false;
      saveDue_ = true;
    });
  }

  void SaveIfDue() {
    if (!saveDue_) return;
    saveDue_ = false;
    const QDateTime before = QFileInfo(options_.workbook).lastModified();
    const Clock::time_point start = Clock::now();
    window_->Save1->trigger();
    const double seconds = Ms(Clock::now() - start) / 1000.0;
    const QFileInfo after(options_.workbook);
    const int afterSheet = pendingSavePoint_;
    saves_.push_back({afterSheet, seconds, after.exists() && after.lastModified() != before});
    nextSavePoint_ = options_.disturbance == Disturbance::Loaded
                         ? std::max(afterSheet + options_.saveEvery, (delivered_.Count() / options_.saveEvery + 1) * options_.saveEvery)
                         : SavePoint(static_cast<int>(saves_.size()));
    savedMib_ = static_cast<double>(after.size()) / 1048576.0;
    Progress(QStringLiteral("File Save after sheet %1 took %2 s").arg(afterSheet).arg(seconds, 0, 'f', 2));
  }

  QJsonObject Figures() {
    const std::vector<DeliveredSheet> delivered = delivered_.Snapshot();
    std::vector<WrittenRow> rows;
    for (int row = startRow_; row < window_->CurrentRow; ++row) rows.push_back({row, ReadRow(*window_, row), probe_->RowCompleted(row)});
    const AuditResult audit = AuditRows(delivered, rows, 64, startRow_);
    const bool nothingBeyond = ReadRow(*window_, window_->CurrentRow).join(QString()).isEmpty();

    // Where the time goes: line to decoded record, decoded record to finished row.
    const std::vector<Clock::time_point> decoded = RecordDecodeTimes(probe_->decodes);
    std::vector<double> serial;
    std::vector<double> decodeToRow;
    for (size_t i = 0; i < audit.latencySheet.size(); ++i) {
      const auto sheet = static_cast<size_t>(audit.latencySheet[i]);
      if (sheet >= decoded.size()) continue;
      const double toDecode = Ms(decoded[sheet] - delivered[sheet].deliveredAt);
      serial.push_back(toDecode);
      decodeToRow.push_back(audit.latencyMs[i] - toDecode);
    }
    std::vector<double> tickMs;
    for (const auto& t : probe_->ticks) tickMs.push_back(Ms(t.end - t.start));

    const machine_sim::SimulatorStatus status = machine_->Status();
    QJsonObject out{
        {"run", RunName(options_.disturbance)},
        {"sheets_scheduled", TotalSheets()},
        {"sheets_dropped", static_cast<int>(status.sheetsDropped)},
        {"sheets_sent", static_cast<int>(delivered.size())},
        {"records_decoded", static_cast<int>(decoded.size())},
        {"rows_written", window_->CurrentRow - startRow_},
        {"start_row", startRow_},
        {"sheets_matched", audit.sheetsMatched},
        {"sheets_lost", audit.sheetsLost},
        {"sheets_merged", audit.sheetsMerged},
        {"sheets_misplaced", audit.sheetsMisplaced},
        {"rows_merged", audit.rowsMerged},
        {"blocks_unmatched", audit.blocksUnmatched},
        {"nothing_beyond_last_row", nothingBeyond},
        {"latency_ms", ToJson(Summarise(audit.latencyMs))},
        {"line_to_decode_ms", ToJson(Summarise(serial))},
        {"decode_to_row_ms", ToJson(Summarise(decodeToRow))},
        {"writer_tick_ms", ToJson(Summarise(tickMs))},
        {"writer_ticks", static_cast<int>(probe_->ticks.size())},
        {"input_timer", window_->tmrInputVal->timerType() == Qt::PreciseTimer ? "precise" : "coarse"},
        {"open_and_start_s", openSeconds_},
        {"peak_mib", static_cast<double>(PeakKib()) / 1024.0},
        {"messages", QJsonArray::fromStringList(ui_.messages)},
    };
    if (!saves_.empty()) {
      std::vector<double> seconds;
      QJsonArray afterSheets;
      bool rewritten = true;
      for (const SaveDone& save : saves_) {
        seconds.push_back(save.seconds);
        afterSheets.append(save.afterSheet);
        rewritten = rewritten && save.fileRewritten;
      }
      const Summary saveTimes = Summarise(seconds);
      out["saves"] = static_cast<int>(saves_.size());
      out["save_s_median"] = saveTimes.median;
      out["save_s_max"] = saveTimes.max;
      out["save_after_sheets"] = afterSheets;
      out["save_after_ms"] = static_cast<int>(options_.saveAfter.count());
      out["saved_file_rewritten"] = rewritten;
      out["saved_file_mib"] = savedMib_;
    }
    QJsonArray worst;  // the slowest sheets: which ones, and how late
    std::vector<size_t> order(audit.latencyMs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return audit.latencyMs[a] > audit.latencyMs[b]; });
    for (size_t i = 0; i < std::min<size_t>(5, order.size()); ++i)
      worst.append(QJsonArray{audit.latencySheet[order[i]] + 1, audit.latencyMs[order[i]]});
    out["slowest_sheets"] = worst;
    // What the crash journal costs a row: its append, write and fdatasync.
    if (window_->Journal) out["journal_append_ms"] = ToJson(Summarise(window_->Journal->AppendTimesMs()));
    out["load_average_before"] = loadBefore_;
    out["load_average_after"] = LoadAverage();
    if (options_.disturbance == Disturbance::Loaded) {
      out["cpu_hogs"] = hogs_ ? hogs_->Running() : 0;
      out["modal_held_ms"] = modalHeldMs_;
    }
    QJsonArray findings;  // every row that is not one whole sheet
    for (const RowFinding& f : audit.findings) {
      QJsonArray sheets;
      for (int sheet : f.sheets) sheets.append(sheet + 1);
      findings.append(QJsonObject{{"row", f.row},
                                  {"values", f.values},
                                  {"sheets", sheets},
                                  {"unmatched_blocks", f.unmatchedBlocks},
                                  {"starts_with", f.firstValues}});
    }
    out["row_findings"] = findings;
    return out;
  }

  QJsonObject Failure(const QString& why) {
    Progress(why);
    return {{"run", RunName(options_.disturbance)},
            {"error", why},
            {"messages", QJsonArray::fromStringList(ui_.messages)}};
  }

  static void Progress(const QString& text) { std::fprintf(stderr, "  %s\n", qPrintable(text)); }

  const RunOptions options_;
  BenchResponder ui_;
  DeliveryLog delivered_;
  std::unique_ptr<machine_sim::MachineSimulator> machine_;
  std::unique_ptr<TfrmMain> window_;
  std::unique_ptr<WindowProbe> probe_;
  std::unique_ptr<CpuHogs> hogs_;
  std::unique_ptr<SheetSchedule> schedule_;
  double loadBefore_ = 0;
  double modalHeldMs_ = -1;  // not yet held
  int startRow_ = 0;
  double openSeconds_ = 0;
  struct SaveDone {
    int afterSheet;
    double seconds;
    bool fileRewritten;
  };
  std::vector<SaveDone> saves_;
  bool saveTimerSet_ = false;  // the next save's moment is set
  bool saveDue_ = false;       // ... and has come
  int nextSavePoint_ = 0;      // the sheet the next save follows (0: not set yet)
  int pendingSavePoint_ = 0;   // the sheet the save whose moment is set follows
  double savedMib_ = 0;
};

}  // namespace

QJsonObject RunScanPath(const RunOptions& options) { return Run(options).Execute(); }

QString RunName(Disturbance disturbance) {
  switch (disturbance) {
    case Disturbance::None: return QStringLiteral("undisturbed");
    case Disturbance::SaveLargeWorkbook: return QStringLiteral("disturbed");
    case Disturbance::Loaded: break;
  }
  return QStringLiteral("loaded");
}

}  // namespace scan_bench
