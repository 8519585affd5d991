// The whole scanning path, end to end: the machine simulator at 19200 baud on a
// pseudo-terminal dropping 66-column sheets, the real main window with its
// serial port component and the built-in spreadsheet server, offscreen. Runs
// side by side, each in a process of its own:
//   undisturbed: File New, Start Scanning; N sheets every 700 ms, then a
//      burst of 4 within 300 ms, then N sheets every 700 ms again;
//   loaded: the same sheets, with two processes spinning on the processors
//      beside it, scanning into a workbook already holding 64,900 rows of 66
//      short texts that is saved (File Save, on the UI thread) after every 10
//      sheets, and a modal box held open for 2 s half-way through;
//   disturbed (only when asked for): N sheets every 700 ms into a workbook of
//      65,000 rows, saved once half-way through.
// Per run: sheets sent, rows written, sheets lost, merged into another
// sheet's row or misplaced (each row compared with the simulator's expected
// rows, in order and at its place), the time from a record's last byte on the
// line to its row being complete in the workbook, and the crash journal's
// cost per row, median and 99th percentile.
//
//   scan_path_bench [--sheets N] [--interval MS] [--workdir DIR]
//                   [--only undisturbed|loaded|disturbed[,...]] [--seed S]
//                   [--burst K] [--burst-window MS] [--save-every N] [--hogs N] [--modal-ms MS]
//                   [--save-after MS] [--saves K] [--precise-input-timer]
//                   [--scored] [--loaded-rows N]
//
// The loaded workbook has 64,900 rows, not 65,000, so that the 604 sheets of
// the run still fit the worksheet's 65,536 rows.
//
// --save-after: when File Save starts, after the middle sheet's last byte
// (default 450: just before that sheet's writer tick is due).
// --saves: K saves after sheets spread evenly over the disturbed run
// (default 1), to sample how often a save and a record meet.
// --scored: a 40-question answer key laid out in the workbook before the
// sheets come, as OK in Scan > Answer Key... does: each row is also scored.
// --loaded-rows: the rows of the loaded run's workbook (default 64,900); a
// scored run over a class-sized workbook compares with the same unscored.
// --precise-input-timer: an experiment on the product, not the product: the
// row writer's timer switched from the toolkit's coarse default to precise.
//
// The pre-filled workbooks are made once through the server's late-bound calls
// and kept in WORKDIR (default: the current folder) for later runs.

#include "uikit/CellfeedApplication.h"
#include "automation/ComObj.h"
#include "bench/app/BenchLoad.h"
#include "bench/app/ScanRun.h"
#include "spreadsheet/server/SheetView.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace {

constexpr int kColumns = 66;
constexpr int kDisturbedRows = 65000;
constexpr int kLoadedRows = 64900;

QString WorkbookName(int rows) { return QStringLiteral("scan-bench-%1x66.xls").arg(rows); }

struct Options {
  int sheets = 300;
  int intervalMs = 700;
  QString workdir = QDir::currentPath();
  QStringList runs{"undisturbed", "loaded"};
  unsigned seed = 1;
  int saveAfterMs = 450;
  int saves = 1;
  int burst = 4;
  int burstWindowMs = 300;
  int saveEvery = 10;
  int hogs = 2;
  int modalMs = 2000;
  bool preciseInputTimer = false;
  // The workbook's scoring laid out with a 40-question key before the sheets
  // come, so each row also gets its score and statistics.
  bool scored = false;
  int loadedRows = kLoadedRows;  // the loaded run's workbook
  // Internal: one run in this process, the workbook to make, or a spinning process.
  QString child;
  QString scratch;
  QString workbook;
  QString generate;
  int generateRows = 0;
  bool burn = false;
};

std::optional<Options> ParseOptions(const QStringList& args) {
  Options o;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--precise-input-timer" || a == "--burn" || a == "--scored") {
      (a == "--burn" ? o.burn : a == "--scored" ? o.scored : o.preciseInputTimer) = true;
      continue;
    }
    const bool hasValue = i + 1 < args.size();
    if (!hasValue) return std::nullopt;
    const QString v = args[++i];
    bool ok = true;
    if (a == "--sheets") o.sheets = v.toInt(&ok);
    else if (a == "--interval") o.intervalMs = v.toInt(&ok);
    else if (a == "--workdir") o.workdir = v;
    else if (a == "--only") o.runs = v.split(',');
    else if (a == "--seed") o.seed = v.toUInt(&ok);
    else if (a == "--save-after") o.saveAfterMs = v.toInt(&ok);
    else if (a == "--saves") o.saves = v.toInt(&ok);
    else if (a == "--burst") o.burst = v.toInt(&ok);
    else if (a == "--burst-window") o.burstWindowMs = v.toInt(&ok);
    else if (a == "--save-every") o.saveEvery = v.toInt(&ok);
    else if (a == "--hogs") o.hogs = v.toInt(&ok);
    else if (a == "--modal-ms") o.modalMs = v.toInt(&ok);
    else if (a == "--rows") o.generateRows = v.toInt(&ok);
    else if (a == "--child") o.child = v;
    else if (a == "--scratch") o.scratch = v;
    else if (a == "--workbook") o.workbook = v;
    else if (a == "--loaded-rows") o.loadedRows = v.toInt(&ok);
    else if (a == "--generate") o.generate = v;
    else return std::nullopt;
    if (!ok) return std::nullopt;
  }
  if (o.sheets < 2 || o.intervalMs < 1 || o.saveAfterMs < 0 || o.saves < 1 || o.saves > o.sheets / 2) return std::nullopt;
  if (o.burst < 0 || o.burstWindowMs < 0 || o.saveEvery < 1 || o.hogs < 0 || o.modalMs < 0) return std::nullopt;
  for (const QString& run : o.runs) {
    if (run != "undisturbed" && run != "disturbed" && run != "loaded") return std::nullopt;
  }
  return o;
}

// Answer-sheet-like short texts; column A is never empty, so the row search
// passes over every pre-filled row.
QString PrefilledText(int row, int col) {
  static const char* const kMarks[] = {"1", "2", "3", "4", "5", "6", "12", "34", " ", "16", "256", "1234"};
  return QString::fromLatin1(kMarks[(row * 7 + col * 3) % std::size(kMarks)]);
}

// A pre-filled workbook, made as any automation client would make it.
int Generate(const QString& path, int prefilledRows) {
  RegisterSpreadsheetServer();
  QElapsedTimer timer;
  timer.start();
  const OleVariant app = CreateOleObject(QStringLiteral("Excel.Application"));
  const OleVariant book = app.Get(QStringLiteral("Workbooks")).Get(QStringLiteral("Add"));
  const OleVariant sheet = app.Get(QStringLiteral("Sheets"), {1});
  for (int row = 1; row <= prefilledRows; ++row) {
    for (int col = 1; col <= kColumns; ++col)
      sheet.Get(QStringLiteral("Cells"), {row, col}).Put(QStringLiteral("Value"), PrefilledText(row, col));
  }
  const double filled = timer.nsecsElapsed() / 1e9;
  book.Call(QStringLiteral("SaveAs"), {path});  // written beside and renamed: never half a file
  app.Call(QStringLiteral("Quit"));
  std::fprintf(stderr, "  filled %d x %d cells in %.1f s, saved in %.1f s\n", prefilledRows, kColumns, filled,
               timer.nsecsElapsed() / 1e9 - filled);
  return 0;
}

int RunChild(const Options& o) {
  scan_bench::RunOptions run;
  run.disturbance = o.child == "disturbed" ? scan_bench::Disturbance::SaveLargeWorkbook
                    : o.child == "loaded"  ? scan_bench::Disturbance::Loaded
                                           : scan_bench::Disturbance::None;
  // The undisturbed run has the loaded run's sheets, so the two compare.
  run.burstSheets = o.child == "disturbed" ? 0 : o.burst;
  run.burstWindow = std::chrono::milliseconds(o.burstWindowMs);
  run.saveEvery = o.saveEvery;
  run.cpuHogs = o.hogs;
  run.modalHold = std::chrono::milliseconds(o.modalMs);
  run.program = QCoreApplication::applicationFilePath();
  run.sheets = o.sheets;
  run.scanInterval = std::chrono::milliseconds(o.intervalMs);
  run.scratch = o.scratch;
  run.workbook = o.workbook;
  run.seed = o.seed;
  run.saveAfter = std::chrono::milliseconds(o.saveAfterMs);
  run.saves = o.saves;
  run.preciseInputTimer = o.preciseInputTimer;
  run.scored = o.scored;
  const QJsonObject figures = scan_bench::RunScanPath(run);
  std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
  return figures.contains("error") ? 1 : 0;
}

// Runs this program again with `args`; the last line it prints is its JSON.
QJsonObject Spawn(const QStringList& args) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(QCoreApplication::applicationFilePath(), args);
  process.waitForFinished(-1);
  const QByteArray out = process.readAllStandardOutput().trimmed();
  const QJsonObject result = QJsonDocument::fromJson(out.mid(out.lastIndexOf('\n') + 1)).object();
  if (result.isEmpty()) return {{"error", QStringLiteral("the run ended without figures (exit %1)").arg(process.exitCode())}};
  return result;
}

QString EnsureWorkbook(const Options& o, int rows) {
  const QString path = QDir(o.workdir).filePath(WorkbookName(rows));
  if (!QFileInfo::exists(path)) {
    std::fprintf(stderr, "Making %s through the server's late-bound calls ...\n", qPrintable(path));
    Spawn({"--generate", path, "--rows", QString::number(rows)});
  }
  return path;
}

QJsonObject RunOne(const Options& o, const QString& kind) {
  QTemporaryDir scratch(QDir(o.workdir).filePath(QStringLiteral("scan-bench-run-XXXXXX")));
  QStringList args{"--child",    kind,
                   "--sheets",   QString::number(o.sheets),
                   "--interval", QString::number(o.intervalMs),
                   "--seed",     QString::number(o.seed),
                   "--save-after", QString::number(o.saveAfterMs),
                   "--saves",    QString::number(o.saves),
                   "--burst",    QString::number(o.burst),
                   "--burst-window", QString::number(o.burstWindowMs),
                   "--save-every", QString::number(o.saveEvery),
                   "--hogs",     QString::number(o.hogs),
                   "--modal-ms", QString::number(o.modalMs),
                   "--scratch",  scratch.path()};
  if (o.preciseInputTimer) args << "--precise-input-timer";
  if (o.scored) args << "--scored";
  if (kind != "undisturbed") {
    // The run saves over the workbook it opened: it gets a copy.
    const QString pristine = EnsureWorkbook(o, kind == "loaded" ? o.loadedRows : kDisturbedRows);
    const QString copy = scratch.filePath(QFileInfo(pristine).fileName());
    if (!QFile::copy(pristine, copy)) return {{"error", QStringLiteral("cannot copy %1").arg(pristine)}};
    args << "--workbook" << copy;
  }
  std::fprintf(stderr, "Run %s: %d sheets every %d ms%s ...\n", qPrintable(kind), o.sheets, o.intervalMs,
               kind == "disturbed" ? "" : qPrintable(QStringLiteral(", %1 within %2 ms, %3 more").arg(o.burst).arg(o.burstWindowMs).arg(o.sheets)));
  return Spawn(args);
}

// ---- the table ----

QString Number(const QJsonValue& v, int decimals = 0) {
  if (v.isUndefined() || v.isNull()) return QStringLiteral("-");
  if (v.isBool()) return v.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
  return QString::number(v.toDouble(), 'f', decimals);
}

void PrintLine(const QString& label, const QStringList& cells) {
  std::printf("| %-46s |", qPrintable(label));
  for (const QString& cell : cells) std::printf(" %12s |", qPrintable(cell));
  std::printf("\n");
}

void PrintTable(const std::vector<QJsonObject>& runs, const Options& o) {
  std::printf("\nScanning path, sheets of %d columns at 19200 baud: %d every %d ms, %d within %d ms, %d every %d ms%s\n", kColumns,
              o.sheets, o.intervalMs, o.burst, o.burstWindowMs, o.sheets, o.intervalMs,
              o.preciseInputTimer ? " (experiment: input timer made precise)" : "");
  std::printf("(disturbed: %d every %d ms). Loaded: %d spinning processes, File Save after every %d sheets, a modal box "
              "held %d ms.\n\n",
              o.sheets, o.intervalMs, o.hogs, o.saveEvery, o.modalMs);
  QStringList names;
  for (const QJsonObject& r : runs) names << r["run"].toString(QStringLiteral("run"));
  PrintLine("", names);
  std::printf("|%s|", std::string(48, '-').c_str());
  for (qsizetype i = 0; i < names.size(); ++i) std::printf("%s|", std::string(14, '-').c_str());
  std::printf("\n");
  const auto row = [&](const QString& label, const std::function<QString(const QJsonObject&)>& f) {
    QStringList cells;
    for (const QJsonObject& r : runs) cells << f(r);
    PrintLine(label, cells);
  };
  const auto field = [](const char* name, int decimals = 0) {
    return [name, decimals](const QJsonObject& r) { return Number(r[name], decimals); };
  };
  const auto stat = [](const char* figure, const char* which, int decimals = 1) {
    return [figure, which, decimals](const QJsonObject& r) {
      const QJsonObject s = r[figure].toObject();
      return s["count"].toInt() == 0 ? QStringLiteral("-") : Number(s[which], decimals);
    };
  };
  row("sheets scheduled", field("sheets_scheduled"));
  row("sheets sent (last byte on the line)", field("sheets_sent"));
  row("records decoded", field("records_decoded"));
  row("rows written", field("rows_written"));
  row("first row written", field("start_row"));
  row("sheets lost", field("sheets_lost"));
  row("sheets merged into another sheet's row", field("sheets_merged"));
  row("rows holding more than one sheet", field("rows_merged"));
  row("sheets misplaced (not at their row)", field("sheets_misplaced"));
  row("rows matching no sheet (66-value blocks)", field("blocks_unmatched"));
  row("row after the last written one empty", field("nothing_beyond_last_row"));
  row("latency, last byte to row complete: median ms", stat("latency_ms", "median"));
  row("                                    p99 ms", stat("latency_ms", "p99"));
  row("                                    max ms", stat("latency_ms", "max"));
  row("  last byte to record decoded: median ms", stat("line_to_decode_ms", "median"));
  row("                               p99 ms", stat("line_to_decode_ms", "p99"));
  row("  decoded to row complete: median ms", stat("decode_to_row_ms", "median"));
  row("                           p99 ms", stat("decode_to_row_ms", "p99"));
  row("  row writer tick: median ms", stat("writer_tick_ms", "median"));
  row("                   p99 ms", stat("writer_tick_ms", "p99"));
  row("crash journal per row (write + fdatasync): n", stat("journal_append_ms", "count", 0));
  row("                                    median ms", stat("journal_append_ms", "median", 2));
  row("                                       p99 ms", stat("journal_append_ms", "p99", 2));
  row("                                       max ms", stat("journal_append_ms", "max", 2));
  row("input timer kind", [](const QJsonObject& r) { return r["input_timer"].toString(); });
  row("File New/Open to scanning, s", field("open_and_start_s", 2));
  row("File Save of the workbook: saves", field("saves"));
  row("  median s", field("save_s_median", 2));
  row("  max s", field("save_s_max", 2));
  row("  first after sheet", [](const QJsonObject& r) { return Number(r["save_after_sheets"].toArray().first()); });
  row("  ... ms after its last byte", field("save_after_ms"));
  row("saved file rewritten", field("saved_file_rewritten"));
  row("saved file, MiB", field("saved_file_mib", 1));
  row("spinning processes beside it", field("cpu_hogs"));
  row("modal box held open, ms", field("modal_held_ms"));
  row("load average before / after", [](const QJsonObject& r) {
    return Number(r["load_average_before"], 2) + " / " + Number(r["load_average_after"], 2);
  });
  row("peak memory, MiB", field("peak_mib", 1));
  row("messages shown", [](const QJsonObject& r) { return QString::number(r["messages"].toArray().size()); });

  for (const QJsonObject& r : runs) {
    const QString name = r["run"].toString(QStringLiteral("run"));
    if (r.contains("error")) std::printf("\n%s: FAILED: %s\n", qPrintable(name), qPrintable(r["error"].toString()));
    for (const QJsonValue& m : r["messages"].toArray()) std::printf("%s: message: %s\n", qPrintable(name), qPrintable(m.toString()));
    QStringList slow;
    for (const QJsonValue& v : r["slowest_sheets"].toArray())
      slow << QStringLiteral("#%1 %2 ms").arg(v.toArray()[0].toInt()).arg(v.toArray()[1].toDouble(), 0, 'f', 1);
    if (!slow.isEmpty()) std::printf("%s: slowest sheets: %s\n", qPrintable(name), qPrintable(slow.join(", ")));
    for (const QJsonValue& v : r["row_findings"].toArray()) {
      const QJsonObject f = v.toObject();
      QStringList sheets;
      for (const QJsonValue& sheet : f["sheets"].toArray()) sheets << QStringLiteral("#%1").arg(sheet.toInt());
      std::printf("%s: row %d holds %d values: sheets [%s], %d block(s) matching no sheet, starting \"%s\"\n", qPrintable(name),
                  f["row"].toInt(), f["values"].toInt(), qPrintable(sheets.join(' ')), f["unmatched_blocks"].toInt(),
                  qPrintable(f["starts_with"].toString()));
    }
  }
  std::printf("\nGoals: 0 sheets lost, merged or misplaced, every row exactly one sheet, in every run; undisturbed p99\n"
              "latency within 10 ms of the 500 ms writer interval.\n");
}

}  // namespace

int main(int argc, char** argv) {
  // Every run is offscreen; the command line decides the rest.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::optional<Options> options;
  {
    QCoreApplication probe(argc, argv);
    options = ParseOptions(QCoreApplication::arguments());
  }
  if (!options) {
    std::fprintf(stderr,
                 "usage: %s [--sheets N] [--interval MS] [--workdir DIR] [--only undisturbed|loaded|disturbed[,...]]\n"
                 "          [--seed S] [--burst K] [--burst-window MS] [--save-every N] [--hogs N] [--modal-ms MS]\n"
                 "          [--save-after MS] [--saves K] [--precise-input-timer] [--scored] [--loaded-rows N]\n",
                 argv[0]);
    return 2;
  }
  if (options->burn) scan_bench::Burn();
  if (!options->generate.isEmpty()) {
    QCoreApplication app(argc, argv);
    return Generate(options->generate, options->generateRows > 0 ? options->generateRows : kDisturbedRows);
  }
  if (!options->child.isEmpty()) {
    CellfeedApplication app(argc, argv);
    RegisterSpreadsheetServer();
    InstallSheetView();  // the server's live view, as the program shows it
    return RunChild(*options);
  }

  QCoreApplication app(argc, argv);
  QDir().mkpath(options->workdir);
  std::string command;
  for (int i = 0; i < argc; ++i) command += (i ? " " : "") + std::string(argv[i]);
  std::vector<QJsonObject> runs;
  for (const QString& kind : options->runs) runs.push_back(RunOne(*options, kind));
  PrintTable(runs, *options);
  std::printf("Command: %s\n", command.c_str());
  const bool failed = std::any_of(runs.begin(), runs.end(), [](const QJsonObject& r) { return r.contains("error"); });
  return failed ? 1 : 0;
}
