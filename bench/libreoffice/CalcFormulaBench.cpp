// Formulas and sheets through LibreOffice Calc, as the scoring lays them:
//
//   calc_formula_bench [WORKDIR] [--format xlsx|ods|xls]
//
// A workbook saved in WORKDIR with a 1,000-row column on Sheet1; then sheets
// added and named; 600 formulas that read the column put on one sheet; 7
// formulas per student row for 200 rows on another; every formula read back;
// and rows written into the column by the program's row path (column A
// checked, 66 puts, the first cell read back), each followed by a statistic
// read, which has Calc bring its results up to date. Times per call, median
// and p99, and the calls over the bridge per call.

#include "automation/ComObj.h"
#include "libreoffice/LibreOfficeServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

struct Timing {
  std::vector<double> ms;
  uint64_t calls = 0;

  void Run(const std::function<void()>& step) {
    const uint64_t before = LibreOfficeRemoteCalls();
    QElapsedTimer clock;
    clock.start();
    step();
    ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    calls += LibreOfficeRemoteCalls() - before;
  }
  double Quantile(double q) const {
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * static_cast<double>(sorted.size())))];
  }
};

OleVariant Cell(const OleVariant& sheet, int row, int col) { return sheet.Get(QStringLiteral("Cells"), {row, col}); }

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  QString workdir = QDir::currentPath();
  QString format = QStringLiteral("xlsx");
  const QStringList args = qapp.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--format") && i + 1 < args.size()) {
      format = args[++i];
    } else {
      workdir = args[i];
    }
  }
  QTextStream out(stdout);
  RegisterLibreOfficeServer();
  const OleVariant app = CreateOleObject(QStringLiteral("LibreOffice.Calc"));
  const OleVariant book = app.Get(QStringLiteral("Workbooks")).Get(QStringLiteral("Add"));
  book.Call(QStringLiteral("SaveAs"), {QDir(workdir).filePath(QStringLiteral("calc-formula-bench.") + format)});
  const OleVariant sheets = book.Get(QStringLiteral("Sheets"));
  const OleVariant first = sheets.Get(QStringLiteral("Item"), {1});
  for (int row = 1; row <= 1000; ++row) {
    Cell(first, row, 1).Put(QStringLiteral("Value"), QStringLiteral("S%1").arg(row));
    Cell(first, row, 2).Put(QStringLiteral("Value"), QString::number(row % 10));
  }

  Timing add;
  Timing name;
  OleVariant last = first;
  for (int i = 1; i <= 30; ++i) {
    add.Run([&] { last = sheets.Call(QStringLiteral("Add"), {OleVariant(), last}); });
    name.Run([&] { last.Put(QStringLiteral("Name"), QStringLiteral("Added %1").arg(i)); });
  }
  const OleVariant key = sheets.Call(QStringLiteral("Add"), {OleVariant(), first});
  key.Put(QStringLiteral("Name"), QStringLiteral("Key"));
  for (int col = 2; col <= 5; ++col) {
    Cell(key, 1, col).Put(QStringLiteral("Value"), QString::number(col));
    Cell(key, 2, col).Put(QStringLiteral("Value"), QStringLiteral("1"));
  }
  const OleVariant stats = sheets.Call(QStringLiteral("Add"), {OleVariant(), key});
  stats.Put(QStringLiteral("Name"), QStringLiteral("Stats"));

  Timing column;
  for (int i = 0; i < 600; ++i) {
    const QString formula = i % 2 == 0 ? QStringLiteral("=COUNTIF(Sheet1!$B$1:$B$1000,%1)").arg(i % 10)
                                       : QStringLiteral("=SUMPRODUCT((Sheet1!$B$1:$B$1000>%1)*Sheet1!$B$1:$B$1000)").arg(i % 10);
    column.Run([&] { Cell(stats, i / 20 + 1, i % 20 + 1).Put(QStringLiteral("Formula"), formula); });
  }
  const OleVariant scores = sheets.Call(QStringLiteral("Add"), {OleVariant(), stats});
  scores.Put(QStringLiteral("Name"), QStringLiteral("Scores"));
  Timing perRow;
  for (int row = 2; row <= 201; ++row) {
    const QStringList formulas = {
        QStringLiteral("=Sheet1!A%1").arg(row),
        QStringLiteral("=SUMPRODUCT((Sheet1!B%1:E%1=Key!$B$1:$E$1)*Key!$B$2:$E$2)").arg(row),
        QStringLiteral("=ROUND(B%1/SUM(Key!$B$2:$E$2)*100,1)").arg(row),
        QStringLiteral("=COUNTBLANK(Sheet1!B%1:E%1)").arg(row),
        QStringLiteral("=IF(Sheet1!A%1=\"\",\"\",RANK(B%1,$B$2:$B$201))").arg(row),
        QStringLiteral("=COUNTIF(Sheet1!$A$2:$A$201,Sheet1!A%1)>1").arg(row),
        QStringLiteral("=IF(B%1>=3,TRUE,FALSE)").arg(row)};
    for (int col = 1; col <= formulas.size(); ++col) {
      perRow.Run([&] { Cell(scores, row, col).Put(QStringLiteral("Formula"), formulas[col - 1]); });
    }
  }
  Timing get;
  for (int i = 0; i < 600; ++i) get.Run([&] { Cell(stats, i / 20 + 1, i % 20 + 1).Get(QStringLiteral("Formula")); });

  Timing rows;
  for (int row = 1001; row <= 1200; ++row) {
    rows.Run([&] {
      const OleVariant sheet = app.Get(QStringLiteral("Sheets"), {1});
      if (!Cell(sheet, row, 1).Get(QStringLiteral("Value")).IsEmpty()) return;
      for (int col = 1; col <= 66; ++col) {
        Cell(sheet, row, col).Put(QStringLiteral("Value"), col == 1 ? QStringLiteral("S%1").arg(row) : QString::number((row + col) % 10));
      }
      Cell(sheet, row, 1).Get(QStringLiteral("Value"));
      Cell(stats, 1, 1).Get(QStringLiteral("Value"));
    });
    QCoreApplication::processEvents();
  }
  book.Call(QStringLiteral("Save"));

  const auto line = [&](const QString& what, const Timing& t) {
    out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
               .arg(what, -58)
               .arg(t.ms.size(), 5)
               .arg(t.Quantile(0.5), 8, 'f', 2)
               .arg(t.Quantile(0.99), 8, 'f', 2)
               .arg(static_cast<double>(t.calls) / static_cast<double>(std::max<size_t>(1, t.ms.size())), 6, 'f', 1)
        << Qt::endl;
  };
  out << "LibreOffice Calc, ." << format << Qt::endl;
  out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 |").arg(QStringLiteral("call"), -58).arg("count", 5).arg("median ms", 8).arg("p99 ms", 8).arg("UNO calls", 6)
      << Qt::endl;
  line(QStringLiteral("Sheets.Add(, After)"), add);
  line(QStringLiteral("sheet Name put"), name);
  line(QStringLiteral("Formula put, reading the 1,000-row column"), column);
  line(QStringLiteral("Formula put, 7 per student row (200 rows)"), perRow);
  line(QStringLiteral("Formula get"), get);
  line(QStringLiteral("row written under 600 formulas, and one result read"), rows);
  app.Call(QStringLiteral("Quit"));
  return 0;
}
