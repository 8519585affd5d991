// The program's own row path against both servers, side by side in one run:
// LibreOffice Calc over the bridge on the 65,000-row workbook as .xlsx, and
// the built-in server on the same workbook as .xls.
//
//   calc_bench [WORKDIR] [--rows N] [--hogs N]
//
// Makes the workbook once (kept in WORKDIR): 65,000 rows x 66 columns through
// the built-in server's calls, then LibreOffice converts it to .xlsx. Then,
// each server in a process of its own, quiet and again with N processes
// spinning beside it (default 2, one per core here): open, the first-empty-row
// search, N rows (default 300) written by the program's row writer one event
// loop turn each, as the row timer writes them (column A checked, the row,
// its first cell read back), Save; then the saved file is opened afresh and
// every row written is checked, value by value.

#include "app/SheetRowWriter.h"
#include "automation/ComObj.h"
#include "bench/ChildResult.h"
#include "bench/app/BenchLoad.h"
#include "libreoffice/LibreOfficeServer.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRows = 65000;
constexpr int kColumns = 66;
const QString kBuiltIn = QStringLiteral("Excel.Application");
const QString kCalc = QStringLiteral("LibreOffice.Calc");

// A sheet as the decoder gives it: marked digits, blanks, a few double marks.
QStringList SheetValues(int n) {
  const QString marks[] = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
                           QStringLiteral(" "), QStringLiteral("5"), QStringLiteral("24"), QStringLiteral("6")};
  QStringList values;
  for (int col = 0; col < kColumns; ++col) values << marks[(n * 7 + col * 3) % std::size(marks)];
  values[0] = QStringLiteral("S%1").arg(n);  // column A names the sheet, so the check can find it
  return values;
}

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

void Generate(const QString& xls, const QString& xlsx) {
  RegisterSpreadsheetServer();
  const OleVariant app = CreateOleObject(kBuiltIn);
  const OleVariant book = app.Get(QStringLiteral("Workbooks")).Get(QStringLiteral("Add"));
  const OleVariant sheet = app.Get(QStringLiteral("Sheets"), {1});
  for (int row = 1; row <= kRows; ++row) {
    const QStringList values = SheetValues(row);
    for (int col = 1; col <= kColumns; ++col) {
      sheet.Get(QStringLiteral("Cells"), {row, col}).Put(QStringLiteral("Value"), values[col - 1]);
    }
  }
  book.Call(QStringLiteral("SaveAs"), {xls});
  app.Call(QStringLiteral("Quit"));

  RegisterLibreOfficeServer();
  const OleVariant calc = CreateOleObject(kCalc);
  calc.Get(QStringLiteral("Workbooks")).Call(QStringLiteral("Open"), {xls, false});
  calc.Get(QStringLiteral("ActiveWorkBook")).Call(QStringLiteral("SaveAs"), {xlsx});
  calc.Call(QStringLiteral("Quit"));
}

// One server on one file, in this process.
int Measure(const QString& progId, const QString& source, const QString& target, int rows) {
  QFile::remove(target);
  QFile::copy(source, target);
  RegisterSpreadsheetServer();
  RegisterLibreOfficeServer();
  QElapsedTimer clock;
  clock.start();
  const OleVariant app = CreateOleObject(progId);
  const double startS = clock.nsecsElapsed() / 1e9;
  app.Get(QStringLiteral("Workbooks")).Call(QStringLiteral("Open"), {target, false});
  const double openS = clock.nsecsElapsed() / 1e9 - startS;

  QCoreApplication::processEvents();
  QElapsedTimer search;
  search.start();
  OleVariant sheets;
  const int first = FindFirstEmptyRow(app, sheets);
  const double searchMs = search.nsecsElapsed() / 1e6;

  std::vector<double> rowMs;
  int row = first;
  QJsonArray placed;
  for (int n = 0; n < rows; ++n) {
    QCoreApplication::processEvents();  // each row is a tick of its own
    QElapsedTimer one;
    one.start();
    row = FirstFreeRowFrom(sheets, row);
    WriteSheetRow(sheets, row, SheetValues(100000 + n));
    rowMs.push_back(one.nsecsElapsed() / 1e6);
    placed.append(row++);
  }
  QElapsedTimer save;
  save.start();
  app.Call(QStringLiteral("Save"));
  const double saveS = save.nsecsElapsed() / 1e9;
  app.Call(QStringLiteral("Quit"));

  // Read back from the saved file: a row whose values differ is a lost sheet.
  const OleVariant check = CreateOleObject(progId);
  check.Get(QStringLiteral("Workbooks")).Call(QStringLiteral("Open"), {target, false});
  const OleVariant sheet = check.Get(QStringLiteral("Sheets"), {1});
  int lost = 0;
  for (int n = 0; n < rows; ++n) {
    const QStringList expected = SheetValues(100000 + n);
    for (int col = 1; col <= kColumns; ++col) {
      const QString got = sheet.Get(QStringLiteral("Cells"), {placed[n].toInt(), col}).Get(QStringLiteral("Value")).ToText();
      if (got != expected[col - 1]) {
        ++lost;
        break;
      }
    }
  }
  check.Call(QStringLiteral("Quit"));

  const QJsonObject result{{QStringLiteral("start_s"), startS},
                           {QStringLiteral("open_s"), openS},
                           {QStringLiteral("search_ms"), searchMs},
                           {QStringLiteral("first_row"), first},
                           {QStringLiteral("row_median_ms"), Quantile(rowMs, 0.5)},
                           {QStringLiteral("row_p99_ms"), Quantile(rowMs, 0.99)},
                           {QStringLiteral("row_max_ms"), Quantile(rowMs, 1.0)},
                           {QStringLiteral("save_s"), saveS},
                           {QStringLiteral("rows"), rows},
                           {QStringLiteral("lost"), lost}};
  std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
  return 0;
}

double LoadAverage() {
  QFile file(QStringLiteral("/proc/loadavg"));
  return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').first().toDouble() : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && QByteArray(argv[1]) == "--burn") scan_bench::Burn();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  const QStringList args = qapp.arguments();
  if (args.size() == 6 && args[1] == QLatin1String("--measure")) return Measure(args[2], args[3], args[4], args[5].toInt());
  if (args.size() == 4 && args[1] == QLatin1String("--generate")) {
    Generate(args[2], args[3]);
    return 0;
  }

  QString workdir = QDir::currentPath();
  int rows = 300;
  int hogs = 2;
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--rows") && i + 1 < args.size()) {
      rows = args[++i].toInt();
    } else if (args[i] == QLatin1String("--hogs") && i + 1 < args.size()) {
      hogs = args[++i].toInt();
    } else {
      workdir = args[i];
    }
  }
  QTextStream out(stdout);
  const QDir work(workdir);
  const QString xls = work.filePath(QStringLiteral("calc-bench-65000x66.xls"));
  const QString xlsx = work.filePath(QStringLiteral("calc-bench-65000x66.xlsx"));
  if (!QFileInfo::exists(xls) || !QFileInfo::exists(xlsx)) {
    out << "Making " << xls << " and " << xlsx << " ..." << Qt::endl;
    RunChild(qapp.applicationFilePath(), {QStringLiteral("--generate"), xls, xlsx});
  }

  struct Column {
    QString title;
    QJsonObject result;
    double loadAfter;
  };
  std::vector<Column> columns;
  for (const bool loaded : {false, true}) {
    std::unique_ptr<scan_bench::CpuHogs> spinning;
    if (loaded) spinning = std::make_unique<scan_bench::CpuHogs>(qapp.applicationFilePath(), hogs);
    const QString how = loaded ? QStringLiteral(", loaded") : QStringLiteral(", quiet");
    for (const auto& [title, progId, file] : {std::tuple{QStringLiteral("LibreOffice .xlsx"), kCalc, xlsx},
                                              std::tuple{QStringLiteral("built-in .xls"), kBuiltIn, xls}}) {
      const QString target = work.filePath(QStringLiteral("calc-bench-run.") + QFileInfo(file).suffix());
      columns.push_back({title + how, RunChild(qapp.applicationFilePath(),
                                               {QStringLiteral("--measure"), progId, file, target, QString::number(rows)}),
                         LoadAverage()});
    }
  }

  const auto line = [&](const QString& label, const std::function<QString(const Column&)>& cell) {
    out << QStringLiteral("| %1 |").arg(label, -34);
    for (const Column& c : columns) out << QStringLiteral(" %1 |").arg(cell(c), 24);
    out << Qt::endl;
  };
  const auto number = [](const char* key, int decimals) {
    return [key, decimals](const Column& c) {
      const QJsonValue v = c.result.value(QLatin1String(key));
      return v.isUndefined() ? QStringLiteral("failed") : QString::number(v.toDouble(), 'f', decimals);
    };
  };
  line(QStringLiteral(""), [](const Column& c) { return c.title; });
  line(QStringLiteral("server start, s"), number("start_s", 2));
  line(QStringLiteral("open, s"), number("open_s", 2));
  line(QStringLiteral("first empty row, ms (goal < 1000)"), number("search_ms", 1));
  line(QStringLiteral("first empty row found"), number("first_row", 0));
  line(QStringLiteral("row written: median ms"), number("row_median_ms", 2));
  line(QStringLiteral("             p99 ms (goal < 100)"), number("row_p99_ms", 2));
  line(QStringLiteral("             max ms"), number("row_max_ms", 2));
  line(QStringLiteral("Save, s"), number("save_s", 2));
  line(QStringLiteral("rows written"), number("rows", 0));
  line(QStringLiteral("sheets lost (goal 0)"), number("lost", 0));
  line(QStringLiteral("spinning processes beside it"),
       [hogs](const Column& c) { return c.title.endsWith(QLatin1String("loaded")) ? QString::number(hogs) : QStringLiteral("0"); });
  line(QStringLiteral("load average after (1 min)"), [](const Column& c) { return QString::number(c.loadAfter, 'f', 2); });
  return 0;
}
