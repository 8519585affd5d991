// The whole scanning path, end to end: the machine simulator at 19200 baud on a
// pseudo-terminal dropping a 66-column sheet every 700 ms, the real main
// window with its serial port component and the built-in spreadsheet server,
// offscreen. Two runs side by side, each in a process of its own:
//   1. undisturbed: File New, Start Scanning, the sheets;
//   2. disturbed: File Open of a workbook already holding 65,000 rows of
//      66 short texts (scanning starts at row 65001), and File Save of that
//      workbook on the UI thread half-way through the sheets.
// Per run: sheets sent, rows written, sheets lost or merged into another
// sheet's row (each row compared with the simulator's expected rows, in
// order), and the time from a record's last byte on the line to its row being
// complete in the workbook, median and 99th percentile.
//
//   scan_path_bench [--sheets N] [--interval MS] [--workdir DIR]
//                   [--only undisturbed|disturbed] [--seed S]
//                   [--save-after MS] [--saves K] [--precise-input-timer]
//
// --save-after: when File Save starts, after the middle sheet's last byte
// (default 450: just before that sheet's writer tick is due).
// --saves: K saves after sheets spread evenly over the disturbed run
// (default 1), to sample how often a save and a record meet.
// --precise-input-timer: an experiment on the product, not the product: the
// row writer's timer switched from the toolkit's coarse default to precise.
//
// The 65,000-row workbook is made once through the server's late-bound calls
// and kept in WORKDIR (default: the current folder) for later runs.

#include "uikit/CellfeedApplication.h"
#include "automation/ComObj.h"
#include "bench/app/ScanRun.h"
#include "spreadsheet/SheetView.h"
#include "spreadsheet/SpreadsheetServer.h"

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

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace {

constexpr int kPrefilledRows = 65000;
constexpr int kColumns = 66;
const char* const kWorkbookName = "scan-bench-65000x66.xls";

struct Options {
  int sheets = 300;
  int intervalMs = 700;
  QString workdir = QDir::currentPath();
  QString only;  // empty: both runs
  unsigned seed = 1;
  int saveAfterMs = 450;
  int saves = 1;
  bool preciseInputTimer = false;
  // Internal: one run in this process, or the workbook to make.
  QString child;
  QString scratch;
  QString workbook;
  QString generate;
};

std::optional<Options> ParseOptions(const QStringList& args) {
  Options o;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--precise-input-timer") {
      o.preciseInputTimer = true;
      continue;
    }
    const bool hasValue = i + 1 < args.size();
    if (!hasValue) return std::nullopt;
    const QString v = args[++i];
    bool ok = true;
    if (a == "--sheets") o.sheets = v.toInt(&ok);
    else if (a == "--interval") o.intervalMs = v.toInt(&ok);
    else if (a == "--workdir") o.workdir = v;
    else if (a == "--only") o.only = v;
    else if (a == "--seed") o.seed = v.toUInt(&ok);
    else if (a == "--save-after") o.saveAfterMs = v.toInt(&ok);
    else if (a == "--saves") o.saves = v.toInt(&ok);
    else if (a == "--child") o.child = v;
    else if (a == "--scratch") o.scratch = v;
    else if (a == "--workbook") o.workbook = v;
    else if (a == "--generate") o.generate = v;
    else return std::nullopt;
    if (!ok) return std::nullopt;
  }
  if (o.sheets < 2 || o.intervalMs < 1 || o.saveAfterMs < 0 || o.saves < 1 || o.saves > o.sheets / 2) return std::nullopt;
  if (!o.only.isEmpty() && o.only != "undisturbed" && o.only != "disturbed") return std::nullopt;
  return o;
}

// Answer-sheet-like short texts; column A is never empty, so the row search
// passes over every pre-filled row.
QString PrefilledText(int row, int col) {
  static const char* const kMarks[] = {"1", "2", "3", "4", "5", "6", "12", "34", " ", "16", "256", "1234"};
  return QString::fromLatin1(kMarks[(row * 7 + col * 3) % std::size(kMarks)]);
}

// The pre-filled workbook, made as any automation client would make it.
int Generate(const QString& path) {
  RegisterSpreadsheetServer();
  QElapsedTimer timer;
  timer.start();
  const OleVariant app = CreateOleObject(QStringLiteral("Excel.Application"));
  const OleVariant book = app.Get(QStringLiteral("Workbooks")).Get(QStringLiteral("Add"));
  const OleVariant sheet = app.Get(QStringLiteral("Sheets"), {1});
  for (int row = 1; row <= kPrefilledRows; ++row) {
    for (int col = 1; col <= kColumns; ++col)
      sheet.Get(QStringLiteral("Cells"), {row, col}).Put(QStringLiteral("Value"), PrefilledText(row, col));
  }
  const double filled = timer.nsecsElapsed() / 1e9;
  book.Call(QStringLiteral("SaveAs"), {path});  // written beside and renamed: never half a file
  app.Call(QStringLiteral("Quit"));
  std::fprintf(stderr, "  filled %d x %d cells in %.1f s, saved in %.1f s\n", kPrefilledRows, kColumns, filled,
               timer.nsecsElapsed() / 1e9 - filled);
  return 0;
}

int RunChild(const Options& o) {
  scan_bench::RunOptions run;
  run.disturbance = o.child == "disturbed" ? scan_bench::Disturbance::SaveLargeWorkbook : scan_bench::Disturbance::None;
  run.sheets = o.sheets;
  run.scanInterval = std::chrono::milliseconds(o.intervalMs);
  run.scratch = o.scratch;
  run.workbook = o.workbook;
  run.seed = o.seed;
  run.saveAfter = std::chrono::milliseconds(o.saveAfterMs);
  run.saves = o.saves;
  run.preciseInputTimer = o.preciseInputTimer;
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

QString EnsureWorkbook(const Options& o) {
  const QString path = QDir(o.workdir).filePath(kWorkbookName);
  if (!QFileInfo::exists(path)) {
    std::fprintf(stderr, "Making %s through the server's late-bound calls ...\n", qPrintable(path));
    Spawn({"--generate", path});
  }
  return path;
}

QJsonObject RunOne(const Options& o, const QString& kind, const QString& pristine) {
  QTemporaryDir scratch(QDir(o.workdir).filePath(QStringLiteral("scan-bench-run-XXXXXX")));
  QStringList args{"--child",    kind,
                   "--sheets",   QString::number(o.sheets),
                   "--interval", QString::number(o.intervalMs),
                   "--seed",     QString::number(o.seed),
                   "--save-after", QString::number(o.saveAfterMs),
                   "--saves",    QString::number(o.saves),
                   "--scratch",  scratch.path()};
  if (o.preciseInputTimer) args << "--precise-input-timer";
  if (kind == "disturbed") {
    // The run saves over the workbook it opened: it gets a copy.
    const QString copy = scratch.filePath(kWorkbookName);
    if (!QFile::copy(pristine, copy)) return {{"error", QStringLiteral("cannot copy %1").arg(pristine)}};
    args << "--workbook" << copy;
  }
  std::fprintf(stderr, "Run %s: %d sheets every %d ms ...\n", qPrintable(kind), o.sheets, o.intervalMs);
  return Spawn(args);
}

// ---- the table ----

QString Number(const QJsonValue& v, int decimals = 0) {
  if (v.isUndefined() || v.isNull()) return QStringLiteral("-");
  if (v.isBool()) return v.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
  return QString::number(v.toDouble(), 'f', decimals);
}

QString Stat(const QJsonObject& run, const char* figure, const char* which) {
  const QJsonObject s = run[figure].toObject();
  return s["count"].toInt() == 0 ? QStringLiteral("-") : Number(s[which], 1);
}

void PrintLine(const QString& label, const QString& a, const QString& b) {
  std::printf("| %-44s | %12s | %12s |\n", qPrintable(label), qPrintable(a), qPrintable(b));
}

void PrintTable(const QJsonObject& u, const QJsonObject& d, const Options& o) {
  std::printf("\nScanning path, %d sheets of %d columns, one every %d ms, 19200 baud%s\n\n", o.sheets, kColumns, o.intervalMs,
              o.preciseInputTimer ? " (experiment: input timer made precise)" : "");
  PrintLine("", "undisturbed", "disturbed");
  std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(14, '-').c_str(), std::string(14, '-').c_str());
  const auto row = [&](const QString& label, const std::function<QString(const QJsonObject&)>& f) {
    PrintLine(label, u.isEmpty() ? "-" : f(u), d.isEmpty() ? "-" : f(d));
  };
  const auto field = [](const char* name, int decimals = 0) {
    return [name, decimals](const QJsonObject& r) { return Number(r[name], decimals); };
  };
  row("sheets sent (last byte on the line)", field("sheets_sent"));
  row("records decoded", field("records_decoded"));
  row("rows written", field("rows_written"));
  row("first row written", field("start_row"));
  row("sheets lost", field("sheets_lost"));
  row("sheets merged into another sheet's row", field("sheets_merged"));
  row("rows holding more than one sheet", field("rows_merged"));
  row("rows matching no sheet (66-value blocks)", field("blocks_unmatched"));
  row("row after the last written one empty", field("nothing_beyond_last_row"));
  row("latency, last byte to row complete: median ms", [](const QJsonObject& r) { return Stat(r, "latency_ms", "median"); });
  row("                                    p99 ms", [](const QJsonObject& r) { return Stat(r, "latency_ms", "p99"); });
  row("                                    max ms", [](const QJsonObject& r) { return Stat(r, "latency_ms", "max"); });
  row("  last byte to record decoded: median ms", [](const QJsonObject& r) { return Stat(r, "line_to_decode_ms", "median"); });
  row("                               p99 ms", [](const QJsonObject& r) { return Stat(r, "line_to_decode_ms", "p99"); });
  row("  decoded to row complete: median ms", [](const QJsonObject& r) { return Stat(r, "decode_to_row_ms", "median"); });
  row("                           p99 ms", [](const QJsonObject& r) { return Stat(r, "decode_to_row_ms", "p99"); });
  row("  row writer tick: median ms", [](const QJsonObject& r) { return Stat(r, "writer_tick_ms", "median"); });
  row("                   p99 ms", [](const QJsonObject& r) { return Stat(r, "writer_tick_ms", "p99"); });
  row("input timer kind", [](const QJsonObject& r) { return r["input_timer"].toString(); });
  row("File New/Open to scanning, s", field("open_and_start_s", 2));
  row("File Save of the workbook: saves", field("saves"));
  row("  median s", field("save_s_median", 2));
  row("  max s", field("save_s_max", 2));
  row("  first after sheet", [](const QJsonObject& r) { return Number(r["save_after_sheets"].toArray().first()); });
  row("  ... ms after its last byte", field("save_after_ms"));
  row("saved file rewritten", field("saved_file_rewritten"));
  row("saved file, MiB", field("saved_file_mib", 1));
  row("peak memory, MiB", field("peak_mib", 1));
  row("messages shown", [](const QJsonObject& r) { return QString::number(r["messages"].toArray().size()); });

  for (const QJsonObject& r : {u, d}) {
    if (r.isEmpty()) continue;
    const QString name = r["run"].toString(QStringLiteral("run"));
    if (r.contains("error")) std::printf("\n%s: FAILED: %s\n", qPrintable(name), qPrintable(r["error"].toString()));
    for (const QJsonValue& m : r["messages"].toArray()) std::printf("%s: message: %s\n", qPrintable(name), qPrintable(m.toString()));
    QStringList slow;
    for (const QJsonValue& s : r["slowest_sheets"].toArray())
      slow << QStringLiteral("#%1 %2 ms").arg(s.toArray()[0].toInt()).arg(s.toArray()[1].toDouble(), 0, 'f', 1);
    if (!slow.isEmpty()) std::printf("%s: slowest sheets: %s\n", qPrintable(name), qPrintable(slow.join(", ")));
    for (const QJsonValue& v : r["row_findings"].toArray()) {
      const QJsonObject f = v.toObject();
      QStringList sheets;
      for (const QJsonValue& s : f["sheets"].toArray()) sheets << QStringLiteral("#%1").arg(s.toInt());
      std::printf("%s: row %d holds %d values: sheets [%s], %d block(s) matching no sheet, starting \"%s\"\n", qPrintable(name),
                  f["row"].toInt(), f["values"].toInt(), qPrintable(sheets.join(' ')), f["unmatched_blocks"].toInt(),
                  qPrintable(f["starts_with"].toString()));
    }
  }
  std::printf("\nGoals: 0 sheets lost or merged; undisturbed p99 latency within 10 ms of the 500 ms writer interval.\n");
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
                 "usage: %s [--sheets N] [--interval MS] [--workdir DIR] [--only undisturbed|disturbed] [--seed S]\n"
                 "          [--save-after MS] [--saves K] [--precise-input-timer]\n",
                 argv[0]);
    return 2;
  }
  if (!options->generate.isEmpty()) {
    QCoreApplication app(argc, argv);
    return Generate(options->generate);
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
  const bool both = options->only.isEmpty();
  const QString pristine = both || options->only == "disturbed" ? EnsureWorkbook(*options) : QString();
  const QJsonObject undisturbed = both || options->only == "undisturbed" ? RunOne(*options, "undisturbed", pristine) : QJsonObject();
  const QJsonObject disturbed = both || options->only == "disturbed" ? RunOne(*options, "disturbed", pristine) : QJsonObject();
  PrintTable(undisturbed, disturbed, *options);
  std::printf("Command: %s\n", command.c_str());
  const bool failed = undisturbed.contains("error") || disturbed.contains("error");
  return failed ? 1 : 0;
}
