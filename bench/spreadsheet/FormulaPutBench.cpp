// Benchmark of formulas put as text through the late-bound calls, and of
// the recalculation after rows written, in the built-in spreadsheet server.
//
//   formula_put_bench [column | scoring [STUDENTS QUESTIONS]]
//
// column (the default): a column of 1,000 numbers on Sheet1, 600 formulas
// that read it put on a sheet of their own (SUM, AVERAGE, COUNTIF, SUMIF,
// SUMPRODUCT with comparisons, LARGE, SMALL, STDEV, MAX, MIN, INDEX and
// MATCH); the time per put and the first results. Then 300 values written
// into the column, each followed by a read of a formula (which works out
// everything that waits): the recalculation time per row, median and p99.
//
// scoring: a class as the scoring lays it out (default 5,000 students and
// 60 questions): scanned rows on Sheet1 (ID and answers, one-space blanks),
// the key on "Key", 7 formulas per student on "Scores", 15 statistics per
// question on "Items" reading the class's columns. Then 100 more students'
// rows written as the row writer writes them (66 puts each) inside the
// class's ranges, each followed by a read of one statistic: the time from
// a row's first put to every statistic current, median and p99.
//
// Each run goes in a process of its own; the load average is printed
// after it, so a run on a busy machine shows as one.

#include "automation/ComObj.h"
#include "bench/ChildResult.h"
#include "bench/PeakMemory.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int kColumnRows = 1000;
constexpr int kColumnFormulas = 600;
constexpr int kRowsWritten = 300;
constexpr int kRowColumns = 66;

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
  return values[at];
}

// This thread's processor time in ms: on a shared machine it tells the
// work from the wait for a processor.
double CpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

QString LoadAverage() {
  QFile file(QStringLiteral("/proc/loadavg"));
  return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2) : QString();
}

OleVariant AddSheet(const OleVariant& sheets, const QString& name) {
  const OleVariant sheet = sheets.Call(QStringLiteral("Add"), {OleVariant(), sheets.Get(QStringLiteral("Item"), {sheets.Get(QStringLiteral("Count")).ToInt()})});
  sheet.Put(QStringLiteral("Name"), name);
  return sheet;
}

OleVariant CellOf(const OleVariant& sheet, int row, int col) { return sheet.Get(QStringLiteral("Cells"), {row, col}); }

// The column scenario's formulas: each reads all of Sheet1!A1:A1000.
QString ColumnFormula(int i) {
  const QString a = QStringLiteral("Sheet1!$A$1:$A$1000");
  const int k = i % 97 + 1;
  switch (i % 12) {
    case 0: return QStringLiteral("=SUM(%1)+%2").arg(a).arg(k);
    case 1: return QStringLiteral("=AVERAGE(%1)").arg(a);
    case 2: return QStringLiteral("=COUNTIF(%1,\">%2\")").arg(a).arg(k);
    case 3: return QStringLiteral("=SUMIF(%1,\"<%2\")").arg(a).arg(k);
    case 4: return QStringLiteral("=SUMPRODUCT((%1>%2)*%1)").arg(a).arg(k);
    case 5: return QStringLiteral("=SUMPRODUCT(--(%1=%2))").arg(a).arg(k);
    case 6: return QStringLiteral("=LARGE(%1,%2)").arg(a).arg(k);
    case 7: return QStringLiteral("=SMALL(%1,%2)").arg(a).arg(k);
    case 8: return QStringLiteral("=ROUND(STDEV(%1),3)").arg(a);
    case 9: return QStringLiteral("=MAX(%1)-MIN(%1)").arg(a);
    case 10: return QStringLiteral("=INDEX(%1,MATCH(MAX(%1),%1,0))").arg(a);
    default: return QStringLiteral("=COUNTIF(%1,%2)").arg(a).arg(k);
  }
}

QJsonObject ColumnScenario() {
  RegisterSpreadsheetServer();
  const OleVariant excel = CreateOleObject(QStringLiteral("Excel.Application"));
  const OleVariant book = excel.Get(QStringLiteral("Workbooks")).Get(QStringLiteral("Add"));
  const OleVariant sheets = book.Get(QStringLiteral("Worksheets"));
  const OleVariant data = sheets.Get(QStringLiteral("Item"), {1});
  for (int row = 1; row <= kColumnRows; ++row) CellOf(data, row, 1).Put(QStringLiteral("Value"), QString::number(row * 7 % 101));
  const OleVariant stats = AddSheet(sheets, QStringLiteral("Stats"));
  std::vector<double> putMs;
  QElapsedTimer clock;
  for (int i = 0; i < kColumnFormulas; ++i) {
    const OleVariant cell = CellOf(stats, i % 100 + 1, i / 100 + 1);
    clock.start();
    cell.Put(QStringLiteral("Formula"), ColumnFormula(i));
    putMs.push_back(clock.nsecsElapsed() / 1e6);
  }
  clock.start();
  const QString first = CellOf(stats, 1, 1).Get(QStringLiteral("Value")).ToText();
  const double firstResultsMs = clock.nsecsElapsed() / 1e6;

  std::vector<double> rowMs;
  std::vector<double> rowCpuMs;
  for (int i = 0; i < kRowsWritten; ++i) {
    const int row = i * 37 % kColumnRows + 1;
    const double cpu = CpuMs();
    clock.start();
    CellOf(data, row, 1).Put(QStringLiteral("Value"), QString::number((i * 13) % 101));
    CellOf(stats, 1, 1).Get(QStringLiteral("Value"));  // works out every formula that waits
    rowMs.push_back(clock.nsecsElapsed() / 1e6);
    rowCpuMs.push_back(CpuMs() - cpu);
  }
  const QString last = CellOf(stats, 1, 1).Get(QStringLiteral("Value")).ToText();
  excel.Call(QStringLiteral("Quit"));
  double putTotal = 0;
  for (double ms : putMs) putTotal += ms;
  return {{QStringLiteral("put_mean_ms"), putTotal / static_cast<double>(putMs.size())},
          {QStringLiteral("put_p99_ms"), Percentile(putMs, 0.99)},
          {QStringLiteral("first_results_ms"), firstResultsMs},
          {QStringLiteral("row_p50_ms"), Percentile(rowMs, 0.5)},
          {QStringLiteral("row_p99_ms"), Percentile(rowMs, 0.99)},
          {QStringLiteral("row_max_ms"), *std::max_element(rowMs.begin(), rowMs.end())},
          {QStringLiteral("row_cpu_p50_ms"), Percentile(rowCpuMs, 0.5)},
          {QStringLiteral("row_cpu_p99_ms"), Percentile(rowCpuMs, 0.99)},
          {QStringLiteral("first"), first},
          {QStringLiteral("last"), last},
          {QStringLiteral("peak_kib"), static_cast<qint64>(PeakKib())}};
}

QString Letters(int col) {
  QString name;
  for (int n = col; n > 0; n = (n - 1) / 26) name.prepend(QChar(u'A' + (n - 1) % 26));
  return name;
}

// The statistics of one question (column letter q) over the class's rows
// 2..last, as the scoring reads them.
QStringList Statistics(const QString& q, int last) {
  const QString answers = QStringLiteral("Sheet1!%1$2:%1$%2").arg(q).arg(last);
  const QString key = QStringLiteral("Key!%1$1").arg(q);
  const QString scores = QStringLiteral("Scores!$B$2:$B$%1").arg(last);
  const QString right = QStringLiteral("(%1=%2)").arg(answers, key);
  return {
      QStringLiteral("=COUNTIF(%1,%2)/MAX(1,COUNT(%3))").arg(answers, key, scores),
      QStringLiteral("=SUMPRODUCT(%1*(%2>=Items!$B$1))/MAX(1,COUNTIF(%2,\">=\"&Items!$B$1))").arg(right, scores),
      QStringLiteral("=SUMPRODUCT(%1*(%2<=Items!$C$1))/MAX(1,COUNTIF(%2,\"<=\"&Items!$C$1))").arg(right, scores),
      QStringLiteral("=CORREL(--%1,%2)").arg(right, scores),
      QStringLiteral("=COUNTIF(%1,1)").arg(answers),
      QStringLiteral("=COUNTIF(%1,2)").arg(answers),
      QStringLiteral("=COUNTIF(%1,3)").arg(answers),
      QStringLiteral("=COUNTIF(%1,4)").arg(answers),
      QStringLiteral("=COUNTIF(%1,5)").arg(answers),
      QStringLiteral("=COUNTIF(%1,\" \")").arg(answers),
      QStringLiteral("=SUMPRODUCT(--(LEN(%1)>1))").arg(answers),
      QStringLiteral("=AVERAGE(%1)").arg(answers),
      QStringLiteral("=SUMPRODUCT(%1*%2)/MAX(1,COUNTIF(%3,%4))").arg(right, scores, answers, key),
      QStringLiteral("=ROUND(STDEV(%1),3)").arg(answers),
      QStringLiteral("=VARP(--%1)").arg(right),
  };
}

QJsonObject Scoring(int students, int questions) {
  RegisterSpreadsheetServer();
  const OleVariant excel = CreateOleObject(QStringLiteral("Excel.Application"));
  const OleVariant book = excel.Get(QStringLiteral("Workbooks")).Get(QStringLiteral("Add"));
  const OleVariant sheets = book.Get(QStringLiteral("Worksheets"));
  const OleVariant rows = sheets.Get(QStringLiteral("Item"), {1});
  const int last = students + 1;  // rows 2..last hold the class
  const int prefilled = students - 100;
  const auto mark = [](int row, int q) {
    const int m = (row * 7 + q * 13) % 6;
    return m == 0 ? QStringLiteral(" ") : QString::number(m);
  };
  QElapsedTimer clock;
  clock.start();
  for (int row = 2; row <= prefilled + 1; ++row) {
    CellOf(rows, row, 1).Put(QStringLiteral("Value"), QString::number(100000 + row));
    for (int q = 1; q <= questions; ++q) CellOf(rows, row, q + 1).Put(QStringLiteral("Value"), mark(row, q));
  }
  const double fillSeconds = clock.nsecsElapsed() / 1e9;
  const QString lastQ = Letters(questions + 1);
  const OleVariant key = AddSheet(sheets, QStringLiteral("Key"));
  for (int q = 1; q <= questions; ++q) {
    CellOf(key, 1, q + 1).Put(QStringLiteral("Value"), QString::number(q % 5 + 1));
    CellOf(key, 2, q + 1).Put(QStringLiteral("Value"), QStringLiteral("1"));
  }
  const OleVariant scores = AddSheet(sheets, QStringLiteral("Scores"));
  const OleVariant items = AddSheet(sheets, QStringLiteral("Items"));
  clock.start();
  int puts = 0;
  for (int row = 2; row <= last; ++row) {
    const QString r = QString::number(row);
    const QString range = QStringLiteral("Sheet1!B%1:%2%1").arg(r, lastQ);
    const QString texts[] = {
        QStringLiteral("=Sheet1!A%1").arg(r),
        QStringLiteral("=SUMPRODUCT((%1=Key!$B$1:$%2$1)*Key!$B$2:$%2$2)").arg(range, lastQ),
        QStringLiteral("=ROUND(B%1/SUM(Key!$B$2:$%2$2)*100,1)").arg(r, lastQ),
        QStringLiteral("=COUNTIF(%1,\" \")").arg(range),
        QStringLiteral("=SUMPRODUCT(--(LEN(%1)>1))").arg(range),
        QStringLiteral("=IF(A%1=\"\",\"\",IF(COUNTIF($A$2:A%1,A%1)>1,\"repeated\",\"\"))").arg(r),
        QStringLiteral("=IF(C%1>=50,\"pass\",\"\")").arg(r),
    };
    for (int c = 0; c < 7; ++c, ++puts) CellOf(scores, row, c + 1).Put(QStringLiteral("Formula"), texts[c]);
  }
  const QString scoreRange = QStringLiteral("Scores!$B$2:$B$%1").arg(last);
  CellOf(items, 1, 2).Put(QStringLiteral("Formula"), QStringLiteral("=LARGE(%1,MAX(1,ROUND(COUNT(%1)*0.27,0)))").arg(scoreRange));
  CellOf(items, 1, 3).Put(QStringLiteral("Formula"), QStringLiteral("=SMALL(%1,MAX(1,ROUND(COUNT(%1)*0.27,0)))").arg(scoreRange));
  for (int q = 1; q <= questions; ++q) {
    const QStringList stats = Statistics(Letters(q + 1), last);
    for (int s = 0; s < stats.size(); ++s, ++puts) CellOf(items, s + 2, q + 1).Put(QStringLiteral("Formula"), stats[s]);
  }
  const double putSeconds = clock.nsecsElapsed() / 1e9;
  clock.start();
  const QString firstStat = CellOf(items, 2, 2).Get(QStringLiteral("Value")).ToText();
  const double firstResultsSeconds = clock.nsecsElapsed() / 1e9;

  std::vector<double> rowMs;
  std::vector<double> rowCpuMs;
  for (int row = prefilled + 2; row <= last; ++row) {
    const double cpu = CpuMs();
    clock.start();
    for (int col = 1; col <= kRowColumns; ++col) {
      const QString value = col == 1 ? QString::number(100000 + row) : col <= questions + 1 ? mark(row, col - 1) : QStringLiteral(" ");
      CellOf(rows, row, col).Put(QStringLiteral("Value"), value);
    }
    CellOf(items, 2, 2).Get(QStringLiteral("Value"));  // every statistic current
    rowMs.push_back(clock.nsecsElapsed() / 1e6);
    rowCpuMs.push_back(CpuMs() - cpu);
  }
  const QString lastStat = CellOf(items, 2, 2).Get(QStringLiteral("Value")).ToText();
  excel.Call(QStringLiteral("Quit"));
  return {{QStringLiteral("fill_seconds"), fillSeconds},
          {QStringLiteral("puts"), puts},
          {QStringLiteral("put_mean_ms"), putSeconds * 1000 / puts},
          {QStringLiteral("first_results_seconds"), firstResultsSeconds},
          {QStringLiteral("row_p50_ms"), Percentile(rowMs, 0.5)},
          {QStringLiteral("row_p99_ms"), Percentile(rowMs, 0.99)},
          {QStringLiteral("row_max_ms"), *std::max_element(rowMs.begin(), rowMs.end())},
          {QStringLiteral("row_cpu_p50_ms"), Percentile(rowCpuMs, 0.5)},
          {QStringLiteral("row_cpu_p99_ms"), Percentile(rowCpuMs, 0.99)},
          {QStringLiteral("first"), firstStat},
          {QStringLiteral("last"), lastStat},
          {QStringLiteral("peak_kib"), static_cast<qint64>(PeakKib())}};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() >= 2 && args[1] == QLatin1String("--measure-column")) {
    std::printf("%s\n", QJsonDocument(ColumnScenario()).toJson(QJsonDocument::Compact).constData());
    return 0;
  }
  if (args.size() >= 4 && args[1] == QLatin1String("--measure-scoring")) {
    std::printf("%s\n", QJsonDocument(Scoring(args[2].toInt(), args[3].toInt())).toJson(QJsonDocument::Compact).constData());
    return 0;
  }
  QTextStream out(stdout);
  const auto number = [](const QJsonObject& o, const char* key) { return o[QLatin1String(key)].toDouble(); };
  if (args.size() < 2 || args[1] == QLatin1String("column")) {
    const QJsonObject r = RunChild(app.applicationFilePath(), {QStringLiteral("--measure-column")});
    out << QStringLiteral("%1 formulas reading a %2-row column put on a sheet: %3 ms per put (p99 %4 ms); first results %5 ms")
               .arg(kColumnFormulas)
               .arg(kColumnRows)
               .arg(number(r, "put_mean_ms"), 0, 'f', 3)
               .arg(number(r, "put_p99_ms"), 0, 'f', 3)
               .arg(number(r, "first_results_ms"), 0, 'f', 1)
        << Qt::endl;
    out << QStringLiteral("%1 values written into the column, each with every formula worked out: median %2 ms, p99 %3 ms, "
                          "worst %4 ms (goal: p99 < 20 ms); processor time median %5 ms, p99 %6 ms; peak memory %7 MiB; "
                          "load average %8")
               .arg(kRowsWritten)
               .arg(number(r, "row_p50_ms"), 0, 'f', 2)
               .arg(number(r, "row_p99_ms"), 0, 'f', 2)
               .arg(number(r, "row_max_ms"), 0, 'f', 2)
               .arg(number(r, "row_cpu_p50_ms"), 0, 'f', 2)
               .arg(number(r, "row_cpu_p99_ms"), 0, 'f', 2)
               .arg(number(r, "peak_kib") / 1024, 0, 'f', 1)
               .arg(LoadAverage())
        << Qt::endl;
    return 0;
  }
  const int students = args.size() > 2 ? args[2].toInt() : 5000;
  const int questions = args.size() > 3 ? args[3].toInt() : 60;
  const QJsonObject r = RunChild(app.applicationFilePath(),
                                 {QStringLiteral("--measure-scoring"), QString::number(students), QString::number(questions)});
  out << QStringLiteral("a class of %1 students and %2 questions: rows filled in %3 s; %4 formulas put, %5 ms each; first "
                        "results %6 s")
             .arg(students)
             .arg(questions)
             .arg(number(r, "fill_seconds"), 0, 'f', 1)
             .arg(r[QStringLiteral("puts")].toInt())
             .arg(number(r, "put_mean_ms"), 0, 'f', 3)
             .arg(number(r, "first_results_seconds"), 0, 'f', 2)
      << Qt::endl;
  out << QStringLiteral("100 rows written (66 puts each), each until every statistic is current: median %1 ms, p99 %2 ms, "
                        "worst %3 ms (goal: p99 < 250 ms); processor time median %4 ms, p99 %5 ms; peak memory %6 MiB; "
                        "load average %7")
             .arg(number(r, "row_p50_ms"), 0, 'f', 1)
             .arg(number(r, "row_p99_ms"), 0, 'f', 1)
             .arg(number(r, "row_max_ms"), 0, 'f', 1)
             .arg(number(r, "row_cpu_p50_ms"), 0, 'f', 1)
             .arg(number(r, "row_cpu_p99_ms"), 0, 'f', 1)
             .arg(number(r, "peak_kib") / 1024, 0, 'f', 1)
             .arg(LoadAverage())
      << Qt::endl;
  return 0;
}
