// Benchmark of the built-in spreadsheet server on a large workbook:
// 65,000 rows x 66 columns of short texts (about 59 MiB as .xls).
//
//   spreadsheet_bench [WORKDIR]
//
// Makes the workbook once (kept in WORKDIR, default the current folder),
// then in separate processes, so each peak memory is its own:
//   - the server: open, find the first empty row through late-bound calls
//     as the row search does, write one row of 66 cells, save;
//   - xlrd + xlwt doing the same job (xlrd_xlwt_bench.py).
// Prints wall time and peak memory side by side, and the row search alone.

#include "automation/ComObj.h"
#include "bench/ChildResult.h"
#include "bench/PeakMemory.h"
#include "spreadsheet/server/SpreadsheetServer.h"
#include "spreadsheet/server/Workbook.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int kRows = 65000;
constexpr int kColumns = 66;

// Answer-sheet-like content: a row number, then marks and blanks.
void Generate(const QString& path) {
  const QString marks[] = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"),
                           QStringLiteral("E"), QStringLiteral(" "), QStringLiteral("AB"), QStringLiteral("1")};
  const std::unique_ptr<Workbook> book = Workbook::CreateBlank();
  Worksheet& sheet = book->Sheet(0);
  for (uint32_t row = 0; row < kRows; ++row) {
    sheet.SetText(row, 0, QString::number(row % 997 + 1));
    for (uint32_t col = 1; col < kColumns; ++col) sheet.SetText(row, col, marks[(row * 7 + col * 3) % std::size(marks)]);
  }
  book->SaveAs(path);
}

// The server's side, in its own process.
int Measure(const QString& source, const QString& target) {
  QFile::remove(target);
  QFile::copy(source, target);
  RegisterSpreadsheetServer();
  QElapsedTimer total;
  total.start();
  const OleVariant excel = CreateOleObject(QStringLiteral("Excel.Application"));
  excel.Get(QStringLiteral("Workbooks")).Call(QStringLiteral("Open"), {target, false});
  const qint64 opened = total.nsecsElapsed();
  const long peakAfterOpen = PeakKib();

  QElapsedTimer search;
  search.start();
  excel.Get(QStringLiteral("ActiveWorkBook")).Get(QStringLiteral("Sheets")).Get(QStringLiteral("Item"), {1}).Call(QStringLiteral("Unprotect"));
  int row = 1;
  while (row < 65500 && !excel.Get(QStringLiteral("Sheets"), {1})
                             .Get(QStringLiteral("Cells"), {row, 1})
                             .Get(QStringLiteral("Value"))
                             .ToText()
                             .isEmpty()) {
    ++row;
  }
  const qint64 searchNs = search.nsecsElapsed();

  for (int col = 1; col <= kColumns; ++col) {
    excel.Get(QStringLiteral("Sheets"), {1})
        .Get(QStringLiteral("Cells"), {row, col})
        .Put(QStringLiteral("Value"), col == 1 ? QString::number(row) : QStringLiteral("x"));
  }
  const qint64 beforeSave = total.nsecsElapsed();
  excel.Call(QStringLiteral("Save"));
  const qint64 seconds = total.nsecsElapsed();
  excel.Call(QStringLiteral("Quit"));

  QJsonObject result{{QStringLiteral("seconds"), seconds / 1e9},
                     {QStringLiteral("open_seconds"), opened / 1e9},
                     {QStringLiteral("search_ms"), searchNs / 1e6},
                     {QStringLiteral("save_seconds"), (seconds - beforeSave) / 1e9},
                     {QStringLiteral("row"), row},
                     {QStringLiteral("peak_after_open_kib"), static_cast<qint64>(peakAfterOpen)},
                     {QStringLiteral("peak_kib"), static_cast<qint64>(PeakKib())}};
  std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 4 && args[1] == QLatin1String("--measure")) return Measure(args[2], args[3]);
  if (args.size() == 3 && args[1] == QLatin1String("--generate")) {
    Generate(args[2]);
    return 0;
  }

  QTextStream out(stdout);
  const QDir work(args.size() > 1 ? args[1] : QDir::currentPath());
  const QString source = work.filePath(QStringLiteral("bench-65000x66.xls"));
  if (!QFileInfo::exists(source)) {
    out << "Making " << source << " ..." << Qt::endl;
    RunChild(app.applicationFilePath(), {QStringLiteral("--generate"), source});
  }
  const double mib = QFileInfo(source).size() / 1048576.0;
  out << QStringLiteral("Workbook: %1 rows x %2 columns, %3 MiB").arg(kRows).arg(kColumns).arg(mib, 0, 'f', 1) << Qt::endl;

  const QJsonObject ours = RunChild(app.applicationFilePath(),
                                    {QStringLiteral("--measure"), source, work.filePath(QStringLiteral("bench-server.xls"))});
  const QJsonObject theirs = RunChild(QStringLiteral("/usr/bin/python3"),
                                      {QStringLiteral(CFW_BENCH_DIR "/xlrd_xlwt_bench.py"), source,
                                       work.filePath(QStringLiteral("bench-xlwt.xls"))});
  const auto peakMib = [](const QJsonObject& o) { return o[QStringLiteral("peak_kib")].toDouble() / 1024.0; };
  out << QStringLiteral("%1 %2 %3").arg(QString(), -28).arg(QStringLiteral("wall time"), 12).arg(QStringLiteral("peak memory"), 14) << Qt::endl;
  out << QStringLiteral("%1 %2 s %3 MiB").arg(QStringLiteral("built-in server"), -28)
             .arg(ours[QStringLiteral("seconds")].toDouble(), 10, 'f', 2).arg(peakMib(ours), 10, 'f', 1) << Qt::endl;
  out << QStringLiteral("%1 %2 s %3 MiB").arg(QStringLiteral("xlrd + xlwt"), -28)
             .arg(theirs[QStringLiteral("seconds")].toDouble(), 10, 'f', 2).arg(peakMib(theirs), 10, 'f', 1) << Qt::endl;
  out << QStringLiteral("server: open %1 s, row search %2 ms (first empty row %3), save %4 s")
             .arg(ours[QStringLiteral("open_seconds")].toDouble(), 0, 'f', 2)
             .arg(ours[QStringLiteral("search_ms")].toDouble(), 0, 'f', 1)
             .arg(ours[QStringLiteral("row")].toInt())
             .arg(ours[QStringLiteral("save_seconds")].toDouble(), 0, 'f', 2) << Qt::endl;
  const double speedup = theirs[QStringLiteral("seconds")].toDouble() / ours[QStringLiteral("seconds")].toDouble();
  out << QStringLiteral("speed-up %1x (goal >= 10x); peak memory %2x the file size (goal < 1.5x); row search goal < 50 ms")
             .arg(speedup, 0, 'f', 1).arg(peakMib(ours) / mib, 0, 'f', 2) << Qt::endl;
  return 0;
}
