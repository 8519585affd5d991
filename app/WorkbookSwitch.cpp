#include "app/WorkbookSwitch.h"

#include "app/CellfeedMain.h"
#include "app/CrashJournal.h"
#include "app/JournalRecovery.h"
#include "app/ScoringLink.h"
#include "app/SpreadsheetChoice.h"
#include "uikit/UiServices.h"
#include "automation/ComObj.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

// What a journal holds that its workbook lacks: sheets, and the answer key
// laid out since the last save.
struct Missing {
  std::vector<JournalSheet> sheets;
  bool key = false;
  int Count() const { return static_cast<int>(sheets.size()) + (key ? 1 : 0); }
};

Missing MissingFrom(const OleVariant& workSheets, const JournalContents& journal) {
  return {SheetsMissingFrom(workSheets, journal.sheets), journal.key && !WorkbookHoldsKey(workSheets, *journal.key)};
}

// The sheets (and the key sheet) as kept apart, each a line of values.
std::vector<JournalSheet> KeptLines(const Missing& missing, const std::optional<JournalKey>& key) {
  std::vector<JournalSheet> lines = missing.sheets;
  if (missing.key && key) lines.push_back({0, 0, key->scannedAt, key->values});
  return lines;
}

// A spreadsheet instance of its own, only to read a workbook and let it go.
Missing MissingFromFile(const JournalContents& journal, const QString& settingsFile) {
  const OleVariant app = CreateOleObject(ServerForWorkbook(journal.workbookPath, settingsFile));
  const auto quit = [&app] { app.Call(QStringLiteral("Quit")); };
  try {
    app.Get(QStringLiteral("Workbooks")).Call(QStringLiteral("Open"), {journal.workbookPath, false});
    Missing missing = MissingFrom(app.Get(QStringLiteral("ActiveWorkBook")).Get(QStringLiteral("Sheets")), journal);
    quit();
    return missing;
  } catch (...) {
    quit();
    throw;
  }
}

}  // namespace

void WorkbookSwitch::Open(const QString& path) {
  try {
    OpenWorkbook(path, true, Offer::Ask);
  } catch (const EServerUnavailable& missing) {
    TellUnavailable(path, missing);
  }
}

void WorkbookSwitch::OpenWorkbook(const QString& path, bool startScanning, Offer offer) {
  // Beside the current workbook, which stays current if this fails.
  const QString progId = ServerForWorkbook(path, w_.SettingsFilePath());
  const OleVariant app = CreateOleObject(progId);
  app.Put(QStringLiteral("Visible"), true);
  app.Get(QStringLiteral("Workbooks")).Call(QStringLiteral("Open"), {path, false});
  const OleVariant sheets = app.Get(QStringLiteral("ActiveWorkBook")).Get(QStringLiteral("Sheets"));
  OleVariant previous = Adopt(app, progId, sheets, path);
  try {
    Remember(path);
    OfferJournal(offer);
    w_.Scoring.Adopt(w_.WorkSheets);  // a scored workbook goes on scoring
    if (startScanning) {
      try {
        w_.StartScanning1Click();
      } catch (const std::exception& error) {
        // Sheets that waited for the row search have no row in this workbook.
        if (!w_.RowKnown) w_.Delivery.KeepAll(w_.PendingSheets, path, QString::fromUtf8(error.what()));
        throw;
      }
    }
  } catch (...) {
    previous = OleVariant();
    throw;
  }
  previous = OleVariant();  // may ask about unsaved changes; rows go to the new workbook meanwhile
}

void WorkbookSwitch::New(const QString& chosenPath) {
  const QString path = WithWorkbookExtension(chosenPath);
  w_.StopScanning1Click();
  // The extension decides the server; the instance held serves only its own formats.
  const QString progId = ServerForWorkbook(path, w_.SettingsFilePath());
  OleVariant app = w_.ExcelAppProgId.compare(progId, Qt::CaseInsensitive) == 0 ? w_.ExcelApp : OleVariant();
  try {
    if (app.IsEmpty()) {
      app = CreateOleObject(progId);
      app.Put(QStringLiteral("Visible"), true);
      if (w_.ExcelApp.IsEmpty()) {
        w_.ExcelApp = app;
        w_.ExcelAppProgId = progId;
      }
    }
  } catch (const EServerUnavailable& missing) {
    TellUnavailable(path, missing);
    return;
  }
  const OleVariant workbook = app.Get(QStringLiteral("Workbooks")).Get(QStringLiteral("Add"));
  workbook.Call(QStringLiteral("SaveAs"), {path});
  OleVariant previous = Adopt(app, progId, app.Get(QStringLiteral("ActiveWorkBook")).Get(QStringLiteral("Sheets")), path);
  Remember(path);
  OfferJournal(Offer::Ask);  // left by an earlier workbook of that name
  previous = OleVariant();  // another server's instance, let go as an open lets it go
}

void WorkbookSwitch::TellUnavailable(const QString& path, const EServerUnavailable& missing) {
  // Not an error of the program's: the user is told what to install, and the current workbook stays.
  UiServices::ShowMessage(MessageKind::Information,
                          QStringLiteral("'%1' cannot be opened: %2").arg(Shown(path), missing.Message()));
}

OleVariant WorkbookSwitch::Adopt(OleVariant app, const QString& progId, OleVariant sheets, const QString& path) {
  WriteWaitingSheets();
  w_.ExcelAppProgId = progId;
  OleVariant previous = std::exchange(w_.ExcelApp, std::move(app));
  w_.WorkSheets = std::move(sheets);
  w_.CurrentFile = path;
  w_.WorkbookGone = false;
  w_.RowKnown = false;  // nothing is written here before the first empty row is found
  w_.Journal = std::make_unique<CrashJournal>(path);
  w_.Scoring.Forget();
  w_.ShowSheetLook({});
  return previous;
}

void WorkbookSwitch::WriteWaitingSheets() {
  if (w_.PendingSheets.Empty()) return;
  if (w_.RowKnown) {
    w_.Delivery.WriteAll(w_.PendingSheets, w_.CurrentTarget());
  } else {
    w_.Delivery.KeepAll(w_.PendingSheets, w_.CurrentFile, QStringLiteral("no empty row was found for it"));
  }
}

void WorkbookSwitch::Remember(const QString& path) {
  w_.AddRecentFile(path);
  w_.StoreRecentFiles();  // a crash must not lose it
}

void WorkbookSwitch::Saved() {
  if (w_.Journal) w_.Journal->Retire();
}

void WorkbookSwitch::OfferJournal(Offer offer) {
  const std::optional<JournalContents> journal = CrashJournal::Read(w_.Journal->FilePath());
  if (!journal) return;
  const Missing missing = MissingFrom(w_.WorkSheets, *journal);
  if (missing.Count() == 0) {
    w_.Journal->Retire();  // saved after all, by the spreadsheet's own question
    return;
  }
  if (offer == Offer::Ask && !Ask(w_.CurrentFile, missing.Count())) {
    const QString csv = KeepApart(w_.CurrentFile, KeptLines(missing, journal->key));
    w_.Journal->Retire();
    TellKept(w_.CurrentFile, missing.Count(), csv, {});
    return;
  }
  // Back in the workbook but not saved yet: the journal keeps them where they are now.
  const std::vector<JournalSheet> restored = RestoreSheets(w_.WorkSheets, missing.sheets);
  // The key is laid out again over every row, the rows put back among them.
  if (missing.key) {
    try {
      w_.Scoring.Apply(w_.WorkSheets, FromJournal(*journal->key));
    } catch (const std::exception& error) {
      // The rows are back whatever becomes of the scoring; the key stays in the journal.
      UiServices::ShowMessage(MessageKind::Error, QStringLiteral("The answer key cannot be laid out again: %1")
                                                      .arg(QString::fromUtf8(error.what())));
    }
  }
  w_.Journal->Replace(restored, journal->key);
}

bool WorkbookSwitch::Ask(const QString& workbookPath, int count) {
  const QString text =
      QStringLiteral("%1 scanned for '%2' %3 never saved into the workbook.  Put %4 back now, at the first empty rows?")
          .arg(CountOfSheets(count), Shown(workbookPath), count == 1 ? QStringLiteral("was") : QStringLiteral("were"),
               count == 1 ? QStringLiteral("it") : QStringLiteral("them"));
  return UiServices::AskQuestion(text, {Answer::Yes, Answer::No}) == Answer::Yes;
}

QString WorkbookSwitch::KeepApart(const QString& workbookPath, const std::vector<JournalSheet>& sheets) {
  const QString csv = KeptSheetsPath(
      workbookPath, QStringLiteral("not restored %1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"))));
  AppendSheetsCsv(csv, sheets);
  return csv;
}

void WorkbookSwitch::TellKept(const QString& workbookPath, int count, const QString& csv, const QString& why) {
  UiServices::ShowMessage(MessageKind::Information, why + QStringLiteral("The %1 scanned for '%2' %3 kept in '%4'.")
                                                              .arg(CountOfSheets(count), Shown(workbookPath),
                                                                   count == 1 ? QStringLiteral("is") : QStringLiteral("are"),
                                                                   Shown(csv)));
}

void WorkbookSwitch::OfferJournalsAtStart() {
  for (const QString& file : CrashJournal::AllJournals()) {
    const std::optional<JournalContents> journal = CrashJournal::Read(file);
    if (!journal) continue;  // not one of ours: left alone
    Missing missing;
    if (QFileInfo::exists(journal->workbookPath)) {
      try {
        missing = MissingFromFile(*journal, w_.SettingsFilePath());
      } catch (const std::exception& error) {
        // Perhaps on a drive that is not there now: kept for the next time.
        UiServices::ShowMessage(MessageKind::Error,
                                QStringLiteral("%1 scanned for '%2' cannot be checked: %3  They stay in the crash journal.")
                                    .arg(CountOfSheets(static_cast<int>(journal->sheets.size())),
                                         Shown(journal->workbookPath), QString::fromUtf8(error.what())));
        continue;
      }
    } else {
      const Missing all{journal->sheets, journal->key.has_value()};
      const QString csv = all.Count() == 0 ? QString() : KeepApart(journal->workbookPath, KeptLines(all, journal->key));
      QFile::remove(file);
      if (!csv.isEmpty()) {
        TellKept(journal->workbookPath, all.Count(), csv,
                 QStringLiteral("The workbook '%1' is gone.  ").arg(Shown(journal->workbookPath)));
      }
      continue;
    }
    if (missing.Count() == 0) {
      QFile::remove(file);
      continue;
    }
    if (Ask(journal->workbookPath, missing.Count())) {
      OpenWorkbook(journal->workbookPath, false, Offer::Restore);
    } else {
      const QString csv = KeepApart(journal->workbookPath, KeptLines(missing, journal->key));
      QFile::remove(file);  // kept in the file now: never asked about again
      TellKept(journal->workbookPath, missing.Count(), csv, {});
    }
  }
}
