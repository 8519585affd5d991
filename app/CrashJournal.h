#pragma once
// The crash journal: every row the row writer puts into a workbook is also
// appended to a file of that workbook's own in the per-user state folder and
// flushed to the disk before the next sheet is handled. The workbook lives in
// this process's memory until it is saved; after a crash its journal still
// holds every sheet since the last save. A successful save retires it.
//
// One line per entry (a sheet, or an answer key), UTF-8, fields separated by
// tabs, tabs and line ends inside values escaped. A reader that knows no
// answer keys passes over their lines as it passes over a damaged one. A line is taken only when it is whole, so a write
// cut short by a crash leaves the entries before it readable. The file holds
// the workbook's path and the sheets' values, nothing else: no password or
// key of a workbook ever goes into it.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <vector>

class JournalError : public std::runtime_error {
 public:
  explicit JournalError(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

// One scanned sheet as the journal keeps it.
struct JournalSheet {
  qint64 number = 0;    // the sheet's number in the run that scanned it
  int row = 0;          // the workbook row it was written into
  QDateTime scannedAt;  // when its record arrived
  QStringList values;   // column 1 first, as decoded (no padding)
  bool operator==(const JournalSheet&) const = default;
};

// The answer key laid out in the workbook, kept like a row so that a crash
// loses it no more than the sheets scored with it.
struct JournalKey {
  QDateTime scannedAt;
  int idFrom = 0;  // the student ID columns, 0 for none
  int idTo = 0;
  bool multiple = true;  // the bubble mode the key sheet was read in
  QStringList values;    // column 1 first, as decoded
  bool operator==(const JournalKey&) const = default;
};

struct JournalContents {
  QString workbookPath;
  std::vector<JournalSheet> sheets;  // in the order they were written
  std::optional<JournalKey> key;     // the last key laid out since the last save
};

class CrashJournal {
 public:
  // $XDG_STATE_HOME/CellfeedWizard, or ~/.local/state/CellfeedWizard.
  static QString Folder();
  // The journal file of a workbook: its file name and a digest of its full
  // path, so two workbooks of the same name in different folders never share one.
  static QString PathFor(const QString& workbookPath);
  // Every journal file in the folder, oldest first.
  static QStringList AllJournals();
  // Reads a journal; nullopt when the file is missing or is not a journal.
  static std::optional<JournalContents> Read(const QString& journalPath);

  // The file is made by the first Append, not before.
  explicit CrashJournal(const QString& workbookPath);
  ~CrashJournal();
  CrashJournal(const CrashJournal&) = delete;
  CrashJournal& operator=(const CrashJournal&) = delete;

  const QString& WorkbookPath() const { return workbookPath_; }
  const QString& FilePath() const { return filePath_; }

  // Appends the sheet and waits until it is on the disk (fdatasync).
  // Throws JournalError.
  void Append(const JournalSheet& sheet);
  void Append(const JournalKey& key);
  // Replaces the whole journal with these sheets (and key), atomically. Throws JournalError.
  void Replace(const std::vector<JournalSheet>& sheets, const std::optional<JournalKey>& key = std::nullopt);
  // The workbook was saved: the journal is no longer needed. Throws JournalError
  // when the file exists and cannot be removed.
  void Retire();

  // How long each Append took, write and flush, in milliseconds.
  const std::vector<double>& AppendTimesMs() const { return appendTimesMs_; }

 private:
  void OpenForAppend();
  void AppendLine(const QByteArray& line);
  void Close();

  QString workbookPath_;
  QString filePath_;
  int fd_ = -1;
  std::vector<double> appendTimesMs_;
};

// Sheets as comma-separated values, one line per sheet, column 1 first, so
// they can be read back into a workbook by hand. Appends to the file (made
// when missing) and flushes it to the disk. Throws JournalError.
void AppendSheetsCsv(const QString& csvPath, const std::vector<JournalSheet>& sheets);
// A file name in the journal folder for sheets of this workbook that are kept
// apart: "<workbook name> <what>.csv", e.g. "class-7a.xls unwritten sheets.csv".
QString KeptSheetsPath(const QString& workbookPath, const QString& what);
