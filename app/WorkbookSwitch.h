#pragma once
// How the main window changes the workbook that scanned sheets go into, and
// how sheets kept in a crash journal come back.
//
// The workbook in use stays current until the new one has opened: a file that
// cannot be opened leaves everything as it was and scanning goes on into it.
// Sheets still waiting for the row writer go into the workbook they were
// scanned for before the switch; nothing is written into the new workbook
// before its first empty row has been found. The previous spreadsheet
// instance is let go last, so its question about unsaved changes (a nested
// event loop in which the row writer keeps running) finds every row a place.

#include "automation/OleVariant.h"

#include <QString>

class TfrmMain;

class WorkbookSwitch {
 public:
  explicit WorkbookSwitch(TfrmMain& window) : w_(window) {}

  // File Open or a Recent item: opens the workbook in a new spreadsheet
  // instance, offers back what its journal holds and starts scanning.
  void Open(const QString& path);
  // File New: a new workbook in the instance held (or in a new one when the
  // name's extension needs another server), stored under path; a name without
  // an extension gets ".xls".
  void New(const QString& chosenPath);
  // At start-up: every journal holding sheets that are not in its workbook
  // brings one question; Yes opens that workbook with the sheets put back.
  void OfferJournalsAtStart();
  // File Save succeeded: the current workbook's journal is no longer needed.
  void Saved();
  // Writes every waiting sheet into the current workbook now.
  void WriteWaitingSheets();

 private:
  enum class Offer { Ask, Restore };
  void OpenWorkbook(const QString& path, bool startScanning, Offer offer);
  // Makes the workbook behind sheets current; returns the instance held before.
  OleVariant Adopt(OleVariant app, const QString& progId, OleVariant sheets, const QString& path);
  // The server for path cannot be had here: one information box, nothing changes.
  void TellUnavailable(const QString& path, const EServerUnavailable& missing);
  void Remember(const QString& path);
  // The current workbook's journal against the workbook: what is missing is
  // offered back (or, with Restore, put back without asking).
  void OfferJournal(Offer offer);
  // Keeps the sheets in a file of their own; returns its name.
  QString KeepApart(const QString& workbookPath, const std::vector<struct JournalSheet>& sheets);
  // Tells the user where they are, after `why`.
  void TellKept(const QString& workbookPath, int count, const QString& csv, const QString& why);
  bool Ask(const QString& workbookPath, int count);

  TfrmMain& w_;
};
