#include "bench/app/ScanRun.h"
#include "bench/PeakMemory.h"

#include "settings/Branding.h"
#include "app/CellfeedMain.h"
#include "settings/RunContext.h"
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
      const qsizetype before = window_.PendingColumns.size();
      window_.ApdComPort1TriggerAvail(port, count);
      const qsizetype added = window_.PendingColumns.size() - before;
      if (added > 0) decodes.push_back({Clock::now(), static_cast<int>((added + kSheetColumns - 1) / kSheetColumns)});
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

    const bool finished = Drive();
    QJsonObject figures = Figures();  // also after a stall: what did land is still counted
    if (!finished) figures["error"] = QStringLiteral("the run did not finish in time");
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
    config.scanInterval = options_.scanInterval;
    config.scanCount = options_.sheets;
    config.seed = options_.seed;
    config.keepHistory = false;
    config.sheetDelivered = [this](const machine_sim::ExpectedRow& row) { delivered_.Add(row); };
    return config;
  }

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
    const auto limit = options_.scanInterval * (options_.sheets + 20) + std::chrono::minutes(3);
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
          if (options_.disturbance == Disturbance::SaveLargeWorkbook) {
            ScheduleSave(delivered);
            SaveIfDue();
          }
          return delivered >= options_.sheets && !window_->tmrInputVal->isActive() && window_->PendingColumns.isEmpty() &&
                 window_->HeldRows.empty() && Clock::now() - lastChange > kQuietAtEnd;
        },
        limit);
  }

  // File Save, as the operator chooses it from the menu: at the top of the
  // UI thread's loop, the chosen time after a sheet's last byte. The saves
  // follow sheets spread evenly over the run (one: the middle sheet).
  int SavePoint(int index) const { return options_.sheets * (index + 1) / (options_.saves + 1); }

  void ScheduleSave(int delivered) {
    if (saveTimerSet_ || saveDue_) return;
    const int index = static_cast<int>(saves_.size());
    if (index >= options_.saves || delivered < SavePoint(index)) return;
    saveTimerSet_ = true;
    const Clock::time_point due = delivered_.Snapshot()[static_cast<size_t>(SavePoint(index) - 1)].deliveredAt + options_.saveAfter;
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
    const int afterSheet = SavePoint(static_cast<int>(saves_.size()));
    saves_.push_back({afterSheet, seconds, after.exists() && after.lastModified() != before});
    savedMib_ = static_cast<double>(after.size()) / 1048576.0;
    Progress(QStringLiteral("File Save after sheet %1 took %2 s").arg(afterSheet).arg(seconds, 0, 'f', 2));
  }

  QJsonObject Figures() {
    const std::vector<DeliveredSheet> delivered = delivered_.Snapshot();
    std::vector<WrittenRow> rows;
    for (int row = startRow_; row < window_->CurrentRow; ++row) rows.push_back({row, ReadRow(*window_, row), probe_->RowCompleted(row)});
    const AuditResult audit = AuditRows(delivered, rows);
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
        {"run", options_.disturbance == Disturbance::None ? "undisturbed" : "disturbed"},
        {"sheets_dropped", static_cast<int>(status.sheetsDropped)},
        {"sheets_sent", static_cast<int>(delivered.size())},
        {"records_decoded", static_cast<int>(decoded.size())},
        {"rows_written", window_->CurrentRow - startRow_},
        {"start_row", startRow_},
        {"sheets_matched", audit.sheetsMatched},
        {"sheets_lost", audit.sheetsLost},
        {"sheets_merged", audit.sheetsMerged},
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
    return {{"run", options_.disturbance == Disturbance::None ? "undisturbed" : "disturbed"},
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
  double savedMib_ = 0;
};

}  // namespace

QJsonObject RunScanPath(const RunOptions& options) { return Run(options).Execute(); }

}  // namespace scan_bench
