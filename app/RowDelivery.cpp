#include "app/RowDelivery.h"

#include "app/CrashJournal.h"
#include "app/SheetRowWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>

namespace {

JournalSheet EntryFor(const PendingSheet& sheet, int row) { return {sheet.number, row, sheet.scannedAt, sheet.values}; }

QString WorkbookName(const QString& path) { return QFileInfo(path).fileName(); }

QString WithFullStop(QString text) {
  if (!text.endsWith('.')) text += '.';
  return text;
}

}  // namespace

QString DescribeSheet(qint64 number, const QDateTime& scannedAt) {
  return QStringLiteral("Sheet %1 (scanned at %2)").arg(number).arg(scannedAt.toString(QStringLiteral("HH:mm:ss")));
}

void RowDelivery::WriteDue(SheetQueue& queue, const RowTarget& target, SheetQueue::Clock::time_point now) {
  if (busy_) return;
  const QScopedValueRollback busy(busy_, true);
  while (queue.FrontDue(now)) {
    if (!WriteFront(queue, target, now)) return;
  }
}

void RowDelivery::WriteAll(SheetQueue& queue, const RowTarget& target) {
  if (busy_) return;
  const QScopedValueRollback busy(busy_, true);
  // Passing failures are tried again at once: nothing may stay behind for this workbook.
  while (!queue.Empty()) {
    if (!WriteFront(queue, target, SheetQueue::Clock::now())) queue.Front().due = SheetQueue::Clock::now();
  }
}

void RowDelivery::KeepAll(SheetQueue& queue, const QString& workbookPath, const QString& reason) {
  if (busy_) return;
  const QScopedValueRollback busy(busy_, true);
  while (!queue.Empty()) {
    const PendingSheet sheet = queue.TakeFront();
    Keep(sheet, workbookPath, 0, reason);
  }
}

bool RowDelivery::WriteFront(SheetQueue& queue, const RowTarget& target, SheetQueue::Clock::time_point now) {
  if (target.workbookGone) {
    KeepInJournal(queue, target);
    return true;
  }
  PendingSheet& sheet = queue.Front();
  try {
    if (sheet.row == 0) sheet.row = FirstFreeRowFrom(target.workSheets, target.currentRow);
  } catch (const EServerGone& gone) {
    Gone(target, gone);
    return true;
  } catch (const std::exception&) {
    sheet.row = target.currentRow;  // what failed here, the checks below meet and report
  }
  const int row = target.currentRow = sheet.row;
  try {
    if (const std::optional<QString> problem = LastingRowProblem(target.workSheets, row, sheet.values)) {
      Keep(queue.TakeFront(), target.workbookPath, row, *problem);
      return true;
    }
  } catch (const EServerGone& gone) {
    Gone(target, gone);
    return true;
  }
  Journal(sheet, target);
  try {
    WriteSheetRow(target.workSheets, row, sheet.values);
  } catch (const EServerGone& gone) {
    Gone(target, gone);
    return true;
  } catch (const std::exception& error) {
    const QString reason = QString::fromUtf8(error.what());
    if (++sheet.failedWrites >= kWriteAttempts) {
      Keep(queue.TakeFront(), target.workbookPath, row, reason);
      return true;
    }
    sheet.due = now + queue.Delay();  // the sheets behind it wait, so rows keep their order
    if (sheet.failedWrites == 1) {
      const QString name = DescribeSheet(sheet.number, sheet.scannedAt);
      report_(QStringLiteral("%1 could not be written into row %2 of '%3': %4  It will be tried again.")
                  .arg(name)
                  .arg(row)
                  .arg(WorkbookName(target.workbookPath), WithFullStop(reason)));
    }
    return false;
  }
  ++target.currentRow;
  const PendingSheet written = queue.TakeFront();
  if (rowWritten_) rowWritten_(row, written.values);
  return true;
}

void RowDelivery::Gone(const RowTarget& target, const EServerGone& gone) {
  target.workbookGone = true;
  report_(WithFullStop(gone.Message()) +
          QStringLiteral("  The sheets scanned for '%1' are kept, and are offered back when it is opened again.")
              .arg(WorkbookName(target.workbookPath)));
}

void RowDelivery::KeepInJournal(SheetQueue& queue, const RowTarget& target) {
  PendingSheet sheet = queue.TakeFront();
  // Each keeps a row number of its own, so each is offered back on its own.
  if (sheet.row == 0) sheet.row = target.currentRow;
  target.currentRow = sheet.row;
  Journal(sheet, target);
  if (!sheet.journaled) {
    Keep(sheet, target.workbookPath, 0, QStringLiteral("the workbook is no longer open and the crash journal cannot be written"));
    return;
  }
  ++target.currentRow;
}

void RowDelivery::Journal(PendingSheet& sheet, const RowTarget& target) {
  if (sheet.journaled) return;
  const QString file = target.journal.FilePath();
  try {
    target.journal.Append(EntryFor(sheet, target.currentRow));
    sheet.journaled = true;
    journalFailureShown_.erase(file);
  } catch (const JournalError& error) {
    // The row still goes into the workbook; only its copy on the disk is missing.
    if (!journalFailureShown_.insert(file).second) return;
    report_(error.Message() + QStringLiteral("  Sheets are still written into the workbook; save it often until "
                                             "this is put right."));
  }
}

void RowDelivery::Keep(const PendingSheet& sheet, const QString& workbookPath, int row, const QString& reason) {
  const QString csv = KeptSheetsPath(workbookPath, QStringLiteral("unwritten sheets"));
  QString kept;
  try {
    AppendSheetsCsv(csv, {EntryFor(sheet, row)});
    kept = QStringLiteral("Its values are kept in '%1'.").arg(QDir::toNativeSeparators(csv));
  } catch (const JournalError& error) {
    kept = error.Message() + QStringLiteral("  Its values: ") + sheet.values.join(',');
  }
  const QString where = row > 0 ? QStringLiteral("row %1 of '%2'").arg(row).arg(WorkbookName(workbookPath))
                                : QStringLiteral("'%1'").arg(WorkbookName(workbookPath));
  report_(QStringLiteral("%1 cannot be written into %2: %3  %4")
              .arg(DescribeSheet(sheet.number, sheet.scannedAt), where, WithFullStop(reason), kept));
}
