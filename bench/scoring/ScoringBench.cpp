// How long scoring takes to catch up with a row: the time from a row written
// into sheet 1 (by the program's own row writer) to its score and every
// statistic current, read back through the calls. Three classes:
//
//   40 questions x 200 students, built-in server and LibreOffice Calc
//   100 questions x 5,000 students, built-in server
//
//   scoring_bench [--only builtin-40,calc-40,builtin-100] [--students N] [--hogs N]
//
// The key is laid out on an empty workbook as at OK, then the sheets land one
// by one: each row written, its Scores row laid (and, when the class outgrows
// the statistics' ranges, the statistics again), then the row's score and the
// summary's KR-20 read back, which in Calc is what makes it recalculate.
// Prints the median, p99 and largest time per row, the same with the row's
// own write included (a server that works formulas out as cells are put does
// part of the work there), and the rows where the statistics were written again.

#include "app/SheetRowWriter.h"
#include "automation/ComObj.h"
#include "bench/app/BenchLoad.h"
#include "bench/app/BenchResponder.h"
#include "libreoffice/LibreOfficeServer.h"
#include "scoring/ScoringBook.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

struct Class {
  QString name;
  QString progId;
  int questions;
  int students;
};

constexpr int kIdColumns = 4;

// A key sheet: answers 1-5 in the question columns, the ID columns blank.
QStringList KeySheet(int questions) {
  QStringList values;
  for (int q = 0; q < questions; ++q) values << QString::number(q % 5 + 1);
  for (int i = 0; i < kIdColumns; ++i) values << QStringLiteral(" ");
  return values;
}

// A student's sheet: mostly right for the able ones, some blanks and double marks, an ID.
QStringList StudentSheet(int questions, std::mt19937& random) {
  std::uniform_real_distribution<double> unit(0, 1);
  const double ability = unit(random);
  QStringList values;
  for (int q = 0; q < questions; ++q) {
    const double roll = unit(random);
    if (roll < 0.04) values << QStringLiteral(" ");
    else if (roll < 0.07) values << QStringLiteral("24");
    else values << QString::number(unit(random) < 0.3 + 0.6 * ability ? q % 5 + 1 : 1 + static_cast<int>(unit(random) * 5) % 5);
  }
  for (int i = 0; i < kIdColumns; ++i) values << QString::number(1 + static_cast<int>(unit(random) * 6) % 6);
  return values;
}

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

void Run(const Class& c) {
  const OleVariant app = CreateOleObject(c.progId);
  app.Get(QStringLiteral("Workbooks")).Get(QStringLiteral("Add"));
  const OleVariant sheets = app.Get(QStringLiteral("ActiveWorkBook")).Get(QStringLiteral("Sheets"));
  const AnswerKey key(KeySheet(c.questions), c.questions + 1, c.questions + kIdColumns, MarkMode::Multiple);
  QElapsedTimer clock;
  clock.start();
  ScoringBook book = ScoringBook::LayOut(sheets, key, 0);
  const double layOutMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  const OleVariant scores = sheets.Get(QStringLiteral("Item"), {kScoresSheet});
  const OleVariant items = sheets.Get(QStringLiteral("Item"), {kItemsSheet});
  const int kr20Column = static_cast<int>(ItemsHeaders(MarkMode::Multiple).size()) + 3;
  std::mt19937 random(11);
  std::vector<double> times;
  std::vector<double> whole;  // the row's own write too, with what the server works out at once
  QStringList rewrites;
  double lastKr20 = 0;
  for (int row = 1; row <= c.students; ++row) {
    const QStringList values = StudentSheet(c.questions, random);
    QElapsedTimer rowClock;
    rowClock.start();
    WriteSheetRow(sheets, row, values);
    const int capacity = book.Capacity();
    clock.restart();
    book.RowWritten(row);
    scores.Get(QStringLiteral("Cells"), {row + 1, 3}).Get(QStringLiteral("Value"));
    const OleVariant kr20 = items.Get(QStringLiteral("Cells"), {6, kr20Column}).Get(QStringLiteral("Value"));
    if (kr20.kind() == OleVariant::Kind::Double) lastKr20 = kr20.ToDouble();  // empty while the class is too small
    times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    whole.push_back(static_cast<double>(rowClock.nsecsElapsed()) / 1e6);
    if (book.Capacity() != capacity) rewrites << QStringLiteral("%1 (%2 ms)").arg(row).arg(times.back(), 0, 'f', 0);
  }
  std::printf("| %-12s | %6d | %8d | %9.0f | %8.1f | %8.1f | %8.1f | %10.1f | %10.1f | %6.3f | %s\n", qPrintable(c.name), c.questions,
              c.students, layOutMs, Quantile(times, 0.5), Quantile(times, 0.99), *std::max_element(times.begin(), times.end()),
              Quantile(whole, 0.5), Quantile(whole, 0.99), lastKr20, qPrintable(rewrites.join(QStringLiteral(", "))));
  std::fflush(stdout);
  app.Call(QStringLiteral("Quit"));  // the responder answers "Don't Save"
}

}  // namespace

int main(int argc, char** argv) {
  const QStringList args = [&] {
    QStringList list;
    for (int i = 1; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
    return list;
  }();
  if (args.contains(QStringLiteral("--burn"))) scan_bench::Burn();
  QApplication application(argc, argv);
  // No box may wait for a person: questions about unsaved work are answered "Don't Save".
  scan_bench::BenchResponder responder;
  RegisterSpreadsheetServer();
  RegisterLibreOfficeServer();
  const auto option = [&](const QString& name, const QString& fallback) {
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
  };
  const QStringList only = option(QStringLiteral("--only"), QStringLiteral("builtin-40,calc-40,builtin-100")).split(',');
  const int hogs = option(QStringLiteral("--hogs"), QStringLiteral("0")).toInt();
  const int students = option(QStringLiteral("--students"), QStringLiteral("0")).toInt();
  const std::vector<Class> classes{
      {QStringLiteral("builtin-40"), QStringLiteral("Excel.Application"), 40, 200},
      {QStringLiteral("calc-40"), QStringLiteral("LibreOffice.Calc"), 40, 200},
      {QStringLiteral("builtin-100"), QStringLiteral("Excel.Application"), 100, 5000},
  };
  const scan_bench::CpuHogs busy(QCoreApplication::applicationFilePath(), hogs);
  std::printf("Scoring: a row written -> its score and the statistics current (ms), %d processes spinning beside it\n\n", busy.Running());
  std::printf("| %-12s | %6s | %8s | %9s | %8s | %8s | %8s | %10s | %10s | %6s | %s\n", "class", "items", "students", "lay out",
              "median", "p99", "max", "+row p50", "+row p99", "KR-20", "statistics written again at row (ms)");
  for (Class c : classes) {
    if (!only.contains(c.name)) continue;
    if (students > 0) c.students = students;
    try {
      Run(c);
    } catch (const std::exception& error) {
      std::printf("| %-12s | failed: %s\n", qPrintable(c.name), error.what());
    }
    for (const QString& message : responder.messages) std::printf("  (shown: %s)\n", qPrintable(message));
    responder.messages.clear();
    std::fflush(stdout);
  }
  return 0;
}
