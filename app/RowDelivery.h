#pragma once
// Puts queued sheets into the workbook they were scanned for, each as a row
// of its own and in arrival order, journaled on the disk before its cells
// are written. A sheet that can never be written there (more values than a
// worksheet has columns, a workbook that is gone) is kept in a file beside
// the journal and reported once; it never holds up the sheets behind it. A
// write that fails for no lasting reason is tried again a few times, the
// sheets behind it waiting so that rows keep their order.

#include "app/SheetQueue.h"
#include "automation/OleVariant.h"

#include <QString>

#include <functional>
#include <set>

class CrashJournal;

// Where rows go: the sheet collection of one workbook, its file, the row for
// the next sheet (advanced here) and its journal.
// workbookGone: the server said the workbook is no longer open there (its
// window was closed, the server ended); from then on sheets go only into the
// journal, which offers them back when the workbook is opened again.
struct RowTarget {
  const OleVariant& workSheets;
  const QString& workbookPath;
  int& currentRow;
  CrashJournal& journal;
  bool& workbookGone;
};

class RowDelivery {
 public:
  static constexpr int kWriteAttempts = 3;
  using Report = std::function<void(const QString& message)>;

  using RowWritten = std::function<void(int row, const QStringList& values)>;

  // Messages for the user go to `report`; it may run a nested event loop.
  explicit RowDelivery(Report report) : report_(std::move(report)) {}
  // Told about each row once it is in the workbook (scoring follows the rows).
  void SetRowWritten(RowWritten hook) { rowWritten_ = std::move(hook); }

  // Writes the sheets at the head of the queue that are due by `now`.
  void WriteDue(SheetQueue& queue, const RowTarget& target, SheetQueue::Clock::time_point now);
  // Writes every queued sheet, due or not: the workbook is about to stop being the target.
  void WriteAll(SheetQueue& queue, const RowTarget& target);
  // No row can be found for these sheets in the target: each is kept apart and reported.
  void KeepAll(SheetQueue& queue, const QString& workbookPath, const QString& reason);

 private:
  // False when the head stays queued after a passing failure.
  bool WriteFront(SheetQueue& queue, const RowTarget& target, SheetQueue::Clock::time_point now);
  void Journal(PendingSheet& sheet, const RowTarget& target);
  // The workbook has gone from its server: told once, then journal only.
  void Gone(const RowTarget& target, const EServerGone& gone);
  void KeepInJournal(SheetQueue& queue, const RowTarget& target);
  void Keep(const PendingSheet& sheet, const QString& workbookPath, int row, const QString& reason);

  Report report_;
  RowWritten rowWritten_;
  std::set<QString> journalFailureShown_;  // by journal file: one message until it works again
  // A message box runs a nested event loop, in which the row writer may tick:
  // the sheet being written stays this call's alone, written once.
  bool busy_ = false;
};

// "Sheet 7 (scanned at 10:42:13)": how messages name a scanned sheet.
QString DescribeSheet(qint64 number, const QDateTime& scannedAt);
