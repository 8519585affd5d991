// xlsdump: prints the sheets and cells of an .xls workbook as the built-in
// spreadsheet server reads them.
//
//   xlsdump FILE [SHEET]    SHEET is a 1-based sheet number; all sheets without it

#include "spreadsheet/server/Workbook.h"
#include "tools/xlsdump/XlsDump.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QTextStream err(stderr);
  if (args.size() < 2 || args.size() > 3 || args[1] == QLatin1String("--help")) {
    err << "usage: xlsdump FILE [SHEET]\n";
    return 2;
  }
  int sheet = 0;
  if (args.size() == 3) {
    bool ok = false;
    sheet = args[2].toInt(&ok);
    if (!ok || sheet < 1) {
      err << "xlsdump: the sheet must be a number from 1\n";
      return 2;
    }
  }
  try {
    const std::unique_ptr<Workbook> book = Workbook::Open(args[1]);
    QTextStream out(stdout);
    if (!XlsDump::Dump(*book, out, sheet)) {
      err << "xlsdump: the workbook has no sheet " << sheet << "\n";
      return 1;
    }
  } catch (const WorkbookError& e) {
    err << "xlsdump: " << e.Message() << "\n";
    return 1;
  }
  return 0;
}
